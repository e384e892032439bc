#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Raspberry Pi side of CI: cross builds for arm64 and armhf with stand-in
# firmware (the radio, the diagnostics program and the service), the smoke
# tests of the Pi build under qemu, the Debian packages and their checks
# (contents, Depends, the units and the service's exposure score, lintian),
# and the simulated board's test suite cross-built for arm64 and run under
# qemu.
#
#   scripts/ci-cross.sh [--no-setup] [build root, default build]
#
# --no-setup: the caller ran scripts/setup-cross.sh --skip-list
# <build root>/cross-unavailable already (scripts/test-all.sh does, while the
# native presets build).
#
# Every step runs even after an earlier one failed (a failed build skips only
# its own tests); the exit status is non-zero when any step failed. An
# architecture the archive cannot serve (named in cross-unavailable by the
# set-up) is skipped, and the summary says so.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

setup=yes
if [ "${1:-}" = "--no-setup" ]; then
  setup=no
  shift
fi
build_root=${1:-build}
skip_list="$build_root/cross-unavailable"
readonly PI_PRESETS=(pi-arm64-standin pi-armhf-standin)
readonly SIM_PRESET=sim-arm64
# The whole suite runs under qemu, also the tests that start the radio or the
# diagnostics program as a child process: as root, the toolchain's emulator
# (cmake/toolchains/qemu-run.sh) gives each test a namespace where the kernel
# hands target programs to qemu.
if [ "$(id -u)" -ne 0 ]; then
  echo "Run as root: the set-up installs packages and the tests need root." >&2
  exit 1
fi

failed=()
timings=()
section() { printf '\n======== %s ========\n' "$*"; }
# step NAME COMMAND...: runs, times and records one step.
step() {
  local name=$1 started=$SECONDS
  shift
  section "$name"
  if "$@"; then
    timings+=("$(printf '%5ds  ok    %s' $((SECONDS - started)) "$name")")
    return 0
  fi
  timings+=("$(printf '%5ds  FAIL  %s' $((SECONDS - started)) "$name")")
  failed+=("$name")
  return 1
}

configure_and_build() {
  local preset=$1
  cmake --preset "$preset" -B "$build_root/$preset" -DCMAKE_COLOR_DIAGNOSTICS=OFF >"$build_root/$preset.configure.log" 2>&1 ||
    { cat "$build_root/$preset.configure.log"; return 1; }
  cmake --build "$build_root/$preset" -j2
}

total_started=$SECONDS
mkdir -p "$build_root"

if [ "$setup" = yes ]; then
  step "Set-up: Debian packages for the build, the cross compilers, qemu" \
    bash -c 'scripts/setup-deps.sh && scripts/setup-cross.sh --skip-list "$1"' _ "$skip_list" || true
fi
# unavailable ARCH: the set-up found the archive's index for ARCH broken.
unavailable() { [ -f "$skip_list" ] && grep -q "^$1:" "$skip_list"; }
skipped=()
skip() { # preset arch
  timings+=("$(printf '%5ds  SKIP  %s (%s)' 0 "$1" "$(grep -m1 "^$2:" "$skip_list")")")
  skipped+=("$1")
}

for preset in "${PI_PRESETS[@]}"; do
  arch=${preset#pi-}
  arch=${arch%-standin}
  if unavailable "$arch"; then
    skip "$preset" "$arch"
    continue
  fi
  if step "Build $preset" configure_and_build "$preset"; then
    # Smoke tests under qemu, then cpack and the package and unit checks.
    step "Smoke tests and package checks: $preset" \
      ctest --test-dir "$build_root/$preset" --output-on-failure -L pi || true
  fi
done

# The tests that start the radio, the diagnostics program or themselves as a
# child need the namespace's own binfmt_misc (Linux 6.7 on). A kernel without
# it still runs every test that stays in its process.
sim_selection=()
if ! unshare --user --map-root-user --mount \
  sh -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc' 2>/dev/null; then
  echo "No private binfmt_misc on this kernel ($(uname -r)): under qemu only the tests" \
    "that start no program run (labels link, driver, dab, sim)."
  sim_selection=(-L '^(link|driver|dab|sim)$' -E '^BoardHostProcess\.')
fi

# The service's tests that drive it from the host's own programs (Python
# clients, the browser) check the page and the protocols, not the target's
# code; they carry these labels and run in the native suites only.
readonly HOST_ONLY_LABELS='^(python|browser)$'

if unavailable arm64; then
  skip "$SIM_PRESET" arm64
elif step "Build $SIM_PRESET" configure_and_build "$SIM_PRESET"; then
  step "Simulated board's tests under qemu: $SIM_PRESET" \
    ctest --test-dir "$build_root/$SIM_PRESET" --output-on-failure -j4 "${sim_selection[@]}" \
    -LE "$HOST_ONLY_LABELS" || true
fi

section "Packages"
for preset in "${PI_PRESETS[@]}"; do
  for deb in "$build_root/$preset"/tests/pi/package/*.deb; do
    [ -f "$deb" ] || continue
    echo "$deb"
    dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/    /'
  done
done

section "Summary"
printf '%s\n' "${timings[@]}"
printf '%5ds  total\n' $((SECONDS - total_started))
if [ ${#skipped[@]} -ne 0 ]; then
  echo "SKIPPED, the archive could not serve their packages: ${skipped[*]}"
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "Failed: ${failed[*]}"
  exit 1
fi
echo "All cross steps that ran passed."
