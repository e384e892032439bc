// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings.h"

namespace sim {

namespace {

std::string trim(const std::string &text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

bool for_each_setting(
    const std::string &list,
    const std::function<bool(const std::string &name, const std::string &value)> &take) {
    std::size_t start = 0;
    while (start <= list.size()) {
        auto comma = list.find(',', start);
        if (comma == std::string::npos) {
            comma = list.size();
        }
        const std::string item = trim(list.substr(start, comma - start));
        start = comma + 1;
        if (item.empty()) {
            continue;
        }
        const auto equals = item.find('=');
        const std::string name = trim(item.substr(0, equals));
        const std::string value = equals == std::string::npos ? "" : trim(item.substr(equals + 1));
        if (!take(name, value)) {
            return false;
        }
    }
    return true;
}

} // namespace sim
