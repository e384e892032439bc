// SPDX-License-Identifier: GPL-3.0-or-later
// The link set-up's one ending that is no failure: another program holds the
// chip and plays on.
#include <cstdio>

#include "CorvaneRadio.h"

int main_chip_held(void) {
    Si468x_BusHolder holder{};
    Si468x_bus_held(&holder);
    char message[96];
    Si468x_bus_held_text(&holder, message, sizeof message);
    // Neither the reset line nor the bus is ours: no power-down.
    std::puts(message);
    return 0;
}
