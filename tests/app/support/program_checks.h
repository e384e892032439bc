// SPDX-License-Identifier: GPL-3.0-or-later
// What the tests of the real binary check again and again: a clean end, the
// console part of the output, lines of the station list file.
#pragma once

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "run_program.h"

namespace tunelark::test {

inline void expect_clean_exit(const ProgramResult &result) {
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
}

// Everything before curses takes over the stream.
inline std::string console_part(const std::string &out) {
    return out.substr(0, out.find('\x1b'));
}

// A label as the station list stores it: 16 bytes, blank padded.
inline std::string label16(std::string_view text) {
    std::string label(text);
    label.resize(16, ' ');
    return label;
}

// The station list's second line: "Volume: N".
inline std::string second_line(const std::string &file) {
    const auto first = file.find('\n');
    return file.substr(first + 1, file.find('\n', first + 1) - first - 1);
}

inline std::string date_line(const std::string &file) {
    const auto at = file.find("Date of scan");
    return file.substr(at, file.find('\n', at) - at);
}

} // namespace tunelark::test
