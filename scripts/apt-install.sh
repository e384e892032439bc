# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the set-up scripts: installs Debian packages, trying again when
# the archive answers with an index caught mid-sync ("File has unexpected
# size"), which passes within a minute or two and should not fail a run.
#
#   apt_install PACKAGE...
apt_install() {
  local attempt
  export DEBIAN_FRONTEND=noninteractive
  for attempt in 1 2 3 4 5; do
    if apt-get update -qq >/dev/null && apt-get install -y -qq --no-install-recommends "$@" >/dev/null; then
      return 0
    fi
    [ "$attempt" -lt 5 ] || break
    echo "apt-get failed (try $attempt of 5); trying again in 30 s." >&2
    sleep 30
  done
  return 1
}
