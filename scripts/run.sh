#!/usr/bin/env bash
# Installs what is missing, builds, prepares the local catalogue and BaseQuelt.ini beside the
# executable, and starts the tool on AUDIO (or on a generated demo song when none is given).
#   scripts/run.sh [--xvfb] [AUDIO]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

xvfb=0
if [ "${1:-}" = "--xvfb" ]; then xvfb=1; shift; fi

scripts/install-deps.sh
scripts/build.sh
bin="$root/${TESSIVO_BUILD_DIR:-build}/bin"

# The local catalogue: a Firebird database file opened by the embedded engine.
if [ -x db/make-catalogue.sh ]; then
  db/make-catalogue.sh "$bin/catalogue.fdb"
  if [ ! -f "$bin/BaseQuelt.ini" ]; then
    printf '[BANCO]\r\nCAMINHO=%s\r\n' "$bin/catalogue.fdb" > "$bin/BaseQuelt.ini"
  fi
fi

audio=${1:-}
if [ -z "$audio" ]; then
  audio="$root/demo/demo.mp3"
  if [ ! -f "$audio" ]; then
    scripts/make-demo.sh "$audio"
  fi
fi

# Sound goes to the desktop's sound server through PortAudio's default device.
if [ "${TESSIVO_AUDIO_DEVICE:-}" = "" ] && command -v pactl >/dev/null && ! pactl info >/dev/null 2>&1; then
  echo "No sound server answers: playback goes to the sound card directly, or stays disabled without one." >&2
fi

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
  if [ $xvfb -eq 1 ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$bin/tessivo" "$audio"
  fi
  echo "No display found. Run it in a virtual display with:  scripts/run.sh --xvfb [AUDIO]" >&2
  echo "(that uses xvfb-run; a screenshot can be taken with 'import -window root' inside it)" >&2
  exit 1
fi
exec "$bin/tessivo" "$audio"
