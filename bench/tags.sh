#!/usr/bin/env bash
# The tag bench: makes an MP3 with lame and a 4096-byte tag with the writer, and a 10 MB file,
# then runs bench_tags, which times the file-information record, an in-place marker write and a
# whole-file rewrite against `cp` (and `cp` + `sync FILE`) of the same file in the same run.
#
# Usage: bench/tags.sh [BUILD_DIR] [ROUNDS]   (default: build, or $TESSIVO_BUILD_DIR; 7 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
rounds=${2:-7}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_tags tessivo-tool >/dev/null

# The work folder is on the same file system as the build, as the music library would be on a
# disk rather than in memory.
work=$(mktemp -d "$PWD/$build/bench-tags.XXXXXX")
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -b 16 -c 2 "$work/song.wav" synth 240 pinknoise vol 0.3 2>/dev/null
lame --quiet -b 192 "$work/song.wav" "$work/song.mp3"
rm "$work/song.wav"
"$build/bin/tessivo-tool" write "$work/song.mp3" --intro 0:01.000 --comment bench
head -c 10485760 /dev/urandom > "$work/big.bin"

out=$("$build/bin/bench_tags" "$work/song.mp3" "$work/big.bin" "$rounds")
echo "$out"
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
awk -v fi="$(get fileinfo_warm_ms)" -v ip="$(get inplace_write_ms)" -v rw="$(get rewrite_ms)" \
    -v cp="$(get cp_ms)" -v cps="$(get cp_sync_ms)" 'BEGIN {
  printf "FileInfo of a 4-minute MP3 (warm): %.3f ms  (target well under 1 ms)\n", fi
  printf "in-place marker write:             %.2f ms  (target a few ms)\n", ip
  printf "10 MB rewrite / cp:                %.2f  (target <= 1.5)\n", rw / cp
  printf "10 MB rewrite / (cp + sync FILE):  %.2f  (the rewrite flushes the new file before renaming it)\n", rw / cps
}'
