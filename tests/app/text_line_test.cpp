// SPDX-License-Identifier: GPL-3.0-or-later
// The broadcast text line: one row at most, and nothing but printable ASCII
// reaches the terminal.
#include <string>

#include <gtest/gtest.h>

#include "CorvaneRadio.h"

namespace {

std::string text_line(const std::string &text, int width) {
    std::string line(static_cast<std::size_t>(width) + 1, '#');
    const int length = station_menu_text_line(text.c_str(), width, line.data());
    EXPECT_EQ(line[static_cast<std::size_t>(length)], '\0');
    line.resize(static_cast<std::size_t>(length));
    return line;
}

TEST(TextLine, ShortTextKeptAsItIs) {
    EXPECT_EQ(text_line("Now playing: Song", 80), "Now playing: Song");
    EXPECT_EQ(text_line("", 80), "");
}

TEST(TextLine, CutAtTheScreenWidth) {
    const std::string text(200, 'a');
    EXPECT_EQ(text_line(text, 80), std::string(80, 'a'));
    EXPECT_EQ(text_line("abcdef", 6), "abcdef");
    EXPECT_EQ(text_line("abcdefg", 6), "abcdef");
    EXPECT_EQ(text_line("abc", 0), "");
}

TEST(TextLine, ControlAndUpperBytesShowAsBlanks) {
    // Line ends, escape sequences, tabs and DEL would move the cursor or
    // drive the terminal; the upper half is another character set.
    EXPECT_EQ(text_line("a\nb\rc\td", 80), "a b c d");
    EXPECT_EQ(text_line("\x1b[2J\x1b]0;x\x07", 80), " [2J ]0;x ");
    EXPECT_EQ(text_line("\x7f\x01\x1f", 80), "   ");
    EXPECT_EQ(text_line("K\xf6ln \x80\xff", 80), "K ln   ");
}

TEST(TextLine, PrintableAsciiBoundsKept) {
    EXPECT_EQ(text_line(" ~", 80), " ~");
    std::string all;
    for (int c = 0x20; c < 0x7F; ++c) {
        all.push_back(static_cast<char>(c));
    }
    EXPECT_EQ(text_line(all, 200), all);
}

TEST(TextLine, LongestTextOfAPacketFitsWideScreens) {
    // 4093 characters is the most a packet leaves in the record.
    const std::string text(4093, 'z');
    EXPECT_EQ(text_line(text, 4095), text);
}

} // namespace
