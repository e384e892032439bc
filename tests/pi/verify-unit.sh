#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Verifies the autostart unit as the package installs it:
#
#   verify-unit.sh PACKAGE.deb
#
# The package is unpacked over a staged root that holds this machine's
# systemd units, and systemd-analyze verifies an instance there: the unit must
# parse without a single complaint, its ExecStart must name the packaged
# program, and its Documentation must resolve to the packaged man page. Then
# the pieces that only make sense together: the working directory is the
# state directory systemd creates, and the device the unit waits for is the
# one the package's udev rule makes visible to systemd.
set -uo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 PACKAGE.deb" >&2
  exit 2
fi
deb=$1
# A service identifier as stationlist.txt lists them.
readonly INSTANCE=tunelark@53543.service

command -v systemd-analyze >/dev/null || { echo "FAIL: systemd-analyze missing (Debian's systemd package)" >&2; exit 1; }

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb cannot unpack $deb" >&2; exit 1; }
unit="$root/usr/lib/systemd/system/tunelark@.service"
[ -f "$unit" ] || { echo "FAIL: the package has no tunelark@.service" >&2; exit 1; }
# The targets and services the unit is ordered against, from this machine;
# the package's own files win.
for dir in /usr/lib/systemd/system /lib/systemd/system; do
  [ -d "$dir" ] && cp -rn "$dir/." "$root/usr/lib/systemd/system/" 2>/dev/null
done

# The unit runs the radio through the system's shell (to read its outcome);
# the unpacked package has none of its own.
mkdir -p "$root/bin" && cp /bin/sh "$root/bin/sh"

# Warnings do not change systemd-analyze's exit status: any output fails.
report=$(MANPATH="$root/usr/share/man" SYSTEMD_LOG_COLOR=0 systemd-analyze verify --root="$root" "$INSTANCE" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "systemd-analyze verify exit status $status"
[ -z "$report" ] || fail "systemd-analyze verify complains:
$report"

value() { sed -n "s/^$1=//p" "$unit"; }
state_dir=$(value StateDirectory)
working_dir=$(value WorkingDirectory)
[ -n "$state_dir" ] || fail "no StateDirectory: nothing creates the working directory"
[ "$working_dir" = "/var/lib/$state_dir" ] ||
  fail "WorkingDirectory=$working_dir is not the state directory /var/lib/$state_dir"
[ "$(value StandardInput)" = null ] || fail "StandardInput is not null: a missing station list would wait for a key"
grep -q '^Environment=TERM=' "$unit" || fail "no TERM: curses cannot start the menu under systemd"
exec_start=$(value ExecStart)
# The radio itself, or the radio in the shell line that reads its last line
# for the outcome.
case "$exec_start" in
"/usr/bin/Tunelark -S %i" | "/bin/sh -c '/usr/bin/Tunelark -S %i | "*) ;;
*) fail "ExecStart=$exec_start does not start the instance's service" ;;
esac

# The unit waits for the SPI device; systemd only knows devices tagged for it.
device_unit=$(value Requires)
rules="$root/usr/lib/udev/rules.d/60-tunelark-spidev.rules"
if [ -n "$device_unit" ]; then
  kernel_name=${device_unit#dev-}
  kernel_name=${kernel_name%.device}
  grep -q "^After=.*$device_unit" "$unit" || fail "Requires=$device_unit without After=: the start would not wait"
  if ! grep -E "KERNEL==\"$kernel_name\"" "$rules" 2>/dev/null | grep -q 'TAG+="systemd"'; then
    fail "$device_unit is required but no udev rule of the package tags $kernel_name for systemd"
  fi
fi

if [ "$failures" -ne 0 ]; then
  echo "--- $unit ---" >&2
  cat "$unit" >&2
  exit 1
fi
echo "$INSTANCE: ok"
