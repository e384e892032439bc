// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers in the board's saved state (`<board dir>/state`): the state file's
// own reader, apart from the fault list's (a saved value is never "always").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

// A saved number: decimal, or hexadecimal with 0x; no sign, no blanks, at
// most 64 bits. Anything else is no number.
std::optional<uint64_t> saved_number(const std::string &text);

// The number saved under `key`, when there is one and it is at most `max`.
std::optional<uint64_t> saved_number(const std::map<std::string, std::string> &state,
                                     const std::string &key, uint64_t max = UINT64_MAX);

} // namespace sim
