// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel path's system calls on the Pi: the real ones.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "Si468x_SPI_sys.h"

extern "C" int Si468x_SPI_sys_open(const char *path, int flags) {
    return ::open(path, flags);
}

extern "C" int Si468x_SPI_sys_close(int fd) {
    return ::close(fd);
}

extern "C" int Si468x_SPI_sys_ioctl(int fd, unsigned long request, void *argument) {
    return ::ioctl(fd, request, argument);
}
