#!/usr/bin/env bash
# The keys bench: a 10-minute 16-bit stereo wave made with sox, loaded in the window; the time
# from a nudge key (Right: 10 ms, Ctrl+Right: 100 ms) to the views redrawn, at every zoom from
# 1 frame per column to the full view, against a left click that moves the start (the mouse's
# way, same run) and the 16 ms of one frame at 60 Hz.
#
# Usage: bench/keys.sh [BUILD_DIR] [PRESSES]   (default: build, or $TESSIVO_BUILD_DIR; 60 presses)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
presses=${2:-60}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_keys mmmpeg32 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -b 16 -c 2 "$work/song.wav" synth 600 pinknoise tremolo 2 80 vol 0.5 2>/dev/null
out=$(cd "$build/bin" && ./bench_keys "$work/song.wav" "$presses")
echo "$out"
echo "$out" | awk '
  function key(name, p) { split(name, p, "_"); return p[2] " zoom " p[4] }
  $1 ~ /_median_ms$/ && $1 ~ /^nudge_/ { k = key($1); med[k] = $2; order[++n] = k }
  $1 ~ /_p95_ms$/ && $1 ~ /^nudge_.*zoom/ { p95[key($1)] = $2 }
  $1 ~ /_max_ms$/ && $1 ~ /^nudge_/ && $1 !~ /cpu/ { max[key($1)] = $2 }
  $1 ~ /_cpu_max_ms$/ { cpu[key($1)] = $2 }
  $1 ~ /^click_zoom_.*_median_ms$/ { split($1, p, "_"); click[p[3]] = $2 }
  $1 == "nudge_worst_p95_ms" { worst = $2 }
  $1 == "nudge_worst_cpu_ms" { worstCpu = $2 }
  END {
    for (i = 1; i <= n; i++) {
      k = order[i]; split(k, q, " ")
      printf "nudge %-5s at zoom %-6s median %6.2f ms, 95%% %6.2f ms, max %6.2f ms, processor max %6.2f ms  (mouse click %6.2f ms: %.2f)\n", q[1], q[3], med[k], p95[k], max[k], cpu[k], click[q[3]], med[k] / click[q[3]]
    }
    printf "key to screen, slowest 95%% at any zoom: %.2f ms = %.2f of a 16 ms frame (target < 1)\n", worst, worst / 16
    printf "processor time of the slowest key at any zoom: %.2f ms = %.2f of a 16 ms frame (target < 1)\n", worstCpu, worstCpu / 16
  }'
