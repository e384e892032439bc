// SPDX-License-Identifier: GPL-3.0-or-later
// The Pi's GPIO block as the board link uses it: function select, pulls and
// output latches. Like the hardware, the latches and functions outlive the
// process that set them (the board keeps them in its state file).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "SimBoard.h"

namespace sim {

class Gpio {
public:
    static constexpr uint8_t pin_count = 54;
    static constexpr uint8_t FSEL_INPUT = 0;
    static constexpr uint8_t FSEL_OUTPUT = 1;
    static constexpr uint8_t FSEL_ALT0 = 4;
    static constexpr uint8_t PUD_UP = 2;
    static constexpr uint8_t PUD_DOWN = 1;

    // A freshly booted Pi: every pin an input, no pulls, latches low.
    void reset();

    void fsel(uint8_t pin, uint8_t mode);
    void set_pud(uint8_t pin, uint8_t pud);
    void write(uint8_t pin, bool high);

    Pin pin(uint8_t pin) const;
    bool level(uint8_t pin) const;
    uint8_t function(uint8_t pin) const;

    // The chip's RSTB input follows GPIO 23 only while the pin drives it; an
    // undriven pin leaves RSTB to the board's pull-down, holding the chip in
    // reset.
    bool reset_released() const;

    // Only pins that differ from a freshly booted Pi are written.
    void save(std::map<std::string, std::string> &state) const;
    void load(const std::map<std::string, std::string> &state);

private:
    struct Raw {
        uint8_t function = FSEL_INPUT;
        uint8_t pud = 0;
        bool latch = false;
    };
    std::array<Raw, pin_count> pins_{};
};

} // namespace sim
