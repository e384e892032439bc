// SPDX-License-Identifier: GPL-3.0-or-later
#include "SavedState.h"

namespace sim {

std::optional<uint64_t> saved_number(const std::string &text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::size_t first = hex ? 2 : 0;
    if (text.size() == first) {
        return std::nullopt;
    }
    const uint64_t base = hex ? 16 : 10;
    uint64_t value = 0;
    for (std::size_t k = first; k < text.size(); ++k) {
        const char c = text[k];
        uint64_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint64_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<uint64_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<uint64_t>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (value > (UINT64_MAX - digit) / base) {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    return value;
}

std::optional<uint64_t> saved_number(const std::map<std::string, std::string> &state,
                                     const std::string &key, uint64_t max) {
    const auto found = state.find(key);
    if (found == state.end()) {
        return std::nullopt;
    }
    const auto value = saved_number(found->second);
    if (!value || *value > max) {
        return std::nullopt;
    }
    return value;
}

} // namespace sim
