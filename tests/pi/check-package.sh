#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks a built Debian package of the radio:
#
#   check-package.sh PACKAGE.deb standin|images
#
# - name, version and architecture fields agree with each other, with the
#   file name and with the machine the packaged programs are built for; a
#   stand-in build carries the "~standin" version, a build with images not
# - exactly the expected files are inside (no firmware image, nothing stray),
#   the programs stripped and executable, the maintainer scripts valid shell
# - every shared library the programs need is covered by Depends, and the
#   statically linked bcm2835 is not a dependency; a library that Debian 13
#   renamed for 64-bit time is offered under both names
# - the man page renders and documents every failure message of the radio;
#   the service's renders and documents every option
# - the service's files in /etc are conffiles, and nothing else is
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 PACKAGE.deb standin|images" >&2
  exit 2
fi
deb=$1
kind=$2
readonly VERSION=0.16.5

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

[ -f "$deb" ] || { echo "FAIL: no package at $deb" >&2; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/files" || { echo "FAIL: dpkg-deb cannot unpack $deb" >&2; exit 1; }
dpkg-deb -e "$deb" "$root/control" || { echo "FAIL: no control area in $deb" >&2; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }

# --- fields --------------------------------------------------------------
package=$(field Package)
version=$(field Version)
arch=$(field Architecture)
[ "$package" = tunelark ] || fail "Package is '$package'"
case "$kind" in
standin) expected_version="$VERSION~standin" ;;
images) expected_version="$VERSION" ;;
*) echo "kind must be standin or images" >&2; exit 2 ;;
esac
[ "$version" = "$expected_version" ] || fail "Version is '$version', expected '$expected_version'"
if [ "$kind" = standin ]; then
  field Description | grep -q "STAND-IN FIRMWARE" || fail "stand-in package does not say so in its description"
fi
expected_name="${package}_${version}_${arch}.deb"
[ "$(basename "$deb")" = "$expected_name" ] || fail "file name $(basename "$deb"), expected $expected_name"

# The machine the radio is built for decides the architecture.
machine=$(LC_ALL=C readelf -h "$root/files/usr/bin/Tunelark" 2>/dev/null | sed -n 's/^ *Machine: *//p')
elf_class=$(LC_ALL=C readelf -h "$root/files/usr/bin/Tunelark" 2>/dev/null | sed -n 's/^ *Class: *//p')
case "$machine/$elf_class" in
AArch64/ELF64) machine_arch=arm64 ;;
ARM/ELF32) machine_arch=armhf ;;
"Advanced Micro Devices X86-64/ELF64") machine_arch=amd64 ;;
*) machine_arch="unknown ($machine, $elf_class)" ;;
esac
[ "$arch" = "$machine_arch" ] || fail "Architecture is '$arch' but Tunelark is built for $machine_arch"
triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)

# --- files ---------------------------------------------------------------
expected_files=(
  ./usr/bin/Tunelark
  ./usr/share/man/man1/Tunelark.1.gz
  ./usr/lib/systemd/system/tunelark@.service
  ./usr/lib/udev/rules.d/60-tunelark-spidev.rules
  ./usr/share/doc/tunelark/copyright
  ./usr/share/doc/tunelark/changelog.gz
  ./usr/share/doc/tunelark/README.md
)
# The diagnostics program is packaged whenever the build has it, with its
# man page.
optional_files=(./usr/bin/si468x-diag ./usr/share/man/man1/si468x-diag.1.gz)
packaged=$(cd "$root/files" && find . -type f)
if grep -Fxq ./usr/bin/si468x-diag <<<"$packaged"; then
  expected_files+=(./usr/share/man/man1/si468x-diag.1.gz)
fi
# So is the service, with its unit, user, options and announcement.
service_files=(
  ./usr/share/man/man8/tunelarkd.8.gz
  ./usr/lib/systemd/system/tunelarkd.service
  ./usr/lib/sysusers.d/tunelark.conf
  ./etc/default/tunelarkd
  ./etc/avahi/services/tunelarkd.service
)
optional_files+=(./usr/bin/tunelarkd "${service_files[@]}")
has_service=0
if grep -Fxq ./usr/bin/tunelarkd <<<"$packaged"; then
  has_service=1
  expected_files+=("${service_files[@]}")
