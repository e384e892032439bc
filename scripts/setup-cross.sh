#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the cross builds for the Raspberry Pi need, when missing:
# Debian's cross compilers, qemu's user-mode emulators (the cross-built
# programs and tests run under them), the target's libraries through
# multiarch, and the packaging and unit-checking tools.
# Idempotent, and quiet when everything is there.
#
#   scripts/setup-cross.sh [arm64] [armhf]     (both when none is named)
set -euo pipefail

architectures=("$@")
[ ${#architectures[@]} -eq 0 ] && architectures=(arm64 armhf)

host_packages=(
  build-essential cmake ninja-build pkg-config
  qemu-user dpkg-dev systemd man-db file
)
target_packages=()
# The service's libraries (HTTP, QR codes, MQTT), for each target: the service
# is built and packaged with the radio.
service_packages=(libmicrohttpd-dev libqrencode-dev libmosquitto-dev)
for arch in "${architectures[@]}"; do
  case "$arch" in
  arm64)
    host_packages+=(g++-aarch64-linux-gnu binutils-aarch64-linux-gnu)
    # The simulated board's test suite is cross-built for this one only.
    # libstdc++6 is there for dpkg-shlibdeps to resolve the package's
    # dependencies (the cross compiler's own copy belongs to no package).
    target_packages+=(libbcm2835-dev:arm64 libncurses-dev:arm64 libstdc++6:arm64
                      libgtest-dev:arm64 libgmock-dev:arm64 libvterm-dev:arm64
                      "${service_packages[@]/%/:arm64}")
    ;;
  armhf)
    host_packages+=(g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf)
    target_packages+=(libbcm2835-dev:armhf libncurses-dev:armhf libstdc++6:armhf
                      "${service_packages[@]/%/:armhf}")
    ;;
  *)
    echo "Unknown architecture: $arch (arm64 or armhf)" >&2
    exit 2
    ;;
  esac
done
# nlohmann-json3-dev is architecture-independent: the host's copy serves.
host_packages+=(nlohmann-json3-dev)

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

missing=()
for package in "${host_packages[@]}" "${target_packages[@]}"; do
  is_installed "$package" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]} (run this script as root to install them)" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
for arch in "${architectures[@]}"; do
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
  fi
done
. "$(dirname "$0")/apt-install.sh"
apt_install "${missing[@]}"
