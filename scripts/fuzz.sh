#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/*Fuzz.cpp) with clang into their own folder and runs each one
# for a bounded time, at most FUZZ_JOBS (default 2) at once.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     SECONDS per target, default 300; all targets by default
#
# Fails (exit 1) on any crash, hang (an input running longer than 10 s), leak or sanitizer report;
# the input that caused it is kept in $build/artifacts/ and the run's log in $build/logs/.
# Environment: TESSIVO_FUZZ_BUILD_DIR (default build-fuzz), FUZZ_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
shift || true
build=${TESSIVO_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${FUZZ_JOBS:-2}
case "$seconds" in '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS] [TARGET...]" >&2; exit 2 ;; esac

# clang and its libFuzzer runtime, beside what the normal build needs.
scripts/install-deps.sh
need=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${need[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSIVO_FUZZ=ON -DTESSIVO_TESTS=OFF -DTESSIVO_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target fuzz_all -- -j"$jobs"
build=$(cd "$build" && pwd)  # absolute, for the artifact and log paths

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in fuzz/*Fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

# Seed inputs: short encoded files of every kind the readers meet, some with tags.
seeds="$build/seeds"
if [ ! -d "$seeds" ]; then
  mkdir -p "$seeds/mp3" "$seeds/wav"
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  if command -v sox >/dev/null && command -v lame >/dev/null; then
    sox -n -r 44100 -c 2 -b 16 "$tmp/s44.wav" synth 0.2 sine 440 2>/dev/null
    sox -n -r 44100 -c 1 -b 16 "$tmp/m44.wav" synth 0.2 sine 440 2>/dev/null
    sox -n -r 22050 -c 2 -b 16 "$tmp/s22.wav" synth 0.3 sine 440 2>/dev/null
    sox -n -r 8000 -c 1 -b 16 "$tmp/m8.wav" synth 0.5 sine 440 2>/dev/null
    lame --quiet -b 128 "$tmp/s44.wav" "$seeds/mp3/cbr.mp3"
    lame --quiet -V 2 "$tmp/s44.wav" "$seeds/mp3/vbr.mp3"
    lame --quiet -p -b 64 "$tmp/m44.wav" "$seeds/mp3/crc-mono.mp3"
    lame --quiet -b 32 "$tmp/s22.wav" "$seeds/mp3/mpeg2.mp3"
    lame --quiet -b 8 "$tmp/m8.wav" "$seeds/mp3/mpeg25.mp3"
    cp "$tmp/s44.wav" "$seeds/wav/pcm16.wav"
    sox "$tmp/m8.wav" -b 8 "$seeds/wav/pcm8.wav"
    sox "$tmp/m8.wav" -e ima-adpcm "$seeds/wav/adpcm.wav" 2>/dev/null || true
    if /usr/bin/python3 -c "import mutagen" 2>/dev/null; then
      cp "$seeds/mp3/cbr.mp3" "$seeds/mp3/tag23.mp3"
      cp "$seeds/mp3/vbr.mp3" "$seeds/mp3/tag24.mp3"
      /usr/bin/python3 - "$seeds/mp3/tag23.mp3" "$seeds/mp3/tag24.mp3" <<'PY'
import sys
from mutagen.id3 import ID3, TIT2, TPE1, COMM, TRCK, TCON, POPM, APIC, TXXX, TextFrame
class TINT(TextFrame):
    pass
for path, version in zip(sys.argv[1:], (3, 4)):
    tag = ID3()
    tag.add(TIT2(encoding=1, text="Título"))
    tag.add(TPE1(encoding=3 if version == 4 else 0, text="Artista"))
    tag.add(COMM(encoding=0, lang="por", desc="x", text="comentário"))
    tag.add(TRCK(encoding=0, text="3/12"))
    tag.add(TCON(encoding=0, text="(17)Rock"))
    tag.add(POPM(email="a@b", rating=196))
    tag.add(APIC(encoding=0, mime="image/png", type=3, desc="", data=b"\x89PNG" + b"\0" * 60))
    tag.add(TXXX(encoding=1, desc="k", text="v"))
    tag.add(TINT(encoding=0, text="0:12.345"))
    tag.save(path, v2_version=version, v1=2, padding=lambda info: 64)
PY
    fi
  fi
  printf 'TAG%-30s%-30s%-30s1999%-28s\0\7\21' Title Artist Album Comment > "$seeds/mp3/id3v1.bin"
fi

# Tokens of the formats, so that mutations find the magic texts quickly.
dict="$build/fuzz.dict"
cat > "$dict" <<'EOF'
"ID3"
"TAG"
"Xing"
"Info"
"VBRI"
"LAME"
"GOGO"
"MPGE"
"LAME3.90"
"RIFF"
"WAVE"
"fmt "
"data"
"fact"
"TINT"
"TIT2"
"COMM"
"POPM"
"APIC"
"TRCK"
"TCON"
"TT2"
"TRI"
"POP"
"\xff\xfb\x90\x64"
"\xff\xf3\x80\x64"
"\xff\xe3\x28\x64"
"\xff\xfe"
"\xfe\xff"
EOF

mkdir -p "$build/artifacts" "$build/logs"
run_target() {
  local name=$1 corpus="$build/corpus/$1" log="$build/logs/$1.log"
  mkdir -p "$corpus"
  case "$name" in
    WAV* | WaveIO*) cp -n "$seeds"/wav/* "$corpus"/ 2>/dev/null || true ;;
    *) cp -n "$seeds"/mp3/* "$corpus"/ 2>/dev/null || true ;;
  esac
  # The outer timeout only catches a fuzzer that stops answering altogether.
  if timeout --kill-after=30 $((seconds + 120)) "$build/bin/$name" "$corpus" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384 -dict="$dict" \
      -artifact_prefix="$build/artifacts/$name-" -print_final_stats=1 >"$log" 2>&1; then
    echo "$name: ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs)"
  else
    echo "$name: FAILED (log $log)"
    grep -E "ERROR|SUMMARY|Test unit written|runtime error" "$log" | head -20
    return 1
  fi
}

failed=0
running=0
for name in "${targets[@]}"; do
  if [ ! -x "$build/bin/$name" ]; then
    echo "$name: no such target" >&2
    failed=1
    continue
  fi
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
