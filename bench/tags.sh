#!/usr/bin/env bash
# The tag bench: makes an MP3 with lame and a 4096-byte tag with the writer, a copy of it whose
# tag holds a 1 MB picture ahead of the markers, and a 10 MB file, then runs bench_tags, which
# times the file-information record, an in-place marker write, a whole-file rewrite against `cp`
# (and `cp` + `sync FILE`) of the same file, and marker saves on the picture file (in place when
# the changed bytes lie in one page, else a new file renamed over it) against `cp` + `sync FILE`.
#
# Usage: bench/tags.sh [BUILD_DIR] [ROUNDS]   (default: build, or $TESSIVO_BUILD_DIR; 7 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
rounds=${2:-7}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! log=$(cmake --build "$build" --target bench_tags tessivo-tool 2>&1); then
  echo "$log" | grep -E "error|FAILED" | head -20 >&2
  exit 1
fi
build=$(cd "$build" && pwd)  # relative to the source root or absolute, from here on absolute

# The work folder is on the same file system as the build, as the music library would be on a
# disk rather than in memory.
work=$(mktemp -d "$build/bench-tags.XXXXXX")
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -b 16 -c 2 "$work/song.wav" synth 240 pinknoise vol 0.3 2>/dev/null
lame --quiet -b 192 "$work/song.wav" "$work/song.mp3"
rm "$work/song.wav"
"$build/bin/tessivo-tool" write "$work/song.mp3" --intro 0:01.000 --comment bench
head -c 10485760 /dev/urandom > "$work/big.bin"
cp "$work/song.mp3" "$work/picture.mp3"
/usr/bin/python3 -c "
import os, sys
from mutagen.id3 import ID3, APIC
t = ID3(sys.argv[1])
t.add(APIC(encoding=0, mime='image/jpeg', type=3, desc='', data=os.urandom(1 << 20)))
t.save(sys.argv[1], v2_version=3, padding=lambda info: 0)" "$work/picture.mp3"

out=$("$build/bin/bench_tags" "$work/song.mp3" "$work/big.bin" "$rounds" "$work/picture.mp3")
# Reference: mutagen reading the stream information and the tag of the same file, per call, warm.
mutagen_ms=$(/usr/bin/python3 -c "
import sys, timeit, mutagen.mp3
f = sys.argv[1]
mutagen.mp3.MP3(f)
print(timeit.timeit(lambda: mutagen.mp3.MP3(f), number=300) / 300 * 1000)" "$work/song.mp3")
out="$out
mutagen_fileinfo_ms $mutagen_ms"
echo "$out"
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
awk -v fi="$(get fileinfo_warm_ms)" -v mu="$(get mutagen_fileinfo_ms)" -v ip="$(get inplace_write_ms)" -v rw="$(get rewrite_ms)" \
    -v cp="$(get cp_ms)" -v cps="$(get cp_sync_ms)" -v ps="$(get picture_save_ms)" -v pmax="$(get picture_save_max_ms)" \
    -v pshare="$(get picture_inplace_share)" -v pcps="$(get picture_cp_sync_ms)" 'BEGIN {
  printf "FileInfo of a 4-minute MP3 (warm): %.3f ms  (target well under 1 ms; mutagen %.3f ms, ratio %.2f)\n", fi, mu, fi / mu
  printf "in-place marker write:             %.2f ms  (target a few ms)\n", ip
  printf "10 MB rewrite / cp:                %.2f  (target <= 1.5)\n", rw / cp
  printf "10 MB rewrite / (cp + sync FILE):  %.2f  (the rewrite flushes the new file before renaming it)\n", rw / cps
  printf "marker save, 1 MB picture in the tag: median %.2f ms, max %.2f ms, %.0f%% in place; cp + sync of the file %.2f ms (median / cp+sync %.2f)\n", ps, pmax, pshare * 100, pcps, ps / pcps
}'
