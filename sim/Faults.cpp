// SPDX-License-Identifier: GPL-3.0-or-later
#include "Faults.h"

#include <cerrno>
#include <cstdlib>

#include "Settings.h"

namespace sim {

std::optional<Fault> fault_named(std::string_view name) {
    for (const auto &info : fault_table) {
        if (name == info.name) {
            return info.fault;
        }
    }
    return std::nullopt;
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
    errno = 0;
    const long value = std::strtol(begin, &end, hex ? 16 : 10);
    if (end == begin || *end != '\0' || value < 0 || errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

bool Faults::add(const std::string &name, const std::string &value, std::string *error) {
    const auto fault = fault_named(name);
    if (!fault) {
        if (error != nullptr) {
            *error = "unknown fault '" + name + "'";
        }
        return false;
    }
    const bool takes_value = fault_info(*fault).takes_value;
    std::optional<long> number;
    if (takes_value) {
        number = parse_number(value);
        if (!number) {
            if (error != nullptr) {
                *error = "fault '" + name +
                         "' needs a number (hex with 0x, decimal or always), got '" + value + "'";
            }
            return false;
        }
    } else if (!value.empty()) {
        if (error != nullptr) {
            *error = "fault '" + name + "' takes no value";
        }
        return false;
    }
    add(*fault, number.value_or(0));
    return true;
}

void Faults::add(Fault fault, long value) {
    entries_.push_back(Entry{fault, fault_info(fault).takes_value ? value : 0});
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

bool Faults::has(Fault fault) const {
    for (const auto &entry : entries_) {
        if (entry.fault == fault) {
            return true;
        }
    }
    return false;
}

std::optional<long> Faults::number(Fault fault) const {
    for (const auto &entry : entries_) {
        if (entry.fault == fault) {
            return entry.value;
        }
    }
    return std::nullopt;
}

bool Faults::matches(Fault fault, long number) const {
    for (const auto &entry : entries_) {
        if (entry.fault == fault && entry.value == number) {
            return true;
        }
    }
    return false;
}

std::vector<long> Faults::numbers(Fault fault) const {
    std::vector<long> result;
    for (const auto &entry : entries_) {
        if (entry.fault == fault) {
            result.push_back(entry.value);
        }
    }
    return result;
}

} // namespace sim
