// SPDX-License-Identifier: GPL-3.0-or-later
// On the Pi, SPI0 with CE0 is enabled when the kernel's spidev node exists.
#include "Si468x_SPI.h"

extern "C" const char *Si468x_SPI_device_node(void) {
    return "/dev/spidev0.0";
}
