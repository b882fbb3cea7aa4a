#!/usr/bin/env bash
# Makes the demo song: about a minute of generated music-like sound (a chord progression
# with a beat), encoded by lame at 128 kbit/s with an ID3v2 tag.
#   scripts/make-demo.sh OUT.mp3
set -euo pipefail
out=$1
mkdir -p "$(dirname "$out")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

i=0
for chord in "220 277 330" "196 247 294" "175 220 262" "196 247 294"; do
  for rep in 1 2 3 4; do
    set -- $chord
    sox -n -r 44100 -c 2 -b 16 "$tmp/p$(printf %03d $i).wav" \
      synth 3.6 pluck $1 pluck $2 pluck $3 sine $(( $1 / 2 )) \
      tremolo 4 40 fade q 0.02 3.6 0.3 gain -8 2>/dev/null
    i=$((i + 1))
  done
done
sox "$tmp"/p*.wav "$tmp/song.wav" reverb 30 fade t 2 0 3 gain -n -1 2>/dev/null
lame --quiet -b 128 --id3v2-only --tt "Demonstração" --ta "Tessivo" --tl "Demo" \
  --ty 2026 --tg "Pop" "$tmp/song.wav" "$out"
echo "Demo song: $out"
