#!/usr/bin/env bash
# The playback bench: a private PulseAudio server with a null sink (no sound card needed), its
# monitor recorded with parec, and bench_playback playing through PortAudio's default device.
# Prints Play to the first sample at the sink against paplay on the same bytes, the output's
# position against the sink over a 30 s selection, the CPU used while playing, and the memory
# while a 60-minute file plays through (virtual device at 100 times real time).
#
# Usage: bench/playback.sh [BUILD_DIR]   (default: build, or $TESSIVO_BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-${TESSIVO_BUILD_DIR:-build}}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_playback >/dev/null
for tool in pulseaudio pactl parec paplay sox; do
  command -v $tool >/dev/null || { echo "$tool is needed (scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
recorder=
cleanup() {
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null || true
  [ -f "$work/run/pulse/pid" ] && kill -9 "$(cat "$work/run/pulse/pid")" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server, before the bench starts: PortAudio lists its devices once.
mkdir -p "$work/run" "$work/home"
printf 'autospawn = no\n' > "$work/client.conf"
export XDG_RUNTIME_DIR="$work/run" PULSE_SERVER="unix:$work/run/pulse/native" PULSE_CLIENTCONFIG="$work/client.conf"
unset TESSIVO_AUDIO_DEVICE TESSIVO_AUDIO_SPEED
HOME="$work/home" pulseaudio -D -n --exit-idle-time=-1 --disallow-exit --log-target=file:"$work/pulse.log" \
  --load="module-null-sink sink_name=ci norewinds=1 format=s16le rate=44100 channels=2" \
  --load="module-native-protocol-unix auth-anonymous=1"
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink ci
parec --device=ci.monitor --format=s16le --rate=44100 --channels=2 --raw --latency-msec=10 > "$work/rec.raw" &
recorder=$!

sox -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth 45 whitenoise vol 0.5 2>/dev/null
# 60 minutes of 16-bit stereo, sparse on disk (silence).
frames=$((44100 * 3600)); bytes=$((frames * 4))
python3 - "$work/long.wav" "$bytes" <<'PY'
import struct, sys
path, n = sys.argv[1], int(sys.argv[2])
with open(path, "wb") as f:
    f.write(b"RIFF" + struct.pack("<I", 36 + n) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16)
            + b"data" + struct.pack("<I", n))
    f.truncate(44 + n)
PY
sleep 0.5

out=$(QT_QPA_PLATFORM=offscreen "$build/bin/bench_playback" "$work/noise.wav" "$work/rec.raw" "$work/long.wav" 2>/dev/null)
echo "$out"
get() { echo "$out" | awk -v k="$1" '$1 == k { print $2 }'; }
awk -v a="$(get latency_ms)" -v b="$(get paplay_latency_ms)" 'BEGIN {
  printf "Play to the first sample at the sink: %.0f ms (paplay %.0f ms, ratio %.2f; target < 100 ms)\n", a, b, (b > 0 ? a / b : 0) }'
awk -v e="$(get early_sound_ms)" 'BEGIN { printf "sound heard before the selection starts: %.0f ms at most (target 0)\n", e }'
awk -v m="$(get cursor_mean_ms)" -v x="$(get cursor_max_ms)" 'BEGIN {
  printf "position against the sink over 30 s: mean %+.0f ms, worst %.0f ms (target within 60 ms)\n", m, x }'
awk -v d="$(get dropout_ms)" 'BEGIN { printf "silence the sink inserted in those 30 s: %.0f ms (the stream ran dry; target 0)\n", d }'
awk -v c="$(get cpu_percent)" 'BEGIN { printf "CPU while playing: %.2f %% of one core (target < 5 %%)\n", c }'
awk -v a="$(get rss_first_mb)" -v m="$(get rss_max_mb)" -v l="$(get rss_last_mb)" -v n="$(get long_file_minutes)" 'BEGIN {
  printf "memory while a %.0f-minute file plays through: %.1f MB first, %.1f MB at most, %.1f MB last (target flat)\n", n, a, m, l }'
echo "(the recorded position includes parec's own 10 ms of latency: a positive mean of about that size is the recorder's)"
