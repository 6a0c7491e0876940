#!/usr/bin/env bash
# Builds the probe bench against the normal build, makes 200 sample files (once) and compares
# examining them with the ffprobe tool. Usage: bench/probe_bench.sh [FILES...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LC_BUILD:-$root/build}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target probe

media=$build/bench-media/probe
mkdir -p "$media"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
# make N: the Nth sample; containers, codecs, sizes and lengths vary with N.
make() {
  local n=$1 d=$((1 + $1 % 3)) name
  local v="-f lavfi -i testsrc2=size=$((160 + 16 * ($1 % 5)))x$((120 + 16 * ($1 % 4))):rate=25:duration=$d"
  local a="-f lavfi -i sine=frequency=$((200 + $1)):sample_rate=44100:duration=$d"
  case $((n % 8)) in
  0) name=s$n.mp4; ff $v $a -c:v libx264 -preset ultrafast -c:a aac -shortest "$media/.tmp.$name" ;;
  1) name=s$n.avi; ff $v $a -c:v mpeg4 -c:a libmp3lame -shortest -f avi "$media/.tmp.$name" ;;
  2) name=s$n.mkv; ff $v $a -c:v libx264 -preset ultrafast -c:a libvorbis -shortest -f matroska "$media/.tmp.$name" ;;
  3) name=s$n.ts; ff $v $a -c:v mpeg2video -c:a mp2 -shortest -f mpegts "$media/.tmp.$name" ;;
  4) name=s$n.mp3; ff $a -c:a libmp3lame -metadata title="Track $n" -f mp3 "$media/.tmp.$name" ;;
  5) name=s$n.flv; ff $v $a -c:v flv -c:a mp3 -ar 44100 -shortest -f flv "$media/.tmp.$name" ;;
  6) name=s$n.wav; ff $a -c:a pcm_s16le -f wav "$media/.tmp.$name" ;;
  7) name=s$n.mpg; ff $v $a -c:v mpeg1video -c:a mp2 -shortest -f mpeg "$media/.tmp.$name" ;;
  esac
  mv -f "$media/.tmp.$name" "$media/$name"
}
if [ $# -eq 0 ]; then
  count=$(find "$media" -maxdepth 1 -name 's*' | wc -l)
  if [ "$count" -lt 200 ]; then
    echo "making 200 sample files in $media"
    rm -f "$media"/s* "$media"/.tmp.*
    for n in $(seq 0 199); do make "$n"; done
  fi
  set -- "$media"/s*
fi

mkdir -p "$build/bench"
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -o "$build/bench/probe_bench" "$root/bench/probe_bench.cpp" \
  -I"$root/probe" -I"$root/engine" $(pkg-config --cflags libavformat Qt6Gui) -fPIC \
  "$build/probe/libprobe.a" "$build/engine/libengine.a" \
  $(pkg-config --libs libavformat libavcodec libavutil libswscale libswresample libavfilter \
    libavdevice Qt6Gui opencore-amrnb) -ldl -lpthread
"$build/bench/probe_bench" "$@"
