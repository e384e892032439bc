// SPDX-License-Identifier: GPL-3.0-or-later
// The board link as the application sees it: open, claim and release the
// bus, the reset pulse and the power-down.
#include <cstdio>
#include <cstring>

#include "Si468x.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

int16_t Si468x_bus_init(void) {
    const int result = Si468x_SPI_setup();
    if (result == SI468X_SPI_HELD) {
        return Si468x_failure(-6, 101);
    }
    if (result != 0) {
        return Si468x_failure(-6, 1);
    }
    return 0;
}

uint8_t Si468x_bus_held(Si468x_BusHolder *holder) {
    *holder = Si468x_BusHolder{};
    Si468x_SPI_Holder link{};
    if (Si468x_SPI_holder(&link) == 0) {
        return 0;
    }
    static_assert(sizeof holder->name == sizeof link.name);
    if (link.pid > 0 && link.pid <= INT32_MAX && link.name[0] != '\0') {
        holder->pid = static_cast<int32_t>(link.pid);
        std::memcpy(holder->name, link.name, sizeof holder->name);
        holder->name[sizeof holder->name - 1] = '\0';
    }
    return 1;
}

uint16_t Si468x_bus_held_text(const Si468x_BusHolder *holder, char *text, uint16_t size) {
    int length = 0;
    if (holder->pid > 0 && holder->name[0] != '\0') {
        length = std::snprintf(
            text, size, "The Si468x is in use by another program (%.*s, pid %ld). Exit.",
            static_cast<int>(sizeof holder->name), holder->name, static_cast<long>(holder->pid));
    } else {
        length = std::snprintf(text, size, "The Si468x is in use by another program. Exit.");
    }
    return length < 0 ? 0 : static_cast<uint16_t>(length);
}

int16_t Si468x_bus_enable(void) {
    if (Si468x_SPI_enable() != 0) {
        return Si468x_failure(-6, 3);
    }
    return 0;
}

void Si468x_bus_disable(void) {
    Si468x_SPI_disable();
}

void Si468x_reset(void) {
    Si468x_SPI_RSTB_low();
    bcm2835_delay(RESET_LOW_MS);
    Si468x_SPI_RSTB_high();
    bcm2835_delay(RESET_SETTLE_MS);
}

// Nothing is sent: the reset line silences the chip, and it stays silent after
// the program ends.
void Si468x_power_down(void) {
    Si468x_SPI_RSTB_low();
    Si468x_SPI_shutdown();
}
