#!/usr/bin/env bash
# Generates the bad-input corpus: broken, absurd and oddly named media files that every part of
# the program must survive. Usage: make_corpus.sh OUTDIR
# Idempotent: a run that completed leaves .complete with this script's checksum, and a rerun
# of the same script then costs nothing.
set -euo pipefail
out=${1:?usage: make_corpus.sh OUTDIR}
stamp=$(cksum <"$0")
[ "$(cat "$out/.complete" 2>/dev/null)" = "$stamp" ] && exit 0
rm -rf "$out"
mkdir -p "$out/good"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
src_v="-f lavfi -i testsrc2=size=160x120:rate=25:duration=1"
src_a="-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1"

# Sound files of the containers the catalog writes, whole (in good/) and cut: half of the file,
# and only its first 200 bytes (the header, at most).
# audio CONTAINER EXT CODEC_ARGS...
audio() {
  local fmt=$1 ext=$2
  shift 2
  ff $src_a "$@" -f "$fmt" "good/a.$ext"
}
# video CONTAINER EXT CODEC_ARGS...
video() {
  local fmt=$1 ext=$2
  shift 2
  ff $src_v $src_a "$@" -shortest -f "$fmt" "good/v.$ext"
}
video mp4 mp4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac
video 3gp 3gp -c:v h263 -s 176x144 -c:a aac -ar 8000 -ac 1
video avi avi -c:v mpeg4 -q:v 5 -c:a libmp3lame
video flv flv -c:v flv -c:a libmp3lame
video matroska mkv -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a aac
video asf wmv -c:v wmv2 -c:a wmav2
video asf asf -c:v mpeg4 -c:a wmav2
video mpeg mpg -c:v mpeg1video -c:a mp2
video vob vob -c:v mpeg2video -c:a ac3
video mov mov -c:v mpeg4 -c:a aac
video swf swf -c:v flv -c:a libmp3lame -ar 22050
video rm rm -c:v rv10 -s 176x144 -c:a real_144 -ar 8000 -ac 1
audio mp3 mp3 -c:a libmp3lame
audio wav wav -c:a pcm_s16le
audio adts aac -c:a aac
audio ac3 ac3 -c:a ac3
audio aiff aiff -c:a pcm_s16be
audio flac flac -c:a flac
audio ogg ogg -c:a libvorbis
audio ipod m4a -c:a aac
audio mp2 mp2 -c:a mp2
audio asf wma -c:a wmav2
for f in good/*; do
  name=${f#good/}
  size=$(stat -c %s "$f")
  head -c $((size / 2)) "$f" >"cut_half_${name//./_}.${name##*.}"
  head -c 200 "$f" >"cut_head_${name//./_}.${name##*.}"
done
# An AMR file is only its magic and frames; no encoder here writes one.
printf '#!AMR\n\x3c\x48\xf5\x1f' >cut_head_a_amr.amr

# Nothing, one byte, and fixed random bytes (repeatable) under media names.
: >zero_bytes.mp4
printf '\0' >one_byte.mkv
printf 'R' >one_byte.mp3
python3 - <<'EOF'
import random
for seed, name, size in [(1, "random.mp4", 65536), (2, "random.mkv", 4096), (3, "random.flv", 70000),
                         (4, "random.mp3", 32768), (5, "random.wav", 1000), (6, "random.mpg", 100000)]:
    r = random.Random(seed)
    open(name, "wb").write(bytes(r.getrandbits(8) for _ in range(size)))
# A valid container signature followed by garbage.
r = random.Random(9)
open("riff_garbage.avi", "wb").write(b"RIFF\xff\xff\xff\x7fAVI LIST" + bytes(r.getrandbits(8) for _ in range(20000)))
open("ftyp_garbage.mp4", "wb").write(b"\0\0\0\x18ftypisom\0\0\2\0isomiso2" + bytes(r.getrandbits(8) for _ in range(20000)))
EOF

# Absurd headers, made by patching small valid files where no muxer would write them.
ff $src_a -t 0.5 -c:a pcm_s16le -f wav .tmp.wav
ff -f lavfi -i testsrc2=size=32x24:rate=5:duration=1 -c:v rawvideo -pix_fmt yuv420p -f avi .tmp_raw.avi
ff $src_v -t 0.4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -f mp4 .tmp.mp4
python3 - <<'EOF'
import struct
def patched(src, dst, edits):
    data = bytearray(open(src, "rb").read())
    for find, offset, fmt, value in edits:
        at = data.find(find) if find else 0
        assert at >= 0, (src, find)
        struct.pack_into(fmt, data, at + offset, value)
    open(dst, "wb").write(data)
# WAV: channels at 22, rate at 24, byte rate at 28, block align at 32.
patched(".tmp.wav", "wav_0hz.wav", [(None, 24, "<I", 0), (None, 28, "<I", 0)])
patched(".tmp.wav", "wav_255ch.wav", [(None, 22, "<H", 255), (None, 32, "<H", 510),
                                      (None, 28, "<I", 22050 * 510)])
patched(".tmp.wav", "wav_4ghz.wav", [(None, 24, "<I", 0xFFFFFFFF)])
patched(".tmp.wav", "wav_0ch.wav", [(None, 22, "<H", 0)])
# AVI with raw pictures: the main header's size at avih+40, the picture header's at strf+12.
def avi_size(dst, w, h):
    patched(".tmp_raw.avi", dst, [(b"avih", 40, "<I", w), (b"avih", 44, "<I", h),
                                  (b"strf", 12, "<i", w), (b"strf", 16, "<i", h)])
avi_size("avi_huge_65535x65535.avi", 65535, 65535)
avi_size("avi_0x0.avi", 0, 0)
patched(".tmp_raw.avi", "avi_negative.avi", [(b"strf", 12, "<i", -32), (b"strf", 16, "<i", -2147483647)])
# MP4: the sample entry's size, 28 bytes after "avc1"; the track header's at the end of tkhd.
patched(".tmp.mp4", "mp4_0x0.mp4", [(b"avc1", 28, ">H", 0), (b"avc1", 30, ">H", 0)])
patched(".tmp.mp4", "mp4_huge.mp4", [(b"avc1", 28, ">H", 65535), (b"avc1", 30, ">H", 65535)])
# The time scale of the media header: no time at all.
patched(".tmp.mp4", "mp4_timescale0.mp4", [(b"mdhd", 16, ">I", 0)])
EOF
rm -f .tmp.wav .tmp_raw.avi .tmp.mp4

# Many streams: as many as the demuxer allows by default, far more than a task's tables.
maps=()
for i in $(seq 1 1000); do maps+=(-map 0:a); done
ff -f lavfi -i anullsrc=r=8000:cl=mono -t 0.05 "${maps[@]}" -c:a pcm_s16le -f matroska many_streams.mkv
maps=()
for i in $(seq 1 120); do maps+=(-map 0:a); done
ff -f lavfi -i anullsrc=r=8000:cl=mono -f lavfi -i testsrc2=size=64x48:rate=10 -t 0.2 \
  -map 1:v "${maps[@]}" -c:a pcm_s16le -c:v mpeg4 -f matroska streams_121.mkv

# A one-megabyte tag value, through a metadata file (too long for a command line).
python3 -c 'import sys; sys.stdout.write(";FFMETADATA1\ntitle=" + "x" * (1 << 20) + "\n")' >.tmp.meta
ff $src_v -i .tmp.meta -map 0:v -map_metadata 1 -t 0.4 -c:v mpeg4 -f matroska meta_1mb.mkv
ff $src_a -i .tmp.meta -map 0:a -map_metadata 1 -t 0.4 -c:a libmp3lame -f mp3 meta_1mb.mp3
rm -f .tmp.meta

# A picture size that changes every second, in one stream.
parts=()
for size in 160x120 320x240 96x72; do
  ff -f lavfi -i testsrc2=size=$size:rate=25:duration=1 -c:v mpeg4 -q:v 5 -f m4v ".tmp.$size.m4v"
  parts+=(".tmp.$size.m4v")
done
cat "${parts[@]}" >size_every_second.m4v
printf "file '%s'\n" "${parts[@]/#/$PWD/}" >.tmp.list
ff -f concat -safe 0 -i .tmp.list -c copy -f matroska size_every_second.mkv
rm -f .tmp.*.m4v .tmp.list

# A sample rate that changes in one stream: MP3 and ADTS frames of different rates, end to end.
for rate in 44100 22050 8000; do
  ff -f lavfi -i sine=frequency=440:sample_rate=$rate:duration=1 -c:a libmp3lame -f mp3 ".tmp.$rate.mp3"
  ff -f lavfi -i sine=frequency=440:sample_rate=$rate:duration=1 -c:a aac -f adts ".tmp.$rate.aac"
done
cat .tmp.44100.mp3 .tmp.22050.mp3 .tmp.8000.mp3 >rate_changes.mp3
cat .tmp.44100.aac .tmp.8000.aac .tmp.22050.aac >rate_changes.aac
rm -f .tmp.*.mp3 .tmp.*.aac

# Timestamps that jump backwards: transport streams put end to end, the later one starting at 0.
ff $src_v $src_a -shortest -c:v mpeg2video -c:a mp2 -output_ts_offset 20 -f mpegts .tmp.late.ts
ff $src_v $src_a -shortest -c:v mpeg2video -c:a mp2 -f mpegts .tmp.early.ts
cat .tmp.late.ts .tmp.early.ts .tmp.late.ts >ts_backwards.ts
cat .tmp.late.ts .tmp.early.ts >ts_backwards.mpg
rm -f .tmp.late.ts .tmp.early.ts
# The same in FLV, whose tags carry their own times.
ff $src_v -t 0.6 -c:v flv -output_ts_offset 5 -f flv .tmp.late.flv
ff $src_v -t 0.6 -c:v flv -f flv .tmp.early.flv
{ cat .tmp.late.flv; tail -c +14 .tmp.early.flv; } >flv_backwards.flv
rm -f .tmp.late.flv .tmp.early.flv

# Names: a newline, both quotes, invalid UTF-8 bytes, and the longest name a file may have.
cp good/v.mp4 $'new\nline.mp4'
cp good/v.avi "quotes 'single' \"double\".avi"
cp good/a.mp3 $'bad_utf8_\xff\xfe\xc3(.mp3'
cp good/v.mkv "$(printf 'n%.0s' $(seq 1 251)).mkv"
cp cut_half_v_mp4.mp4 $'cut \xe9\n"\x27.mp4'

echo "$stamp" >.complete
