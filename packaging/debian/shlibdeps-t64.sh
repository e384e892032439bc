#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# dpkg-shlibdeps as cpack runs it, with the dependencies it computes from
# this machine's libraries widened for the other Debian release the Pi runs.
# Raspberry Pi OS trixie renamed the libraries whose interface carries a
# time_t for 64-bit time ("t64"), on every architecture: a dependency on the
# bookworm name alone cannot be met on trixie's armhf, where the renamed
# package provides no old name. Each such library is offered under both
# names, the new one first, so the one package installs on both releases.
#
#   libmicrohttpd12     bookworm  ->  libmicrohttpd12t64   trixie
#
# libqrencode4, libmosquitto1, libncursesw6, libtinfo6, libstdc++6, libgcc-s1
# and libc6 kept their names.
output=$(dpkg-shlibdeps "$@") || exit $?
printf '%s\n' "$output" |
  sed -E 's/(^|[=, ])libmicrohttpd12( \([^)]*\))?(,|$)/\1libmicrohttpd12t64\2 | libmicrohttpd12\2\3/g'
