// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board's log of the library calls the link made.
#pragma once

#include <string>

#include "SimBoard.h"

namespace tunelark::test {

// Whether some call of the log starts with `prefix`.
inline bool any_call_starts_with(const std::string &prefix) {
    for (const auto &call : sim::calls()) {
        if (call.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace tunelark::test
