// SPDX-License-Identifier: GPL-3.0-or-later
#include "Trace.h"

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

} // namespace sim
