#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole test suite, as CI runs it: the format check, then every preset
# built and tested — the simulated board with g++ (the build the radio ships
# as: every test, the page in a real browser too), with clang++ under
# AddressSanitizer + UndefinedBehaviorSanitizer and the bounded fuzz runs
# (every test but the browser's; both compilers build warning-free; each runs
# the end-to-end scenes on both paths of the board link: label e2e on a
# simulated Pi 4 through the bcm2835 library, label e2e-kernel on a simulated
# Pi 5 through spidev and the GPIO character device, from the same build), and
# last the cross builds for the Pi (scripts/ci-cross.sh): the Pi build with the
# real bcm2835 library for arm64 and armhf, whose smoke tests under qemu show
# it failing cleanly on a machine that is not a Pi, their Debian packages and
# autostart unit checked, and the simulated board's suite cross-built for
# arm64 and run under qemu. (The native pi-standin preset runs the same smoke
# tests as the cross builds; `ctest --preset pi-standin` runs them by hand.)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cd "$top"

section() { printf '\n=== %s ===\n' "$*"; }

# Each stage's wall time, printed at the end (also when a stage fails), so a
# slow stage shows without reading the whole log.
stages=()
current=""
stage_start=$SECONDS
run_start=$SECONDS
stage() { # name command...
  local name=$1
  shift
  current=$name
  stage_start=$SECONDS
  "$@"
  stages+=("$(printf '%6ds  ok      %s' $((SECONDS - stage_start)) "$name")")
  current=""
}
summary() {
  local status=$?
  if [ -n "$current" ]; then
    stages+=("$(printf '%6ds  FAILED  %s' $((SECONDS - stage_start)) "$current")")
  fi
  printf '\n======== Time by stage ========\n'
  printf '%s\n' "${stages[@]}"
  printf '%6ds  total\n' $((SECONDS - run_start))
  exit "$status"
}
trap summary EXIT

stage "Debian packages" "$top/scripts/setup-deps.sh"
# The cross compilers and the Pi libraries download and unpack while the
# native presets build: the network and the disk, not the cores.
mkdir -p "$top/build"
cross_setup_log="$top/build/setup-cross.log"
"$top/scripts/setup-cross.sh" --skip-list "$top/build/cross-unavailable" >"$cross_setup_log" 2>&1 &
cross_setup=$!

section "format"
stage "format check" "$top/scripts/check-format.sh"

for preset in sim asan; do
  section "preset $preset"
  stage "configure and build: $preset" \
    bash -c "cmake --preset '$preset' >/dev/null && cmake --build --preset '$preset' -j2"
  stage "tests: $preset" ctest --preset "$preset"
  # The web remote's screenshots, one per step at each size.
  screens="$top/build/$preset/tests/web-screens"
  if compgen -G "$screens/*.png" >/dev/null; then
    echo "The web remote in the browser, step by step:"
    printf '  %s\n' "$screens"/*.png
  fi
done

section "cross builds for the Pi"
cross_setup_status=0
wait "$cross_setup" || cross_setup_status=$?
cat "$cross_setup_log"
# On a failure ci-cross.sh runs the set-up again and reports it as its step.
cross_options=(--no-setup)
if [ "$cross_setup_status" -ne 0 ]; then
  echo "The cross set-up in the background failed ($cross_setup_status)."
  cross_options=()
fi
stage "cross builds, packages and the arm64 suite under qemu" "$top/scripts/ci-cross.sh" "${cross_options[@]}"
if [ -s "$top/build/cross-unavailable" ]; then
  stages+=("$(printf '%6s  SKIPPED %s' - "cross builds of an architecture the archive could not serve:")")
  while read -r line; do stages+=("$(printf '%6s          %s' '' "$line")"); done <"$top/build/cross-unavailable"
fi
