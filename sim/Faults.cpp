// SPDX-License-Identifier: GPL-3.0-or-later
#include "Faults.h"

#include <array>
#include <cstdlib>

#include "Settings.h"

namespace sim {

namespace {

struct KnownFault {
    const char *name;
    bool takes_value;
};

// Every fault the board can inject; sim/README.md describes each.
constexpr std::array<KnownFault, 33> known_faults{{
    {"absent", false},
    {"no-spidev", false},
    {"init-fail", false},
    {"spi-fail", false},
    {"transfer-fail", true},
    {"line-release-input", false},
    {"busy", true},
    {"errcmd", true},
    {"status3", true},
    {"no-cts-after-reset", true},
    {"powerup-fail", true},
    {"patch-fail", true},
    {"firmware-fail", true},
    {"boot-fail", true},
    {"property-mismatch", true},
    {"running-error", false},
    {"tune-timeout", true},
    {"list-unstable", true},
    {"list-unannounced", true},
    {"list-size", true},
    {"no-time", true},
    {"no-signal", true},
    {"data-overflow", false},
    {"data-not-ready", false},
    {"data-length", true},
    {"data-no-cts", false},
    {"start-fail", false},
    {"ua-length", true},
    {"ua-overrun", false},
    {"ua-pad", false},
    {"garbage", true},
    {"reply-overflow", true},
    {"slow", true},
}};

} // namespace

bool Faults::known(const std::string &name, bool *takes_value) {
    for (const auto &fault : known_faults) {
        if (name == fault.name) {
            if (takes_value != nullptr) {
                *takes_value = fault.takes_value;
            }
            return true;
        }
    }
    return false;
}

std::optional<long> Faults::parse_number(const std::string &text) {
    if (text == "always") {
        return -1;
    }
    if (text.empty()) {
        return std::nullopt;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char *begin = text.c_str() + (hex ? 2 : 0);
    char *end = nullptr;
    const long value = std::strtol(begin, &end, hex ? 16 : 10);
    if (end == begin || *end != '\0' || value < 0) {
        return std::nullopt;
    }
    return value;
}

bool Faults::add(const std::string &name, const std::string &value, std::string *error) {
    bool takes_value = false;
    if (!known(name, &takes_value)) {
        if (error != nullptr) {
            *error = "unknown fault '" + name + "'";
        }
        return false;
    }
    if (takes_value && !parse_number(value)) {
        if (error != nullptr) {
            *error = "fault '" + name + "' needs a number (hex with 0x, decimal or always), got '" +
                     value + "'";
        }
        return false;
    }
    if (!takes_value && !value.empty()) {
        if (error != nullptr) {
            *error = "fault '" + name + "' takes no value";
        }
        return false;
    }
    entries_.emplace_back(name, value);
    return true;
}

bool Faults::parse(const std::string &list, std::string *error) {
    entries_.clear();
    const bool parsed =
        for_each_setting(list, [&](const std::string &name, const std::string &value) {
            return add(name, value, error);
        });
    if (!parsed) {
        entries_.clear();
    }
    return parsed;
}

void Faults::clear() {
    entries_.clear();
}

bool Faults::has(const std::string &name) const {
    for (const auto &entry : entries_) {
        if (entry.first == name) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> Faults::value(const std::string &name) const {
    for (const auto &entry : entries_) {
        if (entry.first == name) {
            return entry.second;
        }
    }
    return std::nullopt;
}

std::optional<long> Faults::number(const std::string &name) const {
    const auto text = value(name);
    if (!text) {
        return std::nullopt;
    }
    return parse_number(*text);
}

bool Faults::matches(const std::string &name, long number) const {
    for (const auto &entry : entries_) {
        if (entry.first == name && parse_number(entry.second) == number) {
            return true;
        }
    }
    return false;
}

std::vector<long> Faults::numbers(const std::string &name) const {
    std::vector<long> result;
    for (const auto &entry : entries_) {
        if (entry.first == name) {
            if (const auto n = parse_number(entry.second)) {
                result.push_back(*n);
            }
        }
    }
    return result;
}

} // namespace sim
