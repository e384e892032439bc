// SPDX-License-Identifier: GPL-3.0-or-later
// The Pi's nodes: SPI0 with CE0 is enabled when the kernel's spidev node
// exists; the device tree names the board; the GPIO chips carry the pins.
#include <cstdio>
#include <ctime>

#include "Si468x_SPI.h"
#include "Si468x_SPI_sys.h"

extern "C" const char *Si468x_SPI_device_node(void) {
    return "/dev/spidev0.0";
}

extern "C" const char *Si468x_SPI_device_tree_node(void) {
    return "/proc/device-tree/compatible";
}

extern "C" const char *Si468x_SPI_locks_node(void) {
    return "/proc/locks";
}

extern "C" const char *Si468x_SPI_gpiochip_node(unsigned index) {
    static char path[32];
    std::snprintf(path, sizeof path, "/dev/gpiochip%u", index);
    return path;
}

extern "C" uint64_t Si468x_SPI_clock_us(void) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000u;
}
