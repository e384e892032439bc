#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures the service tunelarkd on the simulated board (not part of the test
# suite):
#   bench/daemon-bench.sh [BUILD_DIR [SECONDS]]
# BUILD_DIR defaults to build/sim (configured with the sim preset if needed),
# SECONDS (the idle window and the load on a playing station) to 30. Writes
# bench/out/daemon/ (daemon.md, the wrk outputs, the wire trace) and prints
# the table. The terminal radio's own station switch comes from
# tunelark-bench in the same run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build/sim}")
seconds=${2:-30}
out=$root/bench/out/daemon

command -v wrk > /dev/null || {
    echo "daemon-bench.sh: wrk is missing (apt-get install wrk)" >&2
    exit 1
}
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset sim -B "$build" > /dev/null
fi
cmake --build "$build" -j2 --target tunelarkd tunelark-bench > /dev/null

rm -rf "$out"
mkdir -p "$out/terminal"
"$build/bench/tunelark-bench" table "$out/terminal" > /dev/null
python3 "$root/bench/daemon_bench.py" "$build/daemon/tunelarkd" "$out" "$seconds" \
    "$out/terminal/table.md"
