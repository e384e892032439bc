// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel path's system calls on the Pi: the real ones.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

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

extern "C" int Si468x_SPI_sys_lock(const char *path) {
    // Without blocking: whatever stands at that path must not hold the
    // start up.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

extern "C" int Si468x_SPI_sys_unlock(int fd) {
    return ::close(fd);
}
