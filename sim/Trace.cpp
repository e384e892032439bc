// SPDX-License-Identifier: GPL-3.0-or-later
#include "Trace.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

void append_hex(std::string &line, const uint8_t *bytes, std::size_t length) {
    static constexpr char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < length; ++i) {
        line += digits[bytes[i] >> 4];
        line += digits[bytes[i] & 0x0F];
    }
}

void append_us(std::string &line, uint64_t ns) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(ns / 1000),
                  static_cast<unsigned long long>(ns % 1000));
    line += text;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::optional<std::vector<uint8_t>> parse_hex(std::string_view text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_value(text[i]);
        const int low = hex_value(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

// "<digits>.<three digits>", the form append_us writes.
std::optional<double> parse_us(std::string_view text) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || text.size() - dot - 1 != 3 ||
        text.find_first_not_of("0123456789", 0) != dot ||
        text.find_first_not_of("0123456789", dot + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    return std::strtod(std::string(text).c_str(), nullptr);
}

// The text up to the next blank, taken off the front of `line`.
std::string_view take_word(std::string_view &line) {
    const auto blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    line.remove_prefix(blank == std::string_view::npos ? line.size() : blank + 1);
    return word;
}

} // namespace

std::string trace_line(uint64_t start_ns, uint64_t end_ns, const uint8_t *out, const uint8_t *in,
                       std::size_t length) {
    std::string line;
    line.reserve(4 * length + 48);
    append_us(line, start_ns);
    line += ' ';
    append_us(line, end_ns);
    line += ' ';
    append_hex(line, out, length);
    line += " | ";
    append_hex(line, in, length);
    line += '\n';
    return line;
}

bool TraceFile::open(const std::string &path) {
    close();
    file_ = std::fopen(path.c_str(), "a");
    return file_ != nullptr;
}

void TraceFile::close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

void TraceFile::write(uint64_t start_ns, uint64_t end_ns, const uint8_t *out, const uint8_t *in,
                      std::size_t length) {
    if (file_ == nullptr) {
        return;
    }
    const std::string line = trace_line(start_ns, end_ns, out, in, length);
    std::fwrite(line.data(), 1, line.size(), file_);
    // A run may end by a signal; every frame is on disk once written.
    std::fflush(file_);
}

std::optional<TraceFrame> parse_trace_line(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    const auto start = parse_us(take_word(line));
    const auto end = parse_us(take_word(line));
    const auto out = parse_hex(take_word(line));
    if (!start || !end || !out || take_word(line) != "|") {
        return std::nullopt;
    }
    // Every frame is full duplex: as many bytes come in as go out.
    const auto in = parse_hex(line);
    if (!in || in->size() != out->size()) {
        return std::nullopt;
    }
    return TraceFrame{*start, *end, *out, *in};
}

std::vector<TraceFrame> parse_trace(std::string_view text) {
    std::vector<TraceFrame> frames;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (auto frame = parse_trace_line(text.substr(0, end))) {
            frames.push_back(std::move(*frame));
        }
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return frames;
}

std::vector<TraceFrame> read_trace(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return parse_trace(text.str());
}

} // namespace sim
