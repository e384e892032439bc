// SPDX-License-Identifier: GPL-3.0-or-later
// The failure exit shared by every phase.
#include <cstdio>

#include "CorvaneRadio.h"

int main_failure(const char *message) {
    std::puts(message);
    // The message must be out before the chip falls silent, also on a pipe.
    std::fflush(stdout);
    // After a failed link set-up the link leaves the reset line and the bus
    // alone: only an established peripheral access is released.
    Si468x_power_down();
    return 0;
}
