#!/usr/bin/env bash
# The import bench: makes a 3-minute 44.1 kHz stereo 128 kbit/s MP3 with lame from a generated
# music-like signal (chords under a tremolo, a sweep and pink noise), then runs bench_import,
# which times `tessivo-tool import --quiet` against `mpg123 -w` and `ffmpeg -i ... out.wav`
# in the same run (median of 5), and measures the peak memory of each with /usr/bin/time.
# Last, the peak memory of the import of a 60-minute MP3 (made the same way).
#
# Usage: bench/import.sh [BUILD_DIR]   (default: build, or $TESSIVO_BUILD_DIR)
#        SKIP_LONG=1 leaves out the 60-minute file.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
if [ ! -x /usr/bin/time ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get install -y -qq time >/dev/null
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_import tessivo-tool >/dev/null 2>&1
tool="$build/bin/tessivo-tool"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# seconds -> MP3, encoded from a pipe so that no long wave lies on disk.
make_mp3() {
  sox -n -r 44100 -c 2 -b 16 -t wav - synth "$1" sine 220 sine 331 synth "$1" sine mix 110-1760 \
      synth "$1" pinknoise mix tremolo 3 50 gain -8 2>/dev/null | lame --quiet -b 128 - "$2"
}
make_mp3 180 "$work/three.mp3"

out=$("$build/bin/bench_import" "$tool" "$work/three.mp3" "$work" 5)
echo "$out"
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }

peak() {  # peak resident memory in MB of one command, by /usr/bin/time
  /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>&1
  awk '{ printf "%.1f", $1 / 1024 }' "$work/mem"
}
mem_tool=$(peak "$tool" import --quiet "$work/three.mp3" "$work/t.wav")
mem_mpg=$(peak mpg123 -q -w "$work/m.wav" "$work/three.mp3")
mem_ff=$(peak ffmpeg -v quiet -y -i "$work/three.mp3" "$work/f.wav")

echo
echo "3-minute MP3, median of 5 wall times:"
printf "  tessivo-tool import %8.1f ms\n" "$(get tessivo_median_ms)"
printf "  mpg123 -w           %8.1f ms\n" "$(get mpg123_median_ms)"
printf "  ffmpeg              %8.1f ms\n" "$(get ffmpeg_median_ms)"
printf "  import / mpg123     %8.3f   (target <= 1.2)\n" "$(get ratio_mpg123)"
printf "  import / ffmpeg     %8.3f\n" "$(get ratio_ffmpeg)"
echo "peak memory (/usr/bin/time %M):"
echo "  tessivo-tool import $mem_tool MB (target < 40 MB)"
echo "  mpg123 -w           $mem_mpg MB"
echo "  ffmpeg              $mem_ff MB"

if [ "${SKIP_LONG:-0}" != 1 ]; then
  rm -f "$work"/*.wav
  make_mp3 3600 "$work/sixty.mp3"
  mem_long=$(peak "$tool" import --quiet "$work/sixty.mp3" "$work/long.wav")
  echo "60-minute MP3: tessivo-tool import peak memory $mem_long MB (target < 40 MB)"
  "$tool" import --quiet "$work/sixty.mp3" "$work/long.wav"
fi
