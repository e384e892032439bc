// SPDX-License-Identifier: GPL-3.0-or-later
#include "Gpio.h"

#include <cstdio>

namespace sim {

namespace {

constexpr uint8_t PIN_RSTB = 23;
constexpr uint8_t PIN_CE1 = 7;
constexpr uint8_t PIN_CE0 = 8;

} // namespace

void Gpio::reset() {
    pins_ = {};
}

void Gpio::fsel(uint8_t pin, uint8_t mode) {
    if (pin < pin_count) {
        pins_[pin].function = static_cast<uint8_t>(mode & 0x07);
    }
}

void Gpio::set_pud(uint8_t pin, uint8_t pud) {
    if (pin < pin_count) {
        pins_[pin].pud = static_cast<uint8_t>(pud & 0x03);
    }
}

void Gpio::write(uint8_t pin, bool high) {
    if (pin < pin_count) {
        pins_[pin].latch = high;
    }
}

uint8_t Gpio::function(uint8_t pin) const {
    return pin < pin_count ? pins_[pin].function : FSEL_INPUT;
}

bool Gpio::level(uint8_t pin) const {
    if (pin >= pin_count) {
        return false;
    }
    const Raw &raw = pins_[pin];
    switch (raw.function) {
    case FSEL_OUTPUT:
        return raw.latch;
    case FSEL_INPUT:
        return raw.pud == PUD_UP;
    case FSEL_ALT0:
        // The SPI block keeps its active-low chip selects idle high.
        return pin == PIN_CE0 || pin == PIN_CE1;
    default:
        return false;
    }
}

Pin Gpio::pin(uint8_t pin) const {
    Pin result;
    if (pin < pin_count) {
        result.function = pins_[pin].function;
        result.pud = pins_[pin].pud;
        result.level = level(pin);
    }
    return result;
}

bool Gpio::reset_released() const {
    return pins_[PIN_RSTB].function == FSEL_OUTPUT && pins_[PIN_RSTB].latch;
}

void Gpio::save(std::map<std::string, std::string> &state) const {
    for (uint8_t n = 0; n < pin_count; ++n) {
        const Raw &raw = pins_[n];
        if (raw.function == FSEL_INPUT && raw.pud == 0 && !raw.latch) {
            continue;
        }
        char value[32];
        std::snprintf(value, sizeof value, "%u,%u,%u", raw.function, raw.pud, raw.latch ? 1U : 0U);
        state["pin." + std::to_string(n)] = value;
    }
}

void Gpio::load(const std::map<std::string, std::string> &state) {
    reset();
    for (uint8_t n = 0; n < pin_count; ++n) {
        const auto found = state.find("pin." + std::to_string(n));
        if (found == state.end()) {
            continue;
        }
        unsigned function = 0;
        unsigned pud = 0;
        unsigned latch = 0;
        if (std::sscanf(found->second.c_str(), "%u,%u,%u", &function, &pud, &latch) == 3) {
            pins_[n].function = static_cast<uint8_t>(function & 0x07);
            pins_[n].pud = static_cast<uint8_t>(pud & 0x03);
            pins_[n].latch = latch != 0;
        }
    }
}

} // namespace sim
