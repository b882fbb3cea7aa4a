#!/usr/bin/env bash
# The display bench: makes a 10-minute 16-bit stereo Temp.wav-like file with sox and runs
# bench_display on it; prints the overview pass against a plain sequential read of the same
# file (same run), each detail refresh and one frame of each view kind.
#
# Usage: bench/display.sh [BUILD_DIR]   (default: build, or $TESSIVO_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_display >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/Temp.wav"
sox -n -r 44100 -b 16 -c 2 "$file" synth 600 pinknoise tremolo 2 80 vol 0.5 2>/dev/null

out=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_display" "$file" 5)
echo "$out"
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
awk -v ov="$(get overview_ms)" -v rd="$(get plain_read_ms)" 'BEGIN {
  printf "overview pass / plain read: %.2f  (target <= 2)\n", ov / rd
}'
echo "$out" | awk '/^detail_/ { printf "%-28s %8.3f ms (target < 10 ms)\n", $1, $2 }
                   /^frame_/  { printf "%-28s %8.3f ms (target < 2 ms)\n", $1, $2 }'
