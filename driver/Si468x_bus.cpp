// SPDX-License-Identifier: GPL-3.0-or-later
// The board link as the application sees it: open, claim and release the
// bus, the reset pulse and the power-down.
#include "Si468x.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

int16_t Si468x_bus_init(void) {
    if (Si468x_SPI_setup() != 0) {
        return Si468x_failure(-6, 1);
    }
    return 0;
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
