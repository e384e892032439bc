// SPDX-License-Identifier: GPL-3.0-or-later
// Declarative faults of the simulated board: a list of `name` or `name=value`
// entries, as in SI468X_SIM_FAULTS ("absent,busy=0x09,tune-timeout=3").
// A name may appear more than once ("tune-timeout=3,tune-timeout=17").
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace sim {

class Faults {
public:
    // Replaces the active faults by the list. An unknown name or a malformed
    // value fails: *error says which, and the active faults are left empty.
    bool parse(const std::string &list, std::string *error);
    // Adds one fault; the same checks as parse.
    bool add(const std::string &name, const std::string &value, std::string *error);
    void clear();

    bool has(const std::string &name) const;
    // The value of the first entry of that name, as written.
    std::optional<std::string> value(const std::string &name) const;
    // The value as a number: hex with 0x, else decimal. "always" gives -1.
    std::optional<long> number(const std::string &name) const;
    // True when some entry of that name has the given numeric value.
    bool matches(const std::string &name, long number) const;
    // Every numeric value given for that name.
    std::vector<long> numbers(const std::string &name) const;

    // The names the board knows, with whether each takes a value.
    static bool known(const std::string &name, bool *takes_value);
    // Parses "0x1F", "31" or "always" (-1).
    static std::optional<long> parse_number(const std::string &text);

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

} // namespace sim
