#!/usr/bin/env bash
# Builds the batch bench against the normal build, makes eight 10 s samples (once) and converts
# them with one profile through the task list at thread counts 1 and 2, and with the ffmpeg tool
# one after another and two at a time.
# Usage: bench/batch_bench.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${LC_BUILD:-$root/build}
[ -f "$build/build.ninja" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target batch_bench

media=$build/bench-media/batch
mkdir -p "$media"
inputs=()
for i in 1 2 3 4 5 6 7 8; do
  f=$media/sample_$i.mp4
  if [ ! -s "$f" ]; then
    ffmpeg -nostdin -hide_banner -loglevel error -y \
      -f lavfi -i "testsrc2=size=640x360:rate=25:duration=10" \
      -f lavfi -i "sine=frequency=$((220 * i)):sample_rate=44100:duration=10" -ac 2 \
      -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -c:a aac -b:a 128k -shortest \
      -f mp4 "$media/.tmp.sample.mp4"
    mv -f "$media/.tmp.sample.mp4" "$f"
  fi
  inputs+=("$f")
done
out=$build/bench-out/batch
rm -rf "$out"
mkdir -p "$out"
"$build/bench/batch_bench" "$out" "${inputs[@]}"
