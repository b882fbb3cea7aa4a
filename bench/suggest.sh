#!/usr/bin/env bash
# The suggested-marker bench:
#  1. a 3-minute 44.1 kHz stereo 128 kbit/s MP3 (the import bench's music-like signal) imported
#     by `tessivo-tool import` and its wave analysed as the editor's worker does, in the same
#     run, median of 5: the analysis against the import, in wall and in processor time
#     (target: under 25 % of the import);
#  2. the editor loading that MP3 up to the waveform on the screen (TESSIVO_CLOSE_AFTER_MS=0),
#     with the analysis and without it (TESSIVO_NO_SUGGEST=1), runs taken in turn, best of 5
#     each: the analysis starts after the waveform is shown and must add nothing;
#  3. peak memory of `tessivo-tool suggest` on the 3-minute wave and on a 60-minute one.
#
# Usage: bench/suggest.sh [BUILD_DIR]   (default: build, or $TESSIVO_BUILD_DIR)
#        SKIP_LONG=1 leaves out the 60-minute file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
if [ ! -x /usr/bin/time ]; then
  apt-get install -y -qq time >/dev/null 2>&1 || { echo "/usr/bin/time (Debian package time) is needed" >&2; exit 1; }
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_suggest tessivo tessivo-tool mmmpeg32 >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
run="$work/run"  # the programs in a folder of their own: Temp.wav and the decoder library
mkdir -p "$run"
for f in tessivo tessivo-tool libmmmpeg32.so; do ln -f "$build/bin/$f" "$run/$f" 2>/dev/null || cp "$build/bin/$f" "$run/$f"; done

music() {  # music SECONDS: a music-like wave on standard output
  sox -n -r 44100 -c 2 -b 16 -t wav - synth "$1" sine 220 sine 331 synth "$1" sine mix 110-1760 \
      synth "$1" pinknoise mix tremolo 3 50 gain -8 2>/dev/null
}
music 180 | lame --quiet -b 128 - "$work/three.mp3"

# --- 1. analysis against import -----------------------------------------------------------
out=$("$build/bin/bench_suggest" "$run/tessivo-tool" "$work/three.mp3" "$work/three.wav" 5)
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
echo "3-minute MP3 (median of 5):"
printf "  import (tessivo-tool import)   %8.1f ms wall  %8.1f ms processor\n" "$(get import_wall_ms)" "$(get import_cpu_ms)"
printf "  analysis (suggested markers)   %8.1f ms wall  %8.1f ms processor\n" "$(get analysis_wall_ms)" "$(get analysis_cpu_ms)"
awk -v aw="$(get analysis_wall_ms)" -v iw="$(get import_wall_ms)" -v ac="$(get analysis_cpu_ms)" -v ic="$(get import_cpu_ms)" 'BEGIN {
  printf "  analysis / import: %.0f %% of the wall time, %.0f %% of the processor time (target < 25 %%)\n",
         100 * aw / iw, 100 * ac / ic }'
echo "  suggested: start $(get start_s) s, end $(get end_s) s, mix $(get mix_s) s, ending $(get ending)"

# --- 2. time until the waveform is shown --------------------------------------------------
editor() {  # editor [ENV...]: wall seconds of one load up to the waveform
  rm -f "$run/Temp.wav"
  ( cd "$run" && env QT_QPA_PLATFORM=offscreen TESSIVO_MESSAGE_LOG="$work/messages.txt" TESSIVO_CLOSE_AFTER_MS=0 "$@" \
      /usr/bin/time -f "%e" -o "$work/time.txt" ./tessivo "$work/three.mp3" 2>"$work/editor.err" )
  if ! grep -q "window shown" "$work/editor.err" || [ -s "$work/messages.txt" ]; then
    echo "the editor did not load the song:" >&2; cat "$work/editor.err" "$work/messages.txt" >&2 2>/dev/null; exit 1
  fi
  cat "$work/time.txt"
}
best() { sort -n | head -1; }
editor >/dev/null  # warm the caches
: > "$work/with.txt"; : > "$work/without.txt"
for i in 1 2 3 4 5; do  # in turn, so that a busy moment of the machine hits both alike
  editor >> "$work/with.txt"
  editor TESSIVO_NO_SUGGEST=1 >> "$work/without.txt"
done
with=$(best < "$work/with.txt")
without=$(best < "$work/without.txt")
awk -v a="$with" -v b="$without" 'BEGIN {
  printf "editor load to the waveform: %.2f s with the analysis, %.2f s without (%+.0f %%; target: unchanged)\n",
         a, b, (a / b - 1) * 100 }'

# --- 3. memory ------------------------------------------------------------------------------
peak() {  # peak resident memory in MB of one suggest run
  /usr/bin/time -f %M -o "$work/mem" "$run/tessivo-tool" suggest "$1" >/dev/null
  awk '{ printf "%.1f", $1 / 1024 }' "$work/mem"
}
m3=$(peak "$work/three.wav")
if [ "${SKIP_LONG:-0}" != 1 ]; then
  music 3600 > "$work/sixty.wav"
  m60=$(peak "$work/sixty.wav")
  awk -v a="$m3" -v b="$m60" 'BEGIN {
    printf "tessivo-tool suggest peak memory: 3-minute wave %.1f MB, 60-minute wave %.1f MB (+%.1f MB)\n", a, b, b - a }'
else
  echo "tessivo-tool suggest peak memory: 3-minute wave $m3 MB"
fi
