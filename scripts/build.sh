#!/usr/bin/env bash
# Configures (once) and builds everything into build/.
# TESSIVO_WERROR=ON (the CI run) makes a warning in our own code fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TESSIVO_BUILD_DIR:-build}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIVO_WERROR="${TESSIVO_WERROR:-OFF}" >/dev/null
elif [ -n "${TESSIVO_WERROR:-}" ]; then
  cmake -S . -B "$build" -DTESSIVO_WERROR="$TESSIVO_WERROR" >/dev/null
fi
cmake --build "$build" -- -j"$(nproc)"
