#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds tunelarkd, starts it on the simulated board (state and board under
# the build tree) on 127.0.0.1:8080, and prints the pairing address and its
# QR code: open the address in a browser on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset sim >/dev/null
cmake --build --preset sim -j2 --target tunelarkd
run="$PWD/build/sim/remote-sim"
mkdir -p "$run/state"
export SI468X_SIM_BOARD="$run/board"
listen="${TUNELARK_LISTEN:-127.0.0.1:8080}"
build/sim/daemon/tunelarkd --state-dir "$run/state" --listen "$listen" --pair
echo "No stations yet? Press Scan on the page. Ctrl+C stops the service (the board plays on)."
exec build/sim/daemon/tunelarkd --state-dir "$run/state" --listen "$listen"
