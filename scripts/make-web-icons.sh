#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the web remote's PNG icons (home screens that take no SVG) from
# daemon/web/icon.svg with the headless browser. Run after changing the SVG;
# the PNGs are committed, so the build needs no browser.
set -euo pipefail
cd "$(dirname "$0")/.."
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for size in 192 512; do
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$scratch/profile-$size" --hide-scrollbars --default-background-color=00000000 \
    --window-size="$size,$size" --screenshot="daemon/web/icon-$size.png" \
    "file://$PWD/daemon/web/icon.svg" >/dev/null 2>&1
  echo "daemon/web/icon-$size.png"
done
