// SPDX-License-Identifier: GPL-3.0-or-later
// Which path drives the board, decided at open from the board's device tree,
// and the operations handed to it. The bcm2835 library maps the SoC's
// peripheral registers at addresses of the SoCs it was written for; on any
// other board (the Pi 5, whose header pins sit behind its RP1 I/O chip, or a
// board nobody has met) it would map memory that holds something else, so it
// is never started there and the kernel's own drivers are used instead.
#include <cstdio>
#include <cstring>

#include "Si468x_SPI.h"
#include "Si468x_SPI_paths.h"
#include "Si468x_SPI_sys.h"

namespace {

// The SoCs the bcm2835 library knows: Pi 1 and Zero, Pi 2, Pi 3 and
// Zero 2 W, Pi 4 and its compute module and keyboard.
constexpr const char *SI468X_SPI_BCM2835_SOCS[] = {
    "brcm,bcm2835",
    "brcm,bcm2836",
    "brcm,bcm2837",
    "brcm,bcm2711",
};

// A compatible property is a handful of short strings.
constexpr std::size_t SI468X_SPI_COMPATIBLE_MAX = 512;

// Which path the last successful or attempted open chose; none before the
// first open and after a close, when every operation leaves the board alone.
enum Si468x_SPI_Open { SI468X_SPI_OPEN_NONE, SI468X_SPI_OPEN_BCM2835, SI468X_SPI_OPEN_KERNEL };
Si468x_SPI_Open Si468x_SPI_Opened = SI468X_SPI_OPEN_NONE;

bool Si468x_SPI_known_soc(const char *entry, std::size_t length) {
    for (const char *soc : SI468X_SPI_BCM2835_SOCS) {
        if (std::strlen(soc) == length && std::memcmp(soc, entry, length) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

Si468x_SPI_Path Si468x_SPI_path_for(const char *compatible, std::size_t length) {
    std::size_t start = 0;
    while (start < length) {
        std::size_t end = start;
        while (end < length && compatible[end] != '\0') {
            ++end;
        }
        if (Si468x_SPI_known_soc(compatible + start, end - start)) {
            return SI468X_SPI_PATH_BCM2835;
        }
        start = end + 1;
    }
    return SI468X_SPI_PATH_KERNEL;
}

Si468x_SPI_Path Si468x_SPI_board_path(void) {
    char compatible[SI468X_SPI_COMPATIBLE_MAX];
    std::size_t length = 0;
    // An unreadable device tree says nothing about the SoC: not a board for
    // the bcm2835 library.
    if (std::FILE *node = std::fopen(Si468x_SPI_device_tree_node(), "rb")) {
        length = std::fread(compatible, 1, sizeof compatible, node);
        std::fclose(node);
    }
    return Si468x_SPI_path_for(compatible, length);
}

int Si468x_SPI_setup(void) {
    // The chip first: while another program holds it, not even the device
    // tree is asked which path this board takes.
    const int lock = Si468x_SPI_lock_take();
    if (lock != 0) {
        return lock;
    }
    int result = -1;
    if (Si468x_SPI_board_path() == SI468X_SPI_PATH_BCM2835) {
        Si468x_SPI_Opened = SI468X_SPI_OPEN_BCM2835;
        result = Si468x_SPI_bcm2835_setup();
        if (result != 0) {
            Si468x_SPI_bcm2835_abandon();
        }
    } else {
        Si468x_SPI_Opened = SI468X_SPI_OPEN_KERNEL;
        result = Si468x_SPI_kernel_setup();
        if (result != 0) {
            Si468x_SPI_kernel_shutdown();
        }
    }
    if (result != 0) {
        // What did not open is not ours: with the path's access closed again,
        // the failure exit's power-down that follows reaches neither the
        // reset line nor the bus.
        Si468x_SPI_lock_release();
    }
    return result;
}

int Si468x_SPI_enable(void) {
    switch (Si468x_SPI_Opened) {
    case SI468X_SPI_OPEN_BCM2835:
        return Si468x_SPI_bcm2835_enable();
    case SI468X_SPI_OPEN_KERNEL:
        return Si468x_SPI_kernel_enable();
    default:
        return -1;
    }
}

void Si468x_SPI_disable(void) {
    if (Si468x_SPI_Opened == SI468X_SPI_OPEN_BCM2835) {
        Si468x_SPI_bcm2835_disable();
    } else if (Si468x_SPI_Opened == SI468X_SPI_OPEN_KERNEL) {
        Si468x_SPI_kernel_disable();
    }
}

void Si468x_SPI_shutdown(void) {
    if (Si468x_SPI_Opened == SI468X_SPI_OPEN_BCM2835) {
        Si468x_SPI_bcm2835_shutdown();
    } else if (Si468x_SPI_Opened == SI468X_SPI_OPEN_KERNEL) {
        Si468x_SPI_kernel_shutdown();
    }
    Si468x_SPI_Opened = SI468X_SPI_OPEN_NONE;
    Si468x_SPI_lock_release();
}

void Si468x_SPI_RSTB_low(void) {
    if (Si468x_SPI_Opened == SI468X_SPI_OPEN_BCM2835) {
        Si468x_SPI_bcm2835_RSTB(LOW);
    } else if (Si468x_SPI_Opened == SI468X_SPI_OPEN_KERNEL) {
        Si468x_SPI_kernel_RSTB(LOW);
    }
}

void Si468x_SPI_RSTB_high(void) {
    if (Si468x_SPI_Opened == SI468X_SPI_OPEN_BCM2835) {
        Si468x_SPI_bcm2835_RSTB(HIGH);
    } else if (Si468x_SPI_Opened == SI468X_SPI_OPEN_KERNEL) {
        Si468x_SPI_kernel_RSTB(HIGH);
    }
}

int Si468x_SPI_RW_data(uint8_t *data, uint16_t length) {
    if (Si468x_SPI_Opened == SI468X_SPI_OPEN_KERNEL) {
        return Si468x_SPI_kernel_RW_data(data, length);
    }
    // The bcm2835 path, and a link never opened: the host reads nothing back.
    return Si468x_SPI_bcm2835_RW_data(data, length);
}
