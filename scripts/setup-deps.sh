#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build and the tests need, when missing.
# Idempotent, and quiet when everything is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang clang-format libclang-rt-14-dev
  libbcm2835-dev libncurses-dev
  libgtest-dev libgmock-dev googletest
  nlohmann-json3-dev libvterm-dev libbenchmark-dev
  libmicrohttpd-dev libqrencode-dev libmosquitto-dev
  util-linux wrk
  dpkg-dev file man-db systemd lintian
  mosquitto mosquitto-clients mpc python3-mpd python3-paho-mqtt
  chromium chromium-driver python3-selenium
)
# Extra packages a caller asks for (the cross builds add theirs).
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]} (run this script as root to install them)" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
. "$(dirname "$0")/apt-install.sh"
apt_install "${missing[@]}"
