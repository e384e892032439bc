// SPDX-License-Identifier: GPL-3.0-or-later
// The two implementations of the board link's operations and the choice
// between them. Only the link's own files and its tests include this.
#pragma once

#include <cstddef>
#include <cstdint>

enum Si468x_SPI_Path {
    SI468X_SPI_PATH_BCM2835 = 0, // the bcm2835 library maps the SoC's registers
    SI468X_SPI_PATH_KERNEL = 1,  // spidev and the GPIO character device
};

// The path for a device tree compatible property: NUL-separated strings,
// `length` bytes in all. Only a board whose SoC the bcm2835 library knows
// takes its path; anything else, an empty or missing property included,
// takes the kernel's.
Si468x_SPI_Path Si468x_SPI_path_for(const char *compatible, std::size_t length);
// The path for the board running this program, from its device tree.
Si468x_SPI_Path Si468x_SPI_board_path(void);

int Si468x_SPI_bcm2835_setup(void);
int Si468x_SPI_bcm2835_enable(void);
void Si468x_SPI_bcm2835_disable(void);
void Si468x_SPI_bcm2835_shutdown(void);
void Si468x_SPI_bcm2835_RSTB(uint8_t level);
int Si468x_SPI_bcm2835_RW_data(uint8_t *data, uint16_t length);
// After a failed set-up: the peripheral access closed without a pin or the
// bus touched.
void Si468x_SPI_bcm2835_abandon(void);

int Si468x_SPI_kernel_setup(void);
int Si468x_SPI_kernel_enable(void);
void Si468x_SPI_kernel_disable(void);
void Si468x_SPI_kernel_shutdown(void);
void Si468x_SPI_kernel_RSTB(uint8_t level);
int Si468x_SPI_kernel_RW_data(uint8_t *data, uint16_t length);

// The chip lock (Si468x_SPI_lock.cpp). Taken on Si468x_SPI_device_node():
// 0 when taken (or already held on that node), -1 when the node cannot be
// opened, SI468X_SPI_HELD when another program holds it.
int Si468x_SPI_lock_take(void);
void Si468x_SPI_lock_release(void);
// The program holding a flock on `node`, from the lock table `lock_table`
// and its /proc entry; false (and an empty holder) when it cannot be found.
struct Si468x_SPI_Holder;
bool Si468x_SPI_find_holder(const char *node, const char *lock_table, Si468x_SPI_Holder *holder);
