#!/usr/bin/env bash
# Builds the re-encode bench against the normal build, makes its samples (once) and times full
# re-encodes with the transcoder and with the ffmpeg tool: MPEG-4 640x480 768 kbit/s + AAC and
# libx264 1280x720 1500 kbit/s + AAC, one thread each. With --memory it also compares the
# peak memory of both on a 1-minute and a 10-minute input.
# Usage: bench/reencode_bench.sh [RUNS] [--memory]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LC_BUILD:-$root/build}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target engine

media=$build/bench-media/reencode
mkdir -p "$media"
# sample NAME SIZE SECONDS: H.264 + AAC 48 kHz stereo, 25 fps.
sample() {
  local out=$media/$1
  [ -s "$out" ] && return 0
  echo "making $1 in $media"
  ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=$2:rate=25:duration=$3" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$3" -ac 2 \
    -c:v libx264 -preset veryfast -b:v 3M -pix_fmt yuv420p -g 50 -c:a aac -b:a 128k -shortest \
    -f mp4 "$media/.tmp.$1"
  mv -f "$media/.tmp.$1" "$out"
}
sample src_720p_20s.mp4 1280x720 20

mkdir -p "$build/bench"
# shellcheck disable=SC2046
g++ -std=c++20 -O2 -o "$build/bench/reencode_bench" "$root/bench/reencode_bench.cpp" \
  -I"$root/engine" $(pkg-config --cflags libavformat Qt6Gui) -fPIC \
  "$build/engine/libengine.a" \
  $(pkg-config --libs libavformat libavcodec libavutil libswscale libswresample libavfilter \
    libavdevice Qt6Gui opencore-amrnb) -ldl -lpthread
runs=${1:-3}
"$build/bench/reencode_bench" "$media/src_720p_20s.mp4" mpeg4 "$runs"
"$build/bench/reencode_bench" "$media/src_720p_20s.mp4" x264 "$runs"
if [ "${2:-}" = --memory ]; then
  sample src_360p_60s.mp4 640x360 60
  sample src_360p_600s.mp4 640x360 600
  "$build/bench/reencode_bench" --memory "$media/src_360p_60s.mp4" "$media/src_360p_600s.mp4"
fi
