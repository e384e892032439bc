// SPDX-License-Identifier: GPL-3.0-or-later
#include "Protocol.h"

#include <charconv>
#include <climits>

namespace tunelark::mpd {

namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t';
}

// Command names are lower-case words with underscores; anything else on the
// line's start is not a command, whatever follows.
bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || c == '_';
}

} // namespace

std::optional<Command> parse_line(std::string_view line, std::string &error) {
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    size_t i = 0;
    while (i < line.size() && is_space(line[i]))
        ++i;
    size_t start = i;
    while (i < line.size() && is_name_char(line[i]))
        ++i;
    if (i == start) {
        error = "No command given";
        return std::nullopt;
    }
    Command command;
    command.name.assign(line.substr(start, i - start));
    if (i < line.size() && !is_space(line[i])) {
        // "play3" or "status\x01": the name runs into something that cannot
        // be part of it, which the protocol treats as an unknown command.
        while (i < line.size() && !is_space(line[i]))
            ++i;
        command.name.assign(line.substr(start, i - start));
        return command;
    }
    for (;;) {
        while (i < line.size() && is_space(line[i]))
            ++i;
        if (i == line.size())
            return command;
        std::string arg;
        if (line[i] == '"') {
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\') {
                    if (i == line.size())
                        break;
                    c = line[i++];
                }
                arg.push_back(c);
            }
            if (!closed) {
                error = "Missing closing '\"'";
                return std::nullopt;
            }
            if (i < line.size() && !is_space(line[i])) {
                error = "Space expected after closing '\"'";
                return std::nullopt;
            }
        } else {
            while (i < line.size() && !is_space(line[i])) {
                if (line[i] == '"' || line[i] == '\'' || line[i] == '\\') {
                    error = "Invalid unquoted character";
                    return std::nullopt;
                }
                arg.push_back(line[i++]);
            }
        }
        command.args.push_back(std::move(arg));
    }
}

std::string format_ack(const Ack &ack, unsigned list_index, std::string_view command) {
    std::string out = "ACK [";
    out += std::to_string(static_cast<int>(ack.code));
    out += '@';
    out += std::to_string(list_index);
    out += "] {";
    out += command;
    out += "} ";
    for (char c : ack.message)
        out.push_back(c == '\n' || c == '\r' ? ' ' : c);
    out += '\n';
    return out;
}

void append_field(std::string &out, std::string_view key, std::string_view value) {
    out += key;
    out += ": ";
    for (char c : value)
        out.push_back(c == '\n' || c == '\r' ? ' ' : c);
    out += '\n';
}

std::optional<unsigned long> parse_unsigned(std::string_view text) {
    unsigned long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<long> parse_signed(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<Range> parse_range(std::string_view text) {
    size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        auto one = parse_unsigned(text);
        if (!one || *one == ULONG_MAX)
            return std::nullopt;
        return Range{*one, *one + 1};
    }
    auto start = parse_unsigned(text.substr(0, colon));
    if (!start)
        return std::nullopt;
    std::string_view rest = text.substr(colon + 1);
    if (rest.empty())
        return Range{*start, ULONG_MAX};
    auto end = parse_unsigned(rest);
    if (!end || *end < *start)
        return std::nullopt;
    return Range{*start, *end};
}

} // namespace tunelark::mpd
