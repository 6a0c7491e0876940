#!/usr/bin/env bash
# Builds the remux bench against the normal build, makes a 60 s sample (once) and times a
# stream-copy remux of it with the transcoder and with the ffmpeg tool.
# Usage: bench/remux_bench.sh [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LC_BUILD:-$root/build}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target engine

media=$build/bench-media/remux
mkdir -p "$media"
src=$media/src_60s.mp4
if [ ! -s "$src" ]; then
  echo "making a 60 s sample in $media"
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i testsrc2=size=1280x720:rate=25:duration=60 \
    -f lavfi -i sine=frequency=440:sample_rate=48000:duration=60 -ac 2 \
    -c:v libx264 -preset veryfast -b:v 12M -pix_fmt yuv420p -g 50 -c:a aac -b:a 128k -shortest \
    -f mp4 "$media/.tmp.src_60s.mp4"
  mv -f "$media/.tmp.src_60s.mp4" "$src"
fi

mkdir -p "$build/bench"
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -o "$build/bench/remux_bench" "$root/bench/remux_bench.cpp" \
  -I"$root/engine" $(pkg-config --cflags libavformat Qt6Gui) -fPIC \
  "$build/engine/libengine.a" \
  $(pkg-config --libs libavformat libavcodec libavutil libswscale libswresample libavfilter \
    libavdevice Qt6Gui opencore-amrnb) -ldl -lpthread
"$build/bench/remux_bench" "$src" mkv "${1:-5}"
"$build/bench/remux_bench" "$src" mov "${1:-5}"
