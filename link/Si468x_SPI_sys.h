// SPDX-License-Identifier: GPL-3.0-or-later
// What the board link needs from the operating system besides the bcm2835
// library: the paths of the board's nodes and the system calls of the kernel
// path. The Pi build defines them with the real nodes and calls
// (Si468x_SPI_node_pi.cpp, Si468x_SPI_sys_linux.cpp); the simulated board
// defines them against its chip model. Results and errno as the real calls.
#pragma once

#include <cstddef>

extern "C" {

// "/proc/device-tree/compatible": the board's compatible strings, each ended
// by a NUL.
const char *Si468x_SPI_device_tree_node(void);
// "/dev/gpiochip<index>". The text lives until the next call.
const char *Si468x_SPI_gpiochip_node(unsigned index);

// "/proc/locks": the kernel's table of file locks, with each holder's pid.
const char *Si468x_SPI_locks_node(void);

// The chip lock on `path` (the SPI device node): opened read-only without
// blocking, then an exclusive non-blocking flock. Returns the descriptor,
// which holds the lock while it stays open; -1 with errno EWOULDBLOCK when
// another open file holds the lock, or with the open's errno.
int Si468x_SPI_sys_lock(const char *path);
// Ends the lock: closes the descriptor Si468x_SPI_sys_lock returned.
int Si468x_SPI_sys_unlock(int fd);

int Si468x_SPI_sys_open(const char *path, int flags);
int Si468x_SPI_sys_close(int fd);
int Si468x_SPI_sys_ioctl(int fd, unsigned long request, void *argument);

} // extern "C"
