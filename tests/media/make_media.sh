#!/usr/bin/env bash
# Generates the small sample files the tests use. Usage: make_media.sh OUTDIR
# Idempotent: a file already there is kept, so reruns cost nothing.
set -euo pipefail
out=${1:?usage: make_media.sh OUTDIR}
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# make NAME ARGS...: runs ffmpeg into a temporary name, renamed when complete.
make() {
  local name=$1
  shift
  [ -s "$name" ] && return 0
  local tmp=".tmp.${name}"
  ff "$@" -f "$(fmt_of "$name")" "$tmp"
  mv -f "$tmp" "$name"
}
fmt_of() {
  case "$1" in
  *.mp4 | *.m4a) echo mp4 ;;
  *.avi) echo avi ;;
  *.mkv | *.mka) echo matroska ;;
  *.wav) echo wav ;;
  *.mp3) echo mp3 ;;
  *.flac) echo flac ;;
  *.ac3) echo ac3 ;;
  *.mpg) echo mpeg ;;
  *.srt) echo srt ;;
  *) echo "unknown extension: $1" >&2; exit 1 ;;
  esac
}

v() { echo "-f lavfi -i testsrc2=size=$1:rate=$2:duration=$3"; }
a() { echo "-f lavfi -i sine=frequency=${4:-440}:sample_rate=$1:duration=$3 -ac $2"; }

# H.264/AAC MP4, 640x360, 25 fps, 3 s
make h264_aac_640x360.mp4 $(v 640x360 25 3) -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" \
  -ac 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25 -c:a aac -b:a 128k -shortest
# MPEG-4/MP3 AVI, 320x240, 29.97 fps, 3 s
make mpeg4_mp3_320x240.avi -f lavfi -i "testsrc2=size=320x240:rate=30000/1001:duration=3" \
  -f lavfi -i "sine=frequency=660:sample_rate=44100:duration=3" -ac 2 \
  -c:v mpeg4 -q:v 5 -c:a libmp3lame -b:a 128k -shortest
# subtitle text for the MKV
if [ ! -s subs.srt ]; then
  printf '1\n00:00:00,500 --> 00:00:01,500\nHello\n\n2\n00:00:02,000 --> 00:00:02,800\nWorld\n' >subs.srt
fi
# MKV: video, two audio streams (the second starts later, so it needs a longer probe), a subtitle
make two_audio_sub.mkv $(v 320x240 25 3) \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" \
  -itsoffset 1 -f lavfi -i "sine=frequency=880:sample_rate=44100:duration=2" \
  -i subs.srt -map 0:v -map 1:a -map 2:a -map 3:s \
  -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a:0 aac -c:a:1 libmp3lame -c:s srt \
  -metadata:s:a:0 language=chi -metadata:s:a:1 language=eng -metadata title="Two audio"
# audio only
make audio.wav -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" -ac 2 -c:a pcm_s16le
make audio.mp3 -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" -ac 2 -c:a libmp3lame -b:a 128k \
  -metadata title="Sine" -metadata artist="Test"
make audio.flac -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" -ac 2 -c:a flac
make mono_8k.wav -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=3" -ac 1 -c:a pcm_s16le
make surround_51.ac3 -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=3" \
  -af "pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0" -c:a ac3 -b:a 384k
# odd picture size
# (testsrc2 rounds sizes to even numbers; testsrc keeps them)
make odd_321x241.avi -f lavfi -i "testsrc=size=321x241:rate=25:duration=2" -c:v mpeg4 -q:v 5
# no aspect information at all
make noaspect_640x360.mp4 $(v 640x360 25 2) -vf setsar=0 -c:v libx264 -preset ultrafast -pix_fmt yuv420p
# Chinese characters and spaces in the name
make "中文 名称 测试.mp4" $(v 320x240 25 2) -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" \
  -ac 2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac -shortest

# 25 fps with frames 10 to 12 missing; the timestamps keep the gap
make gap_160x120.mkv $(v 160x120 25 1) -vf "select='not(between(n\,10\,12))'" -fps_mode passthrough \
  -c:v mpeg4 -q:v 5
# sound that starts 0.5 s after the picture
make late_audio.mkv $(v 160x120 25 2) -itsoffset 0.5 $(a 44100 1 1.5) -c:v mpeg4 -q:v 5 -c:a pcm_s16le
# a loud sine (amplitude 0.75) as signed 16-bit and as float samples
make loud_s16.wav -f lavfi -i "aevalsrc=0.75*sin(2*PI*440*t):s=44100:d=0.5" -c:a pcm_s16le
make loud_f32.wav -f lavfi -i "aevalsrc=0.75*sin(2*PI*440*t):s=44100:d=0.5" -c:a pcm_f32le
# pictures that shrink from 320x240 to 160x120 after 1 s, in one stream
if [ ! -s size_change.mkv ]; then
  ff -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -c:v mpeg4 -q:v 5 -f m4v .tmp.big.m4v
  ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -c:v mpeg4 -q:v 5 -f m4v .tmp.small.m4v
  printf "file '%s'\nfile '%s'\n" "$PWD/.tmp.big.m4v" "$PWD/.tmp.small.m4v" >.tmp.list.txt
  ff -f concat -safe 0 -i .tmp.list.txt -c copy -f matroska .tmp.size_change.mkv
  rm -f .tmp.big.m4v .tmp.small.m4v .tmp.list.txt
  mv -f .tmp.size_change.mkv size_change.mkv
fi

# bad inputs
[ -e empty.mp4 ] || : >empty.mp4
[ -s text.mp4 ] || printf 'This is a text file, not a video.\n' >text.mp4
if [ ! -s truncated.mp4 ]; then
  size=$(stat -c %s h264_aac_640x360.mp4)
  head -c $((size / 3)) h264_aac_640x360.mp4 >.tmp.truncated.mp4
  mv -f .tmp.truncated.mp4 truncated.mp4
fi
if [ ! -s random.avi ]; then
  # fixed bytes, so failures are repeatable
  python3 -c 'import random,sys; r=random.Random(7); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range(65536)))' >random.avi
fi
# the input of the profile tests: short and small, 25 fps, 48 kHz stereo
make profile_160x120.mp4 $(v 160x120 25 2) $(a 48000 2 2) -c:v libx264 -preset ultrafast -pix_fmt yuv420p \
  -g 25 -c:a aac -b:a 128k -shortest
touch .complete
