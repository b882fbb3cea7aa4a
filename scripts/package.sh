#!/usr/bin/env bash
# Builds the Debian package of the program into OUT (default build/package/) and checks it with
# lintian when it is installed. Prints the path of the .deb on its last line.
#   scripts/package.sh [OUT]
# Environment: TESSIVO_BUILD_DIR (default build), as for scripts/build.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TESSIVO_BUILD_DIR:-build}
out=${1:-$build/package}

if [ -f "$build/build.ninja" ]; then
  cmake --build "$build" >/dev/null
else
  scripts/build.sh >/dev/null
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)
# CPack installs the project into a staging folder of its own, strips it and computes the
# dependencies with dpkg-shlibdeps.
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(ls -t "$out"/tessivo_*.deb | head -n 1)
if command -v lintian >/dev/null; then
  status=0
  report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
  grep -v "running with root privileges" <<<"$report" >&2 || true
  [ $status -eq 0 ] || { echo "lintian reports errors in $deb" >&2; exit 1; }
fi
echo "$deb"
