#!/usr/bin/env bash
# The Debian package installed, used and removed as a station's IT staff would: builds it with
# scripts/package.sh (lintian must report no error), installs it with dpkg, runs the installed
# program on a song under Xvfb and `tessivo-tool info` on it, removes it and checks that nothing
# it installed is left. Needs root; exits 77 (skipped) otherwise or when a tessivo package that
# is not ours is installed.
#   tests/package/install-test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)

[ "$(id -u)" -eq 0 ] || { echo "not root: skipped"; exit 77; }
for tool in cpack dpkg-shlibdeps xvfb-run lame; do
  command -v "$tool" >/dev/null || { echo "$tool missing: skipped"; exit 77; }
done

# One package installation on the machine at a time, whatever build folder runs this test.
exec 9>/tmp/tessivo-package-test.lock
flock 9

if dpkg-query -W -f='${Status}' tessivo 2>/dev/null | grep -q "install ok installed"; then
  echo "a tessivo package is already installed: skipped"; exit 77
fi

work=$(mktemp -d)
cleanup() {
  dpkg --purge tessivo >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

deb=$(TESSIVO_BUILD_DIR="$build" "$root/scripts/package.sh" "$work/out" | tail -n 1)
echo "package: $deb"
dpkg-deb --field "$deb" Depends | grep -q "libqt6core6" || { echo "FAIL: dependencies not computed"; exit 1; }

dpkg -i "$deb" >/dev/null
mapfile -t files < <(dpkg -L tessivo)
libdir=$(dirname "$(dpkg -L tessivo | grep '/libmmmpeg32\.so$')")

# The decoder library is found through the RUNPATH, not LD_LIBRARY_PATH.
readelf -d /usr/bin/tessivo | grep -q 'RUNPATH.*\$ORIGIN' || { echo "FAIL: no RUNPATH"; exit 1; }

song="$work/canção 1.mp3"
sox -n -r 44100 -c 2 -b 16 "$work/song.wav" synth 3 sine 440 >/dev/null 2>&1
lame --quiet -b 128 "$work/song.wav" "$song"

info=$(env -u LD_LIBRARY_PATH tessivo-tool info "$song")
echo "$info" | grep -q "44100" || { echo "FAIL: tessivo-tool info: $info"; exit 1; }
env -u LD_LIBRARY_PATH tessivo-tool import --quiet "$song" "$work/out.wav"
[ -s "$work/out.wav" ] || { echo "FAIL: tessivo-tool import wrote nothing"; exit 1; }

# The installed program: it imports the song (decoder through the RUNPATH), opens its window
# and closes itself; every message box goes to the log.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" XDG_CACHE_HOME="$work/home/cache"
mkdir -p "$HOME"
set +e
env -u LD_LIBRARY_PATH TESSIVO_MESSAGE_LOG="$work/messages.txt" TESSIVO_CLOSE_AFTER_MS=300 \
  TESSIVO_AUDIO_DEVICE=virtual xvfb-run -a -s "-screen 0 1280x800x24" \
  tessivo "$song" > "$work/stdout.txt" 2> "$work/stderr.txt"
code=$?
set -e
if [ $code -ne 0 ] || ! grep -q "window shown" "$work/stderr.txt" || [ -s "$work/messages.txt" ]; then
  echo "FAIL: installed program: exit $code"; cat "$work/stderr.txt" "$work/messages.txt" 2>/dev/null; exit 1
fi
[ ! -e /usr/bin/Temp.wav ] || { echo "FAIL: Temp.wav written into /usr/bin"; exit 1; }
find "$XDG_CACHE_HOME" -name Temp.wav | grep -q . || { echo "FAIL: no Temp.wav in the user's cache"; exit 1; }

dpkg --purge tessivo >/dev/null
left=()
for f in "${files[@]}"; do
  [ -e "$f" ] || continue
  [ -d "$f" ] && [ -n "$(dpkg -S "$f" 2>/dev/null)" ] && continue  # a folder other packages own
  left+=("$f")
done
[ -e "$libdir" ] && left+=("$libdir")
if [ ${#left[@]} -ne 0 ]; then
  echo "FAIL: left behind: ${left[*]}"; exit 1
fi
echo "installed, used and removed cleanly"
