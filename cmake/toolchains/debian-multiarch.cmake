# SPDX-License-Identifier: GPL-3.0-or-later
# Shared part of the cross toolchains: Debian's cross compilers with the
# target's libraries installed through multiarch (scripts/setup-cross.sh), so
# headers come from /usr/include and libraries from /usr/lib/<triplet>.
# The including file sets TUNELARK_CROSS_TRIPLET, TUNELARK_CROSS_PROCESSOR and
# TUNELARK_CROSS_QEMU.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${TUNELARK_CROSS_PROCESSOR})
set(CMAKE_LIBRARY_ARCHITECTURE ${TUNELARK_CROSS_TRIPLET})

set(CMAKE_C_COMPILER ${TUNELARK_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TUNELARK_CROSS_TRIPLET}-g++)
set(CMAKE_ASM_COMPILER ${TUNELARK_CROSS_TRIPLET}-gcc)

# The cross binutils, also for CPack's stripping and library look-ups.
find_program(CMAKE_AR ${TUNELARK_CROSS_TRIPLET}-ar)
find_program(CMAKE_RANLIB ${TUNELARK_CROSS_TRIPLET}-ranlib)
find_program(CMAKE_STRIP ${TUNELARK_CROSS_TRIPLET}-strip)
find_program(CMAKE_OBJDUMP ${TUNELARK_CROSS_TRIPLET}-objdump)

# pkg-config reads the target's .pc files and never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TUNELARK_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})

# No binfmt is assumed: CTest, test discovery and the smoke tests run target
# programs through qemu's user-mode emulator. qemu-run.sh also lets the tests
# that start the radio as a child process run it (see there);
# TUNELARK_CROSS_QEMU_COMMAND is the plain emulator, with the cross C
# library's loader from /usr/<triplet>.
find_program(TUNELARK_CROSS_QEMU_PROGRAM ${TUNELARK_CROSS_QEMU})
if(NOT TUNELARK_CROSS_QEMU_PROGRAM)
  set(TUNELARK_CROSS_QEMU_PROGRAM ${TUNELARK_CROSS_QEMU})
endif()
set(TUNELARK_CROSS_QEMU_COMMAND ${TUNELARK_CROSS_QEMU_PROGRAM} -L /usr/${TUNELARK_CROSS_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR bash ${CMAKE_CURRENT_LIST_DIR}/qemu-run.sh ${TUNELARK_CROSS_QEMU_PROGRAM}
                                  ${TUNELARK_CROSS_TRIPLET})
