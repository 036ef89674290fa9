#!/usr/bin/env bash
# Installs the Debian packages that building and testing KAV needs, when any is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev clang-format ccache lld
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libsdl2-dev libmpg123-dev libgtest-dev libgmock-dev libtag1-dev
  lame sox vorbis-tools ffmpeg mpg123 xvfb xauth imagemagick
  xdotool openbox trayer x11-utils dbus desktop-file-utils
  libsystemd-dev systemd
  libgnutls28-dev openssl icecast2 libshout-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
