// SPDX-License-Identifier: GPL-3.0-or-later
// Board link: SPI0 (chip select CE0) and the chip's reset line on GPIO 23.
// Two paths stand behind the same operations, chosen at open by the board's
// device tree (Si468x_SPI_board.cpp): the bcm2835 peripheral library on the
// Pis it knows (Si468x_SPI_bcm2835.cpp), and the kernel's spidev and GPIO
// character devices everywhere else, the Pi 5 included
// (Si468x_SPI_kernel.cpp). The same sources serve the Pi and the simulated
// board; only the library linked differs.
#pragma once

#include <cstdint>

// The delays are called by their library names; keep the header from turning
// `delay` and `delayMicroseconds` into macros.
#ifndef BCM2835_NO_DELAY_COMPATIBILITY
#define BCM2835_NO_DELAY_COMPATIBILITY
#endif
#include <bcm2835.h>

// GPIO numbers (processor numbering).
constexpr uint8_t SI468X_SPI_PIN_RSTB = 23;
constexpr uint8_t SI468X_SPI_PIN_CE1 = 7;

// The open takes the chip for this process before it touches any pin, bus
// register or device: an exclusive lock on the SPI device node, held until
// Si468x_SPI_shutdown or the end of the process, whichever comes first (a
// crash or SIGKILL releases it too). 0 on success, -1 on failure, and
// SI468X_SPI_HELD when another program holds the chip: nothing was touched
// then, and Si468x_SPI_holder says who it is. After a failed or refused open
// the link owns nothing: the reset-line, release and close operations leave
// the hardware alone and a transfer moves nothing.
int Si468x_SPI_setup(void);
constexpr int SI468X_SPI_HELD = -2;

// /proc/<pid>/comm: at most 15 characters.
constexpr unsigned SI468X_SPI_HOLDER_NAME_SIZE = 16;
struct Si468x_SPI_Holder {
    long pid;                               // 0: not found
    char name[SI468X_SPI_HOLDER_NAME_SIZE]; // empty: not found
};
// After an open that returned SI468X_SPI_HELD: 1, with the program that held
// the chip at that moment (pid 0 and an empty name when it could not be
// found: the kernel's lock table unreadable, or the holder in another pid
// namespace). After any other open: 0 and an empty holder.
int Si468x_SPI_holder(Si468x_SPI_Holder *holder);

int Si468x_SPI_enable(void);
void Si468x_SPI_disable(void);
void Si468x_SPI_shutdown(void);
void Si468x_SPI_RSTB_low(void);
void Si468x_SPI_RSTB_high(void);
int Si468x_SPI_RW_data(uint8_t *data, uint16_t length);

// The errno of the last transfer that failed on the wire (the kernel path's
// SPI ioctl), 0 when none failed since the last clear. The chip's own
// failures leave it alone, so a caller can tell a broken board link from a
// chip that answered badly.
int Si468x_SPI_last_error(void);
void Si468x_SPI_clear_error(void);

// The SPI device node: "/dev/spidev0.0" on the Pi; the simulated board
// supplies its own node. Defined by whichever board library is linked, as are
// the other nodes and the system calls of Si468x_SPI_sys.h.
extern "C" const char *Si468x_SPI_device_node(void);
// The board's monotonic time in microseconds: the host's monotonic clock on
// the Pi, the board's own clock (virtual or real) on the simulated board.
// Timers that must follow the board's delays read it.
extern "C" uint64_t Si468x_SPI_clock_us(void);
