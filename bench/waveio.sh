#!/usr/bin/env bash
# The wave I/O bench: makes a 10-minute 16-bit stereo file with sox, then runs bench_waveio
# on it, which times the editor's two read patterns against `cat FILE > /dev/null` and a
# plain read() loop in the same run, and prints the ratios.
#
# Usage: bench/waveio.sh [BUILD_DIR]   (default: build, or $TESSIVO_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_waveio >/dev/null 2>&1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file="$work/ten-minutes.wav"
sox -n -r 44100 -b 16 -c 2 "$file" synth 600 pinknoise vol 0.3 2>/dev/null

out=$("$build/bin/bench_waveio" "$file" 9)
echo "$out"
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
awk -v seq="$(get sequential_warm_ms)" -v cat="$(get cat_warm_ms)" -v loop="$(get read_loop_warm_ms)" \
    -v seqcpu="$(get sequential_warm_cpu_ms)" -v catcpu="$(get cat_warm_cpu_ms)" \
    -v seqc="$(get sequential_cold_ms)" -v catc="$(get cat_cold_ms)" \
    -v sw="$(get sparse537_warm_ms)" -v sc="$(get sparse537_cold_ms)" 'BEGIN {
  printf "sequential / cat (warm):       %.2f  (target <= 1.5)\n", seq / cat
  printf "sequential / cat (warm, cpu):  %.2f\n", seqcpu / catcpu
  printf "sequential / read loop (warm): %.2f\n", seq / loop
  printf "sequential / cat (cold):       %.2f\n", seqc / catc
  printf "537 sparse reads warm:         %.3f ms (target < 5 ms)\n", sw
  printf "537 sparse reads cold:         %.3f ms\n", sc
}'
