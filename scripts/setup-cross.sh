#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what the cross builds for the Raspberry Pi need, when missing:
# Debian's cross compilers, qemu's user-mode emulators (the cross-built
# programs and tests run under them), the target's libraries through
# multiarch, and the packaging and unit-checking tools.
# Idempotent, and quiet when everything is there.
#
#   scripts/setup-cross.sh [--skip-list FILE] [arm64] [armhf]
#                                            (both when none is named)
#
# With --skip-list, an architecture whose package index the archive does not
# deliver (a mirror left half-synced, "File has unexpected size", for days)
# is written to FILE with the reason, and the other architecture is set up
# all the same; scripts/ci-cross.sh reports its builds as skipped. Without
# it, that is a failure.
set -euo pipefail

skip_list=""
if [ "${1:-}" = "--skip-list" ]; then
  skip_list=$2
  shift 2
  rm -f "$skip_list"
fi
architectures=("$@")
[ ${#architectures[@]} -eq 0 ] && architectures=(arm64 armhf)

host_packages=(
  build-essential cmake ninja-build pkg-config
  qemu-user dpkg-dev systemd man-db file
)
target_packages=()
declare -A arch_packages
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
    arch_packages[arm64]="libbcm2835-dev:arm64 libncurses-dev:arm64 libstdc++6:arm64
                          libgtest-dev:arm64 libgmock-dev:arm64 libvterm-dev:arm64
                          ${service_packages[*]/%/:arm64}"
    ;;
  armhf)
    host_packages+=(g++-arm-linux-gnueabihf binutils-arm-linux-gnueabihf)
    arch_packages[armhf]="libbcm2835-dev:armhf libncurses-dev:armhf libstdc++6:armhf
                          ${service_packages[*]/%/:armhf}"
    ;;
  *)
    echo "Unknown architecture: $arch (arm64 or armhf)" >&2
    exit 2
    ;;
  esac
  # shellcheck disable=SC2206 # a list of package names, split on purpose
  target_packages+=(${arch_packages[$arch]})
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
apt_install "${missing[@]}" && exit 0
[ -n "$skip_list" ] || exit 1

# One architecture's broken index makes apt drop the whole suite's update for
# every architecture, so each is tried on its own: the host's packages with
# only the host's indexes, then each target with the host's and its own.
host_arch=$(dpkg --print-architecture)
only_host=(-o "APT::Architectures::=$host_arch")
echo "Trying each architecture on its own."
apt-get update -qq "${only_host[@]}" >/dev/null
apt-get install -y -qq --no-install-recommends "${host_packages[@]}" >/dev/null
for arch in "${architectures[@]}"; do
  errors=$(apt-get update -qq "${only_host[@]}" -o "APT::Architectures::=$arch" 2>&1 >/dev/null) || true
  if grep -q "binary-$arch" <<<"$errors"; then
    reason=$(grep -m1 "binary-$arch" <<<"$errors" | sed -E 's#^E: ##; s#[a-z]+://[^ ]*/(dists/)#\1#')
    echo "$arch: the archive does not deliver its package index: $reason" | tee -a "$skip_list"
    continue
  fi
  # shellcheck disable=SC2086 # a list of package names, split on purpose
  apt-get install -y -qq --no-install-recommends ${arch_packages[$arch]} >/dev/null
done
