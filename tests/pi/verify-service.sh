#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Verifies the service's unit and the files it relies on, as the package
# installs them:
#
#   verify-service.sh PACKAGE.deb
#
# - systemd-analyze verifies the unit without a complaint, and rates its
#   exposure 2.0 or lower ("OK" or better)
# - the user it runs as is the one the package's sysusers file makes, in the
#   groups the package's udev rule gives the SPI device and the GPIO chips;
#   the unit opens those devices and no others
# - the state directory, the --state-dir it passes and the user's home agree
# - its options file is in the package and sets the options the command line
#   uses, MPD on port 6600 among them
# - nothing enables it: no link in the package, no enable in postinst
# - the Avahi file is valid XML and announces the port the service listens on
# - the packaged program's --help lists no option that tunelarkd(8) lacks,
#   and its --version is the package's
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 PACKAGE.deb [RUNNER...]" >&2
  exit 2
fi
deb=$1
shift
# What runs a target program here (qemu for a cross build; nothing natively).
runner=("$@")
readonly UNIT=tunelarkd.service
# The service's own default listen port, when the options name none.
readonly DEFAULT_PORT=8080
readonly MAX_EXPOSURE=2.0

command -v systemd-analyze >/dev/null || { echo "FAIL: systemd-analyze missing (Debian's systemd package)" >&2; exit 1; }

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/files" || { echo "FAIL: dpkg-deb cannot unpack $deb" >&2; exit 1; }
dpkg-deb -e "$deb" "$root/control" || { echo "FAIL: no control area in $deb" >&2; exit 1; }
files=$root/files
unit="$files/usr/lib/systemd/system/$UNIT"
[ -f "$unit" ] || { echo "FAIL: the package has no $UNIT" >&2; exit 1; }
for dir in /usr/lib/systemd/system /lib/systemd/system; do
  [ -d "$dir" ] && cp -rn "$dir/." "$files/usr/lib/systemd/system/" 2>/dev/null
done

# The last value of a setting, and all of them (settings may repeat).
value() { sed -n "s/^$1=//p" "$unit" | tail -n 1; }
values() { sed -n "s/^$1=//p" "$unit"; }

# --- systemd's own verdict ---------------------------------------------------
report=$(MANPATH="$files/usr/share/man" SYSTEMD_LOG_COLOR=0 systemd-analyze verify --root="$files" "$UNIT" 2>&1)
status=$?
[ "$status" -eq 0 ] || fail "systemd-analyze verify exit status $status"
[ -z "$report" ] || fail "systemd-analyze verify complains:
$report"

security=$(SYSTEMD_LOG_COLOR=0 systemd-analyze security --no-pager --offline=true --root="$files" "$UNIT" 2>&1)
exposure=$(sed -n "s/.*Overall exposure level for $UNIT: \([0-9.]*\).*/\1/p" <<<"$security")
if [ -z "$exposure" ]; then
  fail "systemd-analyze security gave no exposure level:
$security"
elif ! awk -v e="$exposure" -v max="$MAX_EXPOSURE" 'BEGIN { exit !(e <= max) }'; then
  fail "exposure $exposure is above $MAX_EXPOSURE:
$(grep '✗' <<<"$security")"
fi

# --- who it runs as, and what it may open ----------------------------------
sysusers="$files/usr/lib/sysusers.d/tunelark.conf"
rules="$files/usr/lib/udev/rules.d/60-tunelark-spidev.rules"
user=$(value User)
[ -n "$user" ] && [ "$user" != root ] || fail "User=${user:-(none)}: the service would run as root"
user_line=$(awk -v u="$user" '$1 == "u" && $2 == u' "$sysusers" 2>/dev/null)
[ -n "$user_line" ] || fail "no sysusers line makes the user $user"
groups=$(awk -v u="$user" '$1 == "m" && $2 == u { print $3 }' "$sysusers" 2>/dev/null)
# The group the rule gives the nodes matching a kernel name.
rule_group() {
  grep -E "KERNEL==\"$1\"" "$rules" 2>/dev/null | sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' | tail -n 1
}
for kernel in 'spidev\*' 'gpiochip\*'; do
  group=$(rule_group "$kernel")
  name=${kernel%\\*}
  if [ -z "$group" ]; then
    fail "no udev rule gives the $name nodes a group: where the system leaves them to root, $user cannot open them"
  elif ! grep -Fxq -- "$group" <<<"$groups"; then
    fail "the udev rule gives the $name nodes to the group $group, which $user is not in (${groups//$'\n'/ })"
  fi
  grep -E "KERNEL==\"$kernel\"" "$rules" | grep -q 'MODE="0660"' || fail "the $name nodes are not mode 0660 for their group"
done
[ -z "$(value CapabilityBoundingSet)" ] && grep -q '^CapabilityBoundingSet=$' "$unit" ||
  fail "CapabilityBoundingSet is not empty"
[ "$(value PrivateNetwork)" != yes ] || fail "PrivateNetwork=yes: the remote could not be reached"
devices=$(values DeviceAllow | awk '{ print $1 }' | sort -u)
[ "$devices" = "$(printf 'char-gpiochip\nchar-spi')" ] ||
  fail "DeviceAllow is not the SPI and GPIO devices alone: $(echo $devices)"

