#!/usr/bin/env bash
# The junk bench: imports of MP3 files followed by long junk, timed against mpg123 in the same
# run (median of 3 wall times):
#   - 5 s of MP3 + 4 MiB of zero bytes, and + 4 MiB of noise: tessivo-tool import against
#     `mpg123 -w` (which gives up after 1 KiB of junk) and against the import of the 5 s alone;
#   - a 2 GiB sparse file holding three MPEG frames at its start: the import's scanning speed
#     over the zeros (target >= 100 MB/s) against `cat FILE > /dev/null` and mpg123.
#
# Usage: bench/junk.sh [BUILD_DIR]   (default: build, or $TESSIVO_BUILD_DIR)
#        SKIP_SPARSE=1 leaves out the 2 GiB file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tessivo-tool >/dev/null 2>&1
tool="$build/bin/tessivo-tool"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Median wall time in ms of 3 runs of a command (its output dropped).
median_ms() {
  local times=()
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s%N)
    times+=($(( (t1 - t0) / 1000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 2p | awk '{ printf "%.1f", $1 / 1000 }'
}

sox -n -r 44100 -c 2 -b 16 -t wav - synth 5 sine 220 sine 331 synth 5 pinknoise mix gain -8 2>/dev/null |
  lame --quiet -b 128 - "$work/five.mp3"
cp "$work/five.mp3" "$work/zeros.mp3"
head -c $((4 << 20)) /dev/zero >>"$work/zeros.mp3"
cp "$work/five.mp3" "$work/noise.mp3"
head -c $((4 << 20)) /dev/urandom >>"$work/noise.mp3"

five=$(median_ms "$tool" import --quiet "$work/five.mp3" "$work/out.wav")
printf "5 s MP3 alone:            tessivo-tool import %8.1f ms\n" "$five"
for kind in zeros noise; do
  ours=$(median_ms "$tool" import --quiet "$work/$kind.mp3" "$work/out.wav")
  ref=$(median_ms mpg123 -q -w "$work/ref.wav" "$work/$kind.mp3")
  printf "5 s MP3 + 4 MiB of %-6s tessivo-tool import %8.1f ms, mpg123 -w %8.1f ms\n" "$kind:" "$ours" "$ref"
  awk -v o="$ours" -v r="$ref" -v f="$five" 'BEGIN {
    printf "  import / mpg123            %8.2f\n  import / import of the 5 s %8.2f\n", o / r, o / f }'
done

if [ "${SKIP_SPARSE:-0}" != 1 ]; then
  # The first three frames (the encoder's information frame and two of sound), then holes.
  python3 - "$work/five.mp3" "$work/sparse.mp3" <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
start = data.find(b'\xff\xfb')
open(sys.argv[2], 'wb').write(data[start:start + 3 * 418])
EOF
  truncate -s 2G "$work/sparse.mp3"
  ours=$(median_ms "$tool" import --quiet "$work/sparse.mp3" "$work/out.wav")
  cat_ms=$(median_ms cat "$work/sparse.mp3")
  ref=$(median_ms mpg123 -q -w "$work/ref.wav" "$work/sparse.mp3")
  printf "2 GiB sparse file, three frames: tessivo-tool import %8.1f ms, cat %8.1f ms, mpg123 -w %8.1f ms\n" \
    "$ours" "$cat_ms" "$ref"
  awk -v o="$ours" -v c="$cat_ms" -v r="$ref" 'BEGIN {
    printf "  import scans %.0f MB/s (target >= 100), cat reads %.0f MB/s\n", 2147.483648 / (o / 1000), 2147.483648 / (c / 1000)
    printf "  import / cat               %8.2f\n  import / mpg123            %8.2f\n", o / c, o / r }'
fi