fi

actual=$(cd "$root/files" && find . -type f -o -type l | sort)
for file in "${expected_files[@]}"; do
  grep -Fxq -- "$file" <<<"$actual" || fail "missing: $file"
done
while IFS= read -r file; do
  [ -z "$file" ] && continue
  known=0
  for allowed in "${expected_files[@]}" "${optional_files[@]}"; do
    [ "$file" = "$allowed" ] && known=1
  done
  [ "$known" -eq 1 ] || fail "unexpected file in the package: $file"
  case "$file" in
  *.bin | *.bif | */firmware/*) fail "firmware image in the package: $file" ;;
  esac
done <<<"$actual"

programs=()
for program in "$root/files/usr/bin/"*; do
  [ -f "$program" ] && programs+=("$program")
done
for program in "${programs[@]}"; do
  name=${program#"$root/files"}
  [ -x "$program" ] || fail "$name is not executable"
  info=$(LC_ALL=C file -b "$program")
  grep -q 'not stripped' <<<"$info" && fail "$name is not stripped"
  program_machine=$(LC_ALL=C readelf -h "$program" | sed -n 's/^ *Machine: *//p')
  [ "$program_machine" = "$machine" ] || fail "$name is built for $program_machine, Tunelark for $machine"
done

for script in postinst postrm; do
  if [ -f "$root/control/$script" ]; then
    [ -x "$root/control/$script" ] || fail "$script is not executable"
    sh -n "$root/control/$script" || fail "$script is not valid shell"
  fi
done
[ -f "$root/control/postinst" ] || fail "no postinst (the autostart's directory is made there)"
if [ "$has_service" -eq 1 ]; then
  [ -f "$root/control/prerm" ] || fail "no prerm: removing the package would leave the service running"
fi

# Every file in /etc is the administrator's: a conffile, so an upgrade keeps
# the changes. A conffile outside the package makes dpkg fail.
etc_files=$(grep '^\./etc/' <<<"$actual" | sed 's/^\.//' | sort)
conffiles=""
[ -f "$root/control/conffiles" ] && conffiles=$(sort "$root/control/conffiles")
[ "$etc_files" = "$conffiles" ] || fail "conffiles are not the files in /etc:
  in /etc: $(echo $etc_files)
  conffiles: $(echo $conffiles)"

