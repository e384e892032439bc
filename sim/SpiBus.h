// SPDX-License-Identifier: GPL-3.0-or-later
// SPI0 of the Pi: claimed or released, and the settings applied since it was
// last claimed. Only the settings the receiver needs (MSB first, mode 0, an
// even divider, CE0 active low) carry a frame to the chip.
#pragma once

#include <array>
#include <cstdint>

#include "SimBoard.h"

namespace sim {

class SpiBus {
public:
    // Claiming the bus forgets earlier settings: a host that relies on
    // settings it did not apply after the claim reaches nothing.
    void begin();
    void end();

    void set_bit_order(uint8_t order) { settings_.bit_order = order; }
    void set_data_mode(uint8_t mode) { settings_.data_mode = mode; }
    void set_clock_divider(uint16_t divider) { settings_.divider = divider; }
    void chip_select(uint8_t cs) { settings_.chip_select = cs; }
    void set_chip_select_polarity(uint8_t cs, uint8_t active);

    const SpiSettings &settings() const { return settings_; }
    bool begun() const { return settings_.begun; }
    // Settings under which CE0 frames the transfer and the chip reads the
    // bits as sent.
    bool settings_reach_chip() const;
    // One byte at the SPI clock: 8 bits at 250 MHz / divider, 4 ns per core
    // clock. The hardware takes divider 0 as 65536; so does an unset divider.
    uint64_t byte_ns() const;

private:
    SpiSettings settings_;
    std::array<int, 3> cs_polarity_{-1, -1, -1};
};

} // namespace sim
