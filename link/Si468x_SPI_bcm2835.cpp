// SPDX-License-Identifier: GPL-3.0-or-later
// Board link over the bcm2835 library, on the Pis whose SoC it knows: SPI0
// with CE0 framing every transfer, GPIO 23 driving the chip's active-low
// reset input.
#include "Si468x_SPI.h"
#include "Si468x_SPI_paths.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

// True between a successful bcm2835_init and bcm2835_close. Without it the
// library's register pointers are unmapped, and the reset-line, release and
// close operations must leave the hardware alone (the failure exit powers the
// chip down even after a failed open, which closes the access again).
bool Si468x_SPI_Mapped = false;

constexpr uint8_t SI468X_SPI_PIN_CE0 = 8;
constexpr uint8_t SI468X_SPI_PIN_MISO = 9;
constexpr uint8_t SI468X_SPI_PIN_MOSI = 10;
constexpr uint8_t SI468X_SPI_PIN_SCLK = 11;
static_assert(SI468X_SPI_PIN_CE0 + 1 == SI468X_SPI_PIN_MISO &&
              SI468X_SPI_PIN_MISO + 1 == SI468X_SPI_PIN_MOSI &&
              SI468X_SPI_PIN_MOSI + 1 == SI468X_SPI_PIN_SCLK);

// SPI0 settings applied on every claim of the bus.
constexpr uint8_t SI468X_SPI_BIT_ORDER = BCM2835_SPI_BIT_ORDER_MSBFIRST;    // 1
constexpr uint8_t SI468X_SPI_DATA_MODE = BCM2835_SPI_MODE0;                 // CPOL 0, CPHA 0
constexpr uint16_t SI468X_SPI_CLOCK_DIVIDER = BCM2835_SPI_CLOCK_DIVIDER_32; // 7.8125 MHz at 250 MHz
constexpr uint8_t SI468X_SPI_CHIP_SELECT = BCM2835_SPI_CS0;
constexpr uint8_t SI468X_SPI_CS_ACTIVE_LEVEL = LOW;

} // namespace

int Si468x_SPI_bcm2835_setup(void) {
    if (bcm2835_init() == 0) {
        return -1;
    }
    Si468x_SPI_Mapped = true;
    // SPI enabled in the operating system shows as its device node; nothing
    // is ever transferred through it.
    // Without blocking: whatever stands at that path must not hold the
    // start up.
    const int node = open(Si468x_SPI_device_node(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (node < 0) {
        return -1;
    }
    close(node);
    // Output, but no level written: a chip left running must keep running.
    bcm2835_gpio_fsel(SI468X_SPI_PIN_RSTB, BCM2835_GPIO_FSEL_OUTP);
    // CE1 is unused; its pull-up keeps the line high while the bus is released.
    bcm2835_gpio_fsel(SI468X_SPI_PIN_CE1, BCM2835_GPIO_FSEL_INPT);
    bcm2835_gpio_set_pud(SI468X_SPI_PIN_CE1, BCM2835_GPIO_PUD_UP);
    return Si468x_SPI_bcm2835_enable();
}

int Si468x_SPI_bcm2835_enable(void) {
    if (!Si468x_SPI_Mapped || bcm2835_spi_begin() == 0) {
        return -1;
    }
    bcm2835_spi_setBitOrder(SI468X_SPI_BIT_ORDER);
    bcm2835_spi_setDataMode(SI468X_SPI_DATA_MODE);
    bcm2835_spi_setClockDivider(SI468X_SPI_CLOCK_DIVIDER);
    bcm2835_spi_chipSelect(SI468X_SPI_CHIP_SELECT);
    bcm2835_spi_setChipSelectPolarity(SI468X_SPI_CHIP_SELECT, SI468X_SPI_CS_ACTIVE_LEVEL);
    return 0;
}

void Si468x_SPI_bcm2835_disable(void) {
    if (Si468x_SPI_Mapped) {
        bcm2835_spi_end();
    }
}

void Si468x_SPI_bcm2835_shutdown(void) {
    if (!Si468x_SPI_Mapped) {
        return;
    }
    Si468x_SPI_bcm2835_disable();
    bcm2835_close();
    Si468x_SPI_Mapped = false;
}

void Si468x_SPI_bcm2835_abandon(void) {
    if (Si468x_SPI_Mapped) {
        bcm2835_close();
        Si468x_SPI_Mapped = false;
    }
}

void Si468x_SPI_bcm2835_RSTB(uint8_t level) {
    if (Si468x_SPI_Mapped) {
        bcm2835_gpio_write(SI468X_SPI_PIN_RSTB, level);
    }
}

int Si468x_SPI_bcm2835_RW_data(uint8_t *data, uint16_t length) {
    // Without mapped peripherals the library would write through a null
    // pointer; the host then simply reads nothing back.
    if (Si468x_SPI_Mapped && length > 0) {
        bcm2835_spi_transfern(reinterpret_cast<char *>(data), length);
    }
    return 0;
}
