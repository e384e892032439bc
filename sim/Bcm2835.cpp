// SPDX-License-Identifier: GPL-3.0-or-later
// The bcm2835 functions the board link calls, with the real library's
// prototypes and return values, and the nodes and system calls of its kernel
// path, against the simulated board. Calls made
// while the peripherals are not open are recorded and have no effect, where
// the real library would touch unmapped memory.
#ifndef BCM2835_NO_DELAY_COMPATIBILITY
#define BCM2835_NO_DELAY_COMPATIBILITY
#endif
#include <bcm2835.h>

#include "Board.h"
#include "Si468x_SPI_sys.h"

using sim::Board;

extern "C" {

int bcm2835_init(void) {
    return Board::host().init();
}

int bcm2835_close(void) {
    return Board::host().close();
}

void bcm2835_gpio_fsel(uint8_t pin, uint8_t mode) {
    Board::host().gpio_fsel(pin, mode);
}

void bcm2835_gpio_set_pud(uint8_t pin, uint8_t pud) {
    Board::host().gpio_set_pud(pin, pud);
}

void bcm2835_gpio_write(uint8_t pin, uint8_t on) {
    Board::host().gpio_write(pin, on);
}

uint8_t bcm2835_gpio_lev(uint8_t pin) {
    return Board::host().gpio_lev(pin);
}

int bcm2835_spi_begin(void) {
    return Board::host().spi_begin();
}

void bcm2835_spi_end(void) {
    Board::host().spi_end();
}

void bcm2835_spi_setBitOrder(uint8_t order) {
    Board::host().spi_set_bit_order(order);
}

void bcm2835_spi_setDataMode(uint8_t mode) {
    Board::host().spi_set_data_mode(mode);
}

void bcm2835_spi_setClockDivider(uint16_t divider) {
    Board::host().spi_set_clock_divider(divider);
}

void bcm2835_spi_chipSelect(uint8_t cs) {
    Board::host().spi_chip_select(cs);
}

void bcm2835_spi_setChipSelectPolarity(uint8_t cs, uint8_t active) {
    Board::host().spi_set_chip_select_polarity(cs, active);
}

void bcm2835_spi_transfern(char *buf, uint32_t len) {
    Board::host().spi_transfern(buf, len);
}

void bcm2835_delay(unsigned int millis) {
    Board::host().delay_ms(millis);
}

void bcm2835_delayMicroseconds(uint64_t micros) {
    Board::host().delay_us(micros);
}

uint64_t Si468x_SPI_clock_us(void) {
    return Board::host().clock().now_ns() / 1000u;
}

// The board's own device node stands for /dev/spidev0.0.
const char *Si468x_SPI_device_node(void) {
    return Board::host().device_node();
}

// The board's files stand for /proc/device-tree/compatible and
// /dev/gpiochip<n>; the kernel path's system calls reach the board.
const char *Si468x_SPI_device_tree_node(void) {
    return Board::host().device_tree_node();
}

const char *Si468x_SPI_gpiochip_node(unsigned index) {
    return Board::host().gpiochip_node(index);
}

const char *Si468x_SPI_locks_node(void) {
    return Board::host().locks_node();
}

int Si468x_SPI_sys_lock(const char *path) {
    return Board::host().sys_lock(path);
}

int Si468x_SPI_sys_unlock(int fd) {
    return Board::host().sys_unlock(fd);
}

int Si468x_SPI_sys_open(const char *path, int flags) {
    return Board::host().sys_open(path, flags);
}

int Si468x_SPI_sys_close(int fd) {
    return Board::host().sys_close(fd);
}

int Si468x_SPI_sys_ioctl(int fd, unsigned long request, void *argument) {
    return Board::host().sys_ioctl(fd, request, argument);
}

} // extern "C"
