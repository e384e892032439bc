# SPDX-License-Identifier: GPL-3.0-or-later
# 32-bit Raspberry Pi OS with hard-float: Debian armhf (ARMv7; the Pi 1 and
# Zero's ARMv6 need Raspberry Pi OS's own armhf, which Debian's compiler does
# not target).
set(TUNELARK_CROSS_TRIPLET arm-linux-gnueabihf)
set(TUNELARK_CROSS_PROCESSOR arm)
set(TUNELARK_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
