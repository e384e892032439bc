// SPDX-License-Identifier: GPL-3.0-or-later
#include "SpiBus.h"

namespace sim {

void SpiBus::begin() {
    settings_ = SpiSettings{};
    settings_.begun = true;
    cs_polarity_ = {-1, -1, -1};
}

void SpiBus::end() {
    settings_.begun = false;
}

void SpiBus::set_chip_select_polarity(uint8_t cs, uint8_t active) {
    settings_.cs_polarity_cs = cs;
    settings_.cs_polarity_level = active;
    if (cs < cs_polarity_.size()) {
        cs_polarity_[cs] = active;
    }
}

bool SpiBus::settings_reach_chip() const {
    const int divider = settings_.divider;
    const bool divider_ok = divider == 0 || (divider >= 2 && divider % 2 == 0);
    return settings_.begun && settings_.bit_order == 1 && settings_.data_mode == 0 && divider_ok &&
           settings_.chip_select == 0 && cs_polarity_[0] == 0;
}

uint64_t SpiBus::byte_ns() const {
    const uint64_t divider =
        settings_.divider > 0 ? static_cast<uint64_t>(settings_.divider) : 65536U;
    return 8U * divider * 4U;
}

} // namespace sim
