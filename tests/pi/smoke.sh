#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the Pi build of Tunelark on a machine that is not a Pi: the real
# bcm2835 library cannot map the peripherals there, so the radio must stop at
# the board link with its SPI message, cleanly, with exit status 0.
#
#   smoke.sh CASE COMMAND...
#
# COMMAND is the program, optionally behind an emulator
# ("qemu-aarch64 -L /usr/aarch64-linux-gnu .../Tunelark"). CASE:
#   spi-error   as root, station list present, no input: start line, the SPI
#               message, and nothing that waits for a key
#   first-start as root, no station list, input at end of file: the
#               first-start notice must give up on EOF and reach the SPI message
#   not-root    as an ordinary user: start line and the root message only;
#               the working directory stays untouched
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 spi-error|first-start|not-root COMMAND..." >&2
  exit 2
fi
case_name=$1
shift
# The run happens in a temporary working directory: paths given relative to
# the caller's are made absolute first.
command=()
for word in "$@"; do
  if [ -e "$word" ]; then
    command+=("$(realpath -- "$word")")
  else
    command+=("$word")
  fi
done
set -- "${command[@]}"

readonly START_LINE="Starting...Corvane Software v0.16.5"
readonly SPI_ENABLED="SPI bus enabled."
readonly SPI_ERROR="Error initializing SPI bus. Check that SPI is enabled and that /dev/spidev0.0 exists"
readonly ROOT_MESSAGE="Must be called as root. Did you forget sudo?"
readonly NOTICE_HEAD="Please note:"
readonly NOTICE_CONFIRM="Please confirm with pressing ENTER"
# A hang (a wait that never sees end of input) is a failure, not a stall.
readonly LIMIT_SECONDS=20

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

base=$(mktemp -d)
trap 'rm -rf "$base"' EXIT
# The working directory is open to everyone, so that an ordinary user could
# write there: only the program decides what lands in it. The captured output
# lies beside it, not in it.
work=$base/work
mkdir "$work"
chmod 777 "$work"

# Root is the normal case (the radio maps the peripherals). A developer who is
# not root still gets a root identity through a user namespace.
as_root=()
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  if ! unshare -r true 2>/dev/null; then
    echo "SKIP: not root and no user namespace to become root in"
    exit 77
  fi
  as_root=(unshare -r)
fi

# stdout and stderr are kept apart: the library's own complaint goes to stderr
# and must not be mistaken for the radio's messages.
run() {
  (cd "$work" && timeout --kill-after=5 "$LIMIT_SECONDS" "$@" </dev/null >"$base/out" 2>"$base/err")
  status=$?
  stdout=$(cat "$base/out")
  stderr=$(cat "$base/err")
}

has_line() { grep -Fxq -- "$2" <<<"$1"; }
line_no() { grep -Fxn -- "$2" <<<"$1" | head -n1 | cut -d: -f1; }

expect_clean_exit() {
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    fail "still running after ${LIMIT_SECONDS} s (waiting for input?)"
  elif [ "$status" -gt 128 ]; then
    fail "ended by signal $((status - 128))"
  elif [ "$status" -ne 0 ]; then
    fail "exit status $status, expected 0"
  fi
}

expect_start_line_first() {
  first=$(head -n1 <<<"$stdout")
  [ "$first" = "$START_LINE" ] || fail "first line is '$first', expected '$START_LINE'"
}

expect_spi_failure() {
  has_line "$stdout" "$SPI_ERROR" || fail "SPI error message missing"
  has_line "$stdout" "$SPI_ENABLED" && fail "'$SPI_ENABLED' printed although the link cannot open"
  # The failure exit is the end of the run: nothing of the bring-up follows.
  last=$(tail -n1 <<<"$stdout")
  [ "$last" = "$SPI_ERROR" ] || fail "output goes on after the SPI error: '$last'"
}

# A minimal valid station list with no ensembles; the run never gets as far
# as reading it, only its presence matters.
write_station_list() {
  printf '%s\n' "Automatically generated and machine read file, do not change!" "Volume: 40" \
    "Date of scan (YYYY-MM-DD, HH:MM:SS): 2024-1-2, 3:4:5" "Num. Ensembles: 0" >"$work/stationlist.txt"
}

case "$case_name" in
spi-error)
  write_station_list
  run "${as_root[@]}" "$@"
  expect_clean_exit
  expect_start_line_first
  expect_spi_failure
  has_line "$stdout" "$NOTICE_HEAD" && fail "first-start notice shown although stationlist.txt exists"
  has_line "$stdout" "$ROOT_MESSAGE" && fail "root check refused root"
  ;;
first-start)
  run "${as_root[@]}" "$@"
  expect_clean_exit
  expect_start_line_first
  has_line "$stdout" "$NOTICE_HEAD" || fail "first-start notice missing without stationlist.txt"
  has_line "$stdout" "$NOTICE_CONFIRM" || fail "first-start notice does not ask for ENTER"
  expect_spi_failure
  # The notice comes before the board link is opened.
  notice_at=$(line_no "$stdout" "$NOTICE_CONFIRM")
  error_at=$(line_no "$stdout" "$SPI_ERROR")
  if [ -n "$notice_at" ] && [ -n "$error_at" ] && [ "$notice_at" -gt "$error_at" ]; then
    fail "first-start notice after the SPI error"
  fi
  [ -e "$work/stationlist.txt" ] && fail "stationlist.txt created although nothing was scanned"
  ;;
not-root)
  if [ ${#as_user[@]} -eq 0 ]; then
    # Already an ordinary user.
    run "$@"
  else
    run "${as_user[@]}" "$@"
  fi
  expect_clean_exit
  expected=$(printf '%s\n%s' "$START_LINE" "$ROOT_MESSAGE")
  [ "$stdout" = "$expected" ] || fail "output is not exactly the start line and the root message:
$stdout"
  if [ -n "$(ls -A "$work")" ]; then
    fail "working directory touched: $(ls -A "$work")"
  fi
  ;;
*)
  echo "unknown case: $case_name" >&2
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "--- stdout ---" >&2
  echo "$stdout" >&2
  echo "--- stderr ---" >&2
  echo "$stderr" >&2
  exit 1
fi
echo "$case_name: ok"
