// SPDX-License-Identifier: GPL-3.0-or-later
// The band the simulated chip receives. (Placeholder until the receiver lands.)
#pragma once

#include <cstdint>
#include <vector>

namespace sim {

struct Band {
    std::vector<uint32_t> frequencies; // the chip's DAB frequency list, kHz
};

} // namespace sim
