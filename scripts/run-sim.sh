#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a fresh Debian machine, builds the radio for the simulated board and
# runs it. The station list is kept in ./radio (the working directory of the
# radio); the simulated board keeps its state in ./radio/board, so a chip left
# playing is found playing by the next run. Arguments go to the radio
# (for example -S 53761 to start that service).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/scripts/setup-deps.sh"
(cd "$top" && cmake --preset sim >/dev/null)
cmake --build "$top/build/sim" -j2 --target Tunelark
mkdir -p "$top/radio"
cd "$top/radio"
export SI468X_SIM_BOARD="$top/radio/board"
export SI468X_SIM_CLOCK="${SI468X_SIM_CLOCK:-real}"
exec "$top/build/sim/app/Tunelark" "$@"
