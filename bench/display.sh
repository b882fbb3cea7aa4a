#!/usr/bin/env bash
# The display bench: makes a 10-minute 16-bit stereo Temp.wav-like file with sox and runs
# bench_display on it; prints the overview pass against a plain sequential read of the same
# file (same run), each detail refresh and one frame of each view kind; then the editor run
# from the command line: a 3-minute MP3 loaded to the waveform against the import alone, and
# its peak memory with a 60-minute song against a 3-minute one.
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

# --- The editor from the command line -----------------------------------------------------
# Loading a 3-minute MP3 into the editor (import dialog, Temp.wav, overview and detail views
# on screen; TESSIVO_CLOSE_AFTER_MS=0 closes the window as soon as the first load is shown)
# against the import alone (tessivo-tool import), best of 3 runs each; then the editor's peak
# memory with a 60-minute song against a 3-minute one.
command -v lame >/dev/null || { echo "lame is needed for the editor part" >&2; exit 1; }
if [ ! -x /usr/bin/time ]; then
  apt-get install -y time >/dev/null 2>&1 || { echo "/usr/bin/time (Debian package time) is needed" >&2; exit 1; }
fi
cmake --build "$build" --target tessivo tessivo-tool mmmpeg32 >/dev/null

# The programs run from a folder of their own (hard links or copies: the program's folder is
# where Temp.wav is written and the decoder library is loaded from).
run="$work/run"
mkdir -p "$run"
for f in tessivo tessivo-tool libmmmpeg32.so; do ln -f "$build/bin/$f" "$run/$f" 2>/dev/null || cp "$build/bin/$f" "$run/$f"; done
song() {  # song SECONDS OUT.mp3
  sox -n -r 44100 -b 16 -c 2 -t wav - synth "$1" pinknoise pinknoise sine 110 sine 147 \
      remix 1v0.7,3v0.5 2v0.7,4v0.5 tremolo 0.05 50 gain -n -1 2>/dev/null | lame --quiet -b 128 - "$2"
}
song 180 "$work/song3.mp3"
editor() {  # editor MP3: wall seconds and peak kilobytes of one load
  rm -f "$run/Temp.wav"
  ( cd "$run" && env QT_QPA_PLATFORM=offscreen TESSIVO_MESSAGE_LOG="$work/messages.txt" TESSIVO_CLOSE_AFTER_MS=0 \
      /usr/bin/time -f "%e %M" -o "$work/time.txt" ./tessivo "$1" 2>"$work/editor.err" )
  # A load that did not reach the window, or showed a message, is no measurement.
  if ! grep -q "window shown" "$work/editor.err" || [ -s "$work/messages.txt" ] || [ ! -s "$run/Temp.wav" ]; then
    echo "the editor did not load $1:" >&2; cat "$work/editor.err" "$work/messages.txt" >&2 2>/dev/null; exit 1
  fi
  cat "$work/time.txt"
}
importer() {  # importer MP3: wall seconds of the import alone
  ( cd "$run" && /usr/bin/time -f "%e %M" -o "$work/time.txt" ./tessivo-tool import --quiet "$1" "$run/Import.wav" >/dev/null )
  cat "$work/time.txt"
}
best() { sort -n | head -1; }
importer "$work/song3.mp3" >/dev/null  # warm the caches
imp=$(for i in 1 2 3; do importer "$work/song3.mp3" | cut -d' ' -f1; done | best)
edt=$(for i in 1 2 3; do editor "$work/song3.mp3" | cut -d' ' -f1; done | best)
awk -v e="$edt" -v i="$imp" 'BEGIN {
  printf "3-minute MP3: import alone %.2f s, editor load to the waveform %.2f s: +%.0f %% (target < 30 %%)\n",
         i, e, (e / i - 1) * 100 }'

song 3600 "$work/song60.mp3"
rm -f "$run/Import.wav"
m3=$(editor "$work/song3.mp3" | cut -d' ' -f2)
m60=$(editor "$work/song60.mp3" | cut -d' ' -f2)
frames60=$(( ($(stat -c %s "$run/Temp.wav") - 44) / 4 ))
awk -v a="$m3" -v b="$m60" 'BEGIN {
  printf "editor peak memory: 3-minute song %.1f MB, 60-minute song %.1f MB: +%.1f MB (target within 30 MB)\n",
         a / 1024, b / 1024, (b - a) / 1024 }'
echo "(the 60-minute Temp.wav held $frames60 frames)"