# A device the unit waits for exists for systemd only when a rule tags it.
for device_unit in $(values After | tr ' ' '\n' | grep '^dev-.*\.device$'); do
  kernel_name=${device_unit#dev-}
  kernel_name=${kernel_name%.device}
  grep -E "KERNEL==\"$kernel_name\"" "$rules" 2>/dev/null | grep -q 'TAG+="systemd"' ||
    fail "$UNIT waits for $device_unit, which no udev rule of the package tags for systemd"
done

# --- state directory -----------------------------------------------------
state_dir=/var/lib/$(value StateDirectory)
exec_start=$(value ExecStart)
program=${exec_start%% *}
[ "$(value StateDirectory)" != "" ] || fail "no StateDirectory: nothing makes the service's directory"
[ -x "$files$program" ] || fail "ExecStart runs $program, which the package lacks"
grep -q -- "--state-dir $state_dir\\( \\|$\\)" <<<"$exec_start" ||
  fail "ExecStart=$exec_start does not pass the state directory $state_dir"
# The fields are quoted as in a shell: the description has spaces.
home=$(python3 -c 'import shlex, sys; print(shlex.split(sys.argv[1])[4])' "$user_line" 2>/dev/null)
[ "$home" = "$state_dir" ] || fail "the user's home $home is not the state directory $state_dir"

# --- options ---------------------------------------------------------------
environment_file=$(value EnvironmentFile)
environment_file=${environment_file#-}
if [ ! -f "$files$environment_file" ]; then
  fail "EnvironmentFile=$environment_file is not in the package"
else
  grep -Fxq -- "$environment_file" "$root/control/conffiles" 2>/dev/null ||
    fail "$environment_file is not a conffile: an upgrade would undo the administrator's changes"
  # The file as systemd reads it: shell-like assignments.
  options=$(env -i sh -c "set -a; . '$files$environment_file'; printf '%s' \"\$TUNELARKD_OPTS\"")
  grep -q '\$TUNELARKD_OPTS\b' <<<"$exec_start" || fail "ExecStart does not take \$TUNELARKD_OPTS"
  grep -Eq -- "--mpd [^ ]*:6600( |$)" <<<"$options" || fail "the options do not serve MPD on port 6600: '$options'"
fi
listen_port=$(grep -Eo -- '--listen [^ ]*:[0-9]+' <<<"${options:-}" | head -n 1 | sed 's/.*://')
listen_port=${listen_port:-$DEFAULT_PORT}

# --- not enabled -------------------------------------------------------------
find "$files/etc/systemd" -name "$UNIT" 2>/dev/null | grep -q . && fail "the package enables $UNIT itself"
for script in postinst postrm prerm; do
  [ -f "$root/control/$script" ] || continue
  sed 's/#.*//' "$root/control/$script" | grep -Eq '(systemctl|deb-systemd-helper)[^;|&]* (enable|reenable)\b' &&
    fail "$script enables a unit: the service would take the chip from the terminal radio"
done

# --- announcement --------------------------------------------------------------
avahi="$files/etc/avahi/services/$UNIT"
if [ ! -f "$avahi" ]; then
  fail "no Avahi service file"
else
  announced=$(python3 - "$avahi" <<'EOF'
import sys, xml.etree.ElementTree as ET
group = ET.parse(sys.argv[1]).getroot()
name = group.find("name")
for service in group.findall("service"):
    print(name.text, name.get("replace-wildcards"), service.findtext("type"), service.findtext("port"), sep="|")
EOF
  )
  [ $? -eq 0 ] || fail "the Avahi file is not valid XML"
  grep -Fxq "Tunelark on %h|yes|_http._tcp|$listen_port" <<<"$announced" ||
    fail "the Avahi file does not announce \"Tunelark on <host>\" as _http._tcp on port $listen_port: $announced"
fi

# --- the program against its man page -----------------------------------
page="$files/usr/share/man/man8/tunelarkd.8.gz"
if [ -x "$files$program" ] && [ -f "$page" ]; then
  help=$("${runner[@]}" "$files$program" --help 2>&1)
  status=$?
  [ "$status" -eq 0 ] || fail "tunelarkd --help: exit status $status: $help"
  manual=$(MANWIDTH=400 man -l "$page" 2>/dev/null | col -b)
  options=$(grep -Eo -- '--[a-z][a-z-]*' <<<"$help" | sort -u)
  [ -n "$options" ] || fail "tunelarkd --help lists no option: $help"
  for option in $options; do
    grep -Eq -- "(^|[^a-z-])$option([^a-z-]|$)" <<<"$manual" || fail "tunelarkd(8) does not document $option, which --help lists"
  done
  package_version=$(dpkg-deb -f "$deb" Version)
  upstream_version=${package_version%%~*}
  version=$("${runner[@]}" "$files$program" --version 2>&1)
  grep -Fq -- "$upstream_version" <<<"$version" || fail "tunelarkd --version says '$version', the package is $package_version"
fi

if [ "$failures" -ne 0 ]; then
  echo "--- $unit ---" >&2
  cat "$unit" >&2
  exit 1
fi
echo "$UNIT: ok (exposure $exposure)"
