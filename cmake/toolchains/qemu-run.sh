#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The cross builds' test emulator: runs a target program under qemu's
# user-mode emulator.
#
#   qemu-run.sh QEMU TRIPLET PROGRAM [ARGS...]
#
# Tests that start the radio as a child process need the kernel itself to run
# target programs, which the build host does not do (no binfmt handler for
# them). Run as root, the program therefore gets a user and mount namespace
# of its own, with identity-mapped users (root stays root, other users can be
# switched to), where a private binfmt_misc instance hands target programs to
# qemu. Nothing outside that namespace changes, and it ends with the program.
# Without root, or where the kernel does not allow a private binfmt_misc
# (before Linux 6.7), the program runs under qemu directly, and only its own
# child programs fail.
set -uo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 QEMU TRIPLET PROGRAM [ARGS...]" >&2
  exit 2
fi
qemu=$1
triplet=$2
shift 2

# ELF header patterns of the target programs (Debian's qemu-user-binfmt).
case "$triplet" in
aarch64-linux-gnu)
  loader=/lib/ld-linux-aarch64.so.1
  magic='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
  mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  ;;
arm-linux-gnueabihf)
  loader=/lib/ld-linux-armhf.so.3
  magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x28\x00'
  mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  ;;
*)
  loader=''
  magic=''
  ;;
esac

direct() {
  # With the target's loader installed through multiarch
  # (scripts/setup-cross.sh) qemu needs no library prefix, and is better
  # without: under one it looks every path up twice, and a child the program
  # forks can hang in that lookup. Otherwise the cross C library's files
  # serve, with the host's paths for what it lacks.
  if [ -n "$loader" ] && [ -e "$loader" ]; then
    exec "$qemu" "$@"
  fi
  exec "$qemu" -L "/usr/$triplet" "$@"
}

if [ "${1:-}" = "--inside-namespace" ]; then
  go=$2
  shift 2
  # The maps are written from outside; until then this side is nobody. Only
  # a program started after that runs as root with its capabilities here.
  while [ ! -e "$go" ]; do
    sleep 0.002
  done
  exec bash "$0" "$qemu" "$triplet" --mapped "$@"
fi

if [ "${1:-}" = "--mapped" ]; then
  shift
  if mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null &&
    printf '%s' ":tunelark-$triplet:M::$magic:$mask:$(command -v "$qemu"):F" \
      >/proc/sys/fs/binfmt_misc/register 2>/dev/null; then
    # No library prefix here: the children would inherit it, and under it
    # qemu looks every path up twice, which slows the radio's runs by an
    # order of magnitude. The target's loader and libraries are installed
    # through multiarch (scripts/setup-cross.sh).
    exec "$qemu" "$@"
  fi
  direct "$@"
fi

if [ "$(id -u)" -ne 0 ] || [ -z "$magic" ] || ! unshare --user --mount true 2>/dev/null; then
  direct "$@"
fi

work=$(mktemp -d)
# Standard input is passed on explicitly: a background job would get
# /dev/null instead.
unshare --user --mount --fork -- bash "$0" "$qemu" "$triplet" --inside-namespace "$work/go" "$@" 0<&0 &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' TERM INT HUP

own_namespace=$(readlink /proc/self/ns/user)
for _ in $(seq 200); do
  namespace=$(readlink "/proc/$child/ns/user" 2>/dev/null) || break
  [ "$namespace" != "$own_namespace" ] && break
  sleep 0.005
done
# Identity maps: written by root outside the namespace, which may map any id.
echo "0 0 4294967295" >"/proc/$child/uid_map" 2>/dev/null
echo "0 0 4294967295" >"/proc/$child/gid_map" 2>/dev/null
touch "$work/go"
wait "$child"
status=$?
rm -rf "$work"
# A program ended by a signal ends this wrapper by the same signal, so the
# caller sees what happened as if there were no wrapper.
if [ "$status" -gt 128 ] && [ "$status" -lt 160 ]; then
  trap - TERM INT HUP
  kill -s "$((status - 128))" $$
fi
exit "$status"
