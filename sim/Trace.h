// SPDX-License-Identifier: GPL-3.0-or-later
// The wire trace file: one line per chip-select frame,
//   "<start µs> <end µs> <out hex> | <in hex>"
// with times in microseconds to the nanosecond ("12.288") and the bytes as
// lower-case hex without separators. Lines are appended; the file is opened
// once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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

} // namespace sim