# --- dependencies --------------------------------------------------------
depends=$(field Depends)
depends_names=$(tr ',|' '\n' <<<"$depends" | sed 's/^ *//; s/[ (:].*//' | grep -v '^$' | sort -u)
grep -qi bcm2835 <<<"$depends" && fail "Depends names bcm2835, which is linked statically: $depends"
for program in "${programs[@]}"; do
  name=${program#"$root/files"}
  needed=$(LC_ALL=C readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  [ -n "$needed" ] || fail "$name needs no shared library (expected the C library and curses)"
  grep -q bcm2835 <<<"$needed" && fail "$name links bcm2835 dynamically"
  while IFS= read -r library; do
    [ -z "$library" ] && continue
    # The dynamic loader comes with the C library.
    case "$library" in ld-linux*) library=libc.so.6 ;; esac
    owner=""
    while IFS= read -r hit; do
      owning=${hit%%: *}
      path=${hit#*: }
      if [ "${owning#*:}" = "$arch" ] && [[ "$path" == */"$triplet/$library" ]]; then
        owner=${owning%%:*}
        break
      fi
    done < <(dpkg -S "$triplet/$library" 2>/dev/null)
    if [ -z "$owner" ]; then
      fail "$name needs $library, which no installed $arch package provides"
    elif ! grep -Fxq -- "$owner" <<<"$depends_names"; then
      fail "$name needs $library from $owner, which Depends lacks: $depends"
    fi
  done <<<"$needed"
done

# Debian 13 renamed these for 64-bit time on every architecture; on armhf the
# new package does not stand in for the old name. Each group of Depends that
# names one must name the other, so the package installs on both releases.
renamed=(libmicrohttpd12:libmicrohttpd12t64)
IFS=',' read -ra groups <<<"$depends"
for pair in "${renamed[@]}"; do
  old=${pair%%:*} new=${pair#*:}
  grep -Fxq -- "$old" <<<"$depends_names" || grep -Fxq -- "$new" <<<"$depends_names" || continue
  for group in "${groups[@]}"; do
    names=$(tr '|' '\n' <<<"$group" | sed 's/^ *//; s/[ (:].*//')
    if grep -Fxq -- "$old" <<<"$names" || grep -Fxq -- "$new" <<<"$names"; then
      { grep -Fxq -- "$old" <<<"$names" && grep -Fxq -- "$new" <<<"$names"; } ||
        fail "Depends has '$(sed 's/^ *//' <<<"$group")' without the alternative $new | $old"
    fi
  done
done
if [ "$has_service" -eq 1 ]; then
  grep -Fxq systemd <<<"$depends_names" || fail "postinst runs systemd-sysusers, but Depends has no systemd: $depends"
fi

# --- man page ------------------------------------------------------------
page="$root/files/usr/share/man/man1/Tunelark.1.gz"
if [ -f "$page" ]; then
  gzip -t "$page" 2>/dev/null || fail "man page is not valid gzip"
  # Wide enough that no message is broken over lines.
  text=$(MANWIDTH=400 man --warnings -l "$page" 2>"$root/man-warnings" | col -b | tr -s ' ')
  [ -s "$root/man-warnings" ] && fail "man page warnings: $(cat "$root/man-warnings")"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES KEYS "EXIT STATUS" DIAGNOSTICS NOTES; do
    grep -Eq "^$section\$" <<<"$text" || fail "man page lacks section $section"
  done
  messages=(
    "Must be called as root. Did you forget sudo?"
    "Error initializing SPI bus. Check that SPI is enabled and that /dev/spidev0.0 exists"
    "The Si468x chip could not be found."
    "Exit."
    "Error loading firmware (tried 20 times). The Si468x sometimes has problems saving the firmware. You should try again."
    "No services found... quit"
    "Could not save scan results. Exit."
    "Unknown service identifier, stop."
    "User quits."
    "Unplanned exit"
  )
  for message in "${messages[@]}"; do
    grep -Fq -- "$message" <<<"$text" || fail "man page does not explain \"$message\""
  done
  grep -Fq "v$VERSION" <<<"$text" || grep -Fq "$VERSION" <<<"$text" || fail "man page does not carry version $VERSION"
  grep -q '@[A-Z_]*@' <<<"$text" && fail "man page has an unreplaced placeholder"
fi

# --- the service's man page ----------------------------------------------
page="$root/files/usr/share/man/man8/tunelarkd.8.gz"
if [ "$has_service" -eq 1 ] && [ -f "$page" ]; then
  text=$(MANWIDTH=400 man --warnings -l "$page" 2>"$root/man-warnings" | col -b | tr -s ' ')
  [ -s "$root/man-warnings" ] && fail "tunelarkd(8) warnings: $(cat "$root/man-warnings")"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS FILES "EXIT STATUS"; do
    grep -Eq "^$section\$" <<<"$text" || fail "tunelarkd(8) lacks section $section"
  done
  for option in --state-dir --listen --pair --help --version --mpd --mqtt --mqtt-user \
    --mqtt-password-file --mqtt-prefix; do
    grep -Eq -- "^ *$option( |\$)" <<<"$text" || fail "tunelarkd(8) does not explain $option"
  done
  grep -q '@[A-Z_]*@' <<<"$text" && fail "tunelarkd(8) has an unreplaced placeholder"
fi

if [ "$failures" -ne 0 ]; then
  echo "--- dpkg-deb -I ---" >&2
  dpkg-deb -I "$deb" >&2
  echo "--- dpkg-deb -c ---" >&2
  dpkg-deb -c "$deb" >&2
  exit 1
fi
echo "$(basename "$deb"): ok ($arch, $(wc -l <<<"$actual") files, Depends: $depends)"
