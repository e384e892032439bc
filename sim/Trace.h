// SPDX-License-Identifier: GPL-3.0-or-later
// The wire trace file: one line per chip-select frame,
//   "<start µs> <end µs> <out hex> | <in hex>"
// with times in microseconds to the nanosecond ("12.288") and the bytes as
// lower-case hex without separators. Lines are appended; the file is opened
// once. The reader beside the writer is the one the tests use, so the format
// has a single definition on each side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

std::string trace_line(uint64_t start_ns, uint64_t end_ns, const uint8_t *out, const uint8_t *in,
                       std::size_t length);

class TraceFile {
public:
    TraceFile() = default;
    ~TraceFile() { close(); }
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;

    bool open(const std::string &path);
    void close();
    bool is_open() const { return file_ != nullptr; }
    void write(uint64_t start_ns, uint64_t end_ns, const uint8_t *out, const uint8_t *in,
               std::size_t length);

private:
    std::FILE *file_ = nullptr;
};

// One chip-select frame read back from a trace.
struct TraceFrame {
    double start_us = 0;
    double end_us = 0;
    std::vector<uint8_t> out; // the bytes the host sent
    std::vector<uint8_t> in;  // the bytes the chip returned
    uint8_t opcode() const { return out.empty() ? 0 : out[0]; }
};

// One line as trace_line writes it (with or without its line end); nothing
// when it does not have that form: two times, hex pairs, " | ", as many hex
// pairs again.
std::optional<TraceFrame> parse_trace_line(std::string_view line);
// Every well-formed line of a trace's text, in order.
std::vector<TraceFrame> parse_trace(std::string_view text);
// The frames of a trace file; none when it cannot be read.
std::vector<TraceFrame> read_trace(const std::string &path);

} // namespace sim
