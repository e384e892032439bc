// SPDX-License-Identifier: GPL-3.0-or-later
// Command-line words of one subcommand: numbers, options, positional checks.
#include <utility>

#include "Diag.h"

namespace diag {

std::optional<uint32_t> parse_number(const std::string &word, uint32_t max) {
    const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const std::size_t first = hex ? 2 : 0;
    if (word.size() == first) {
        return std::nullopt;
    }
    const uint64_t base = hex ? 16 : 10;
    uint64_t value = 0;
    for (std::size_t i = first; i < word.size(); ++i) {
        const char c = word[i];
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
        value = value * base + digit;
        // Checked at every digit, so a long word cannot wrap the accumulator.
        if (value > max) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

Arguments::Arguments(std::string command, std::vector<std::string> words)
    : command_(std::move(command)), words_(std::move(words)) {}

bool Arguments::take_flag(const std::string &name) {
    const std::string option = "--" + name;
    bool found = false;
    for (auto it = words_.begin(); it != words_.end();) {
        if (*it == option) {
            it = words_.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found;
}

bool Arguments::take_option(const std::string &name, std::optional<std::string> &value) {
    const std::string option = "--" + name;
    for (auto it = words_.begin(); it != words_.end(); ++it) {
        if (*it == option) {
            if (it + 1 == words_.end()) {
                usage_error(command_ + ": " + option + " needs a value");
                return false;
            }
            value = *(it + 1);
            words_.erase(it, it + 2);
            return true;
        }
        if (it->rfind(option + "=", 0) == 0) {
            value = it->substr(option.size() + 1);
            words_.erase(it);
            return true;
        }
    }
    return true;
}

bool Arguments::expect_positional(std::size_t count, const char *synopsis) {
    for (const auto &word : words_) {
        if (word.size() > 2 && word.rfind("--", 0) == 0) {
            usage_error(command_ + ": unknown option " + word);
            return false;
        }
    }
    if (words_.size() != count) {
        usage_error(command_ + ": expected " + synopsis);
        return false;
    }
    return true;
}

bool Arguments::number(const std::string &word, const char *what, uint32_t max,
                       uint32_t &value) const {
    const auto parsed = parse_number(word, max);
    if (!parsed) {
        usage_error(command_ + ": bad " + what + " '" + word + "' (decimal or 0x hex, 0 to " +
                    std::to_string(max) + ")");
        return false;
    }
    value = *parsed;
    return true;
}

bool Arguments::index(const std::string &word, uint8_t &value) const {
    uint32_t parsed = 0;
    if (!number(word, "index", UINT8_MAX, parsed)) {
        return false;
    }
    value = static_cast<uint8_t>(parsed);
    return true;
}

} // namespace diag
