// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal host for the chip-core tests: it talks to the simulated board
// through the bcm2835 calls only, the way a driver would, so the tests see
// the chip exactly as the wire shows it.
#pragma once

#ifndef BCM2835_NO_DELAY_COMPATIBILITY
#define BCM2835_NO_DELAY_COMPATIBILITY
#endif
#include <bcm2835.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "Firmware.h"
#include "SimBoard.h"

namespace bus_host {

using Bytes = std::vector<uint8_t>;

inline const Bytes power_up_bytes = {0x01, 0x00, 0x1F, 0x7F, 0x00, 0xF8, 0x24, 0x01,
                                     0x20, 0x10, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00};

// Peripherals open, GPIO 23 an output (level untouched), SPI0 claimed with
// the receiver's settings.
inline void open_bus(uint16_t divider = 32) {
    bcm2835_init();
    bcm2835_gpio_fsel(23, BCM2835_GPIO_FSEL_OUTP);
    bcm2835_spi_begin();
    bcm2835_spi_setBitOrder(BCM2835_SPI_BIT_ORDER_MSBFIRST);
    bcm2835_spi_setDataMode(BCM2835_SPI_MODE0);
    bcm2835_spi_setClockDivider(divider);
    bcm2835_spi_chipSelect(BCM2835_SPI_CS0);
    bcm2835_spi_setChipSelectPolarity(BCM2835_SPI_CS0, LOW);
}

inline void reset_pulse() {
    bcm2835_gpio_write(23, LOW);
    bcm2835_delay(200);
    bcm2835_gpio_write(23, HIGH);
    bcm2835_delay(50);
}

// One chip-select frame; returns what came back.
inline Bytes transfer(Bytes bytes) {
    bcm2835_spi_transfern(reinterpret_cast<char *>(bytes.data()),
                          static_cast<uint32_t>(bytes.size()));
    return bytes;
}

// RD_REPLY of n bytes: [0] filler, [1..4] STATUS0..3, [5..] RESP4...
inline Bytes read(std::size_t n) {
    return transfer(Bytes(n, 0));
}

inline bool cts(const Bytes &reply) {
    return reply.size() > 1 && (reply[1] & 0x80) != 0;
}

// Polls for CTS with the growing wait of the driver's transport; returns the
// last status read (CTS clear when it never came).
inline Bytes wait_cts(int polls = 50) {
    Bytes status;
    for (int i = 0; i < polls; ++i) {
        status = read(7);
        if (cts(status)) {
            return status;
        }
        bcm2835_delayMicroseconds(static_cast<uint64_t>(i) * 1000 + 50);
    }
    return status;
}

// Writes a command, waits for CTS and reads `reply` bytes (the status poll
// itself when `reply` is 0).
inline Bytes command(const Bytes &bytes, std::size_t reply = 0) {
    transfer(bytes);
    const Bytes status = wait_cts();
    if (reply == 0 || !cts(status)) {
        return status;
    }
    return read(reply);
}

inline uint8_t status3(const Bytes &reply) {
    return reply.at(4);
}

inline bool err_cmd(const Bytes &reply) {
    return (reply.at(1) & 0x40) != 0;
}

// LOAD_INIT then HOST_LOAD chunks of `chunk` image bytes. Returns false at
// the first chunk the chip rejected.
inline bool upload(const uint8_t *image, std::size_t size, std::size_t chunk = 4092) {
    if (err_cmd(command({0x06, 0x00}))) {
        return false;
    }
    for (std::size_t at = 0; at < size; at += chunk) {
        const std::size_t n = std::min(chunk, size - at);
        Bytes cmd = {0x04, 0x00, 0x00, 0x00};
        cmd.insert(cmd.end(), image + at, image + at + n);
        if (err_cmd(command(cmd))) {
            return false;
        }
    }
    return true;
}

inline Bytes boot() {
    return command({0x07, 0x00}, 5);
}

// Reset, POWER_UP, patch, DAB image, BOOT: the radio's bring-up in short.
// Returns the BOOT reply.
inline Bytes bring_up() {
    reset_pulse();
    command(power_up_bytes, 5);
    upload(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
    upload(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE);
    return boot();
}

inline uint16_t get_property(uint16_t id, Bytes *reply = nullptr) {
    const Bytes r =
        command({0x14, 0x01, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8)}, 7);
    if (reply != nullptr) {
        *reply = r;
    }
    return static_cast<uint16_t>(r.at(5) | r.at(6) << 8);
}

inline Bytes set_property(uint16_t id, uint16_t value) {
    return command({0x13, 0x00, static_cast<uint8_t>(id), static_cast<uint8_t>(id >> 8),
                    static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

} // namespace bus_host
