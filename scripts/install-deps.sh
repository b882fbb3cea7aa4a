#!/usr/bin/env bash
# Installs the Debian 12 packages the project needs, only those missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # libraries
  qt6-base-dev libpng-dev zlib1g-dev libmpg123-dev portaudio19-dev
  libebur128-dev  # loudness of the suggested markers
  libfbclient2 firebird-dev firebird3.0-server-core firebird3.0-common firebird3.0-utils
  firebird3.0-server  # its server binary: the catalogue tests start it by hand on 127.0.0.1
  libgtest-dev libgmock-dev
  # tools the tests and the demo use to make and cross-check audio
  lame sox libsox-fmt-all mpg123 ffmpeg python3 python3-mutagen
  time  # peak memory in the import bench
  # the playback tests' own sound server: a null sink recorded through its monitor, reached by
  # PortAudio through ALSA's pulse plugin
  pulseaudio pulseaudio-utils libasound2-plugins
  # running the window without a display, and its font
  xvfb xauth fonts-dejavu-core
  # the end-to-end road: real input events on the private X server, and its pictures
  xdotool libx11-dev
  # the Debian package and its install test: dependencies from the shared libraries, and its check
  dpkg-dev lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
