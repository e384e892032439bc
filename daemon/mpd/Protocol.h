// SPDX-License-Identifier: GPL-3.0-or-later
// The MPD protocol's wire format: one command per line, its arguments bare
// words or double-quoted strings, and the ACK line that answers a failure.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunelark::mpd {

// The protocol's error numbers, as clients switch on them.
enum class AckCode {
    NotList = 1,
    Arg = 2,
    Password = 3,
    Permission = 4,
    Unknown = 5,
    NoExist = 50,
    System = 52,
    PlayerSync = 55,
};

struct Ack {
    AckCode code;
    std::string message;
};

struct Command {
    std::string name;
    std::vector<std::string> args;
};

// Splits one line (without its newline) into a command and its arguments.
// A quoted argument takes backslash escapes; a bare one stops at white space.
// On failure `error` says why, in the words the protocol's clients show.
std::optional<Command> parse_line(std::string_view line, std::string &error);

// "ACK [5@0] {frobnicate} unknown command \"frobnicate\"\n"
std::string format_ack(const Ack &ack, unsigned list_index, std::string_view command);

// Writes `value` for a "Key: value" line: the protocol has no escaping there,
// so a line break inside a broadcast text would end the reply early.
void append_field(std::string &out, std::string_view key, std::string_view value);

// Whole unsigned numbers and "START:END" ranges, as the commands take them.
std::optional<unsigned long> parse_unsigned(std::string_view text);
std::optional<long> parse_signed(std::string_view text);
struct Range {
    unsigned long start = 0;
    unsigned long end = 0; // one past the last; ULONG_MAX for an open end
};
std::optional<Range> parse_range(std::string_view text);

} // namespace tunelark::mpd
