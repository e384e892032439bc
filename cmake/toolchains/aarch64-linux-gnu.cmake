# SPDX-License-Identifier: GPL-3.0-or-later
# 64-bit Raspberry Pi OS (Pi 3, 4, 5, Zero 2 W): Debian arm64.
set(TUNELARK_CROSS_TRIPLET aarch64-linux-gnu)
set(TUNELARK_CROSS_PROCESSOR aarch64)
set(TUNELARK_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
