// SPDX-License-Identifier: GPL-3.0-or-later
// The board's list settings, as in SI468X_SIM_FAULTS and SI468X_SIM_TIMING:
// `name` or `name=value` entries separated by commas, blanks around each part
// ignored, empty entries skipped.
#pragma once

#include <functional>
#include <string>

namespace sim {

// Hands each entry to `take` in order (value empty when there is no '=');
// stops at the first entry `take` refuses and returns false then.
bool for_each_setting(
    const std::string &list,
    const std::function<bool(const std::string &name, const std::string &value)> &take);

} // namespace sim
