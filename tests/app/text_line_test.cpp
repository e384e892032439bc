// SPDX-License-Identifier: GPL-3.0-or-later
// The broadcast text line: one row at most, decoded from the broadcast
// character set, and nothing but characters reaches the terminal.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "CorvaneRadio.h"

namespace {

// The row as written in the test process's locale (C: ASCII only).
std::string text_line(const std::string &text, int width) {
    std::string line(static_cast<std::size_t>(width) * 4 + 1, '#');
    const int columns = station_menu_text_line(text.c_str(), width, line.data(),
                                               static_cast<uint16_t>(line.size()));
    line.resize(std::strlen(line.c_str()));
    EXPECT_EQ(static_cast<std::size_t>(columns), line.size());
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

TEST(TextLine, ControlCodesNeverReachTheTerminal) {
    // Escape, bell, carriage return, tab and DEL would drive the terminal;
    // in the broadcast character set they are the letters Ě, Ș, Ĺ, Ċ and Ħ,
    // and reach it only as such. The broadcast's own line break and end of
    // headline read as blanks, its word break as nothing.
    EXPECT_EQ(text_line("\x1b[2J\x1b]0;x\x07", 80), "E[2JE]0;xS");
    EXPECT_EQ(text_line("a\rb\tc\x7f", 80), "aLbCcH");
    EXPECT_EQ(text_line("one\ntwo\x0bthree", 80), "one two three");
    EXPECT_EQ(text_line("Donau\x1f"
                        "dampf",
                        80),
              "Donaudampf");
}

TEST(TextLine, BroadcastCharacterSetSpelledInAnAsciiLocale) {
    // 0x99 ü, 0x8D ß, 0x97 ö: the row that once read "Gr  e aus K ln".
    EXPECT_EQ(text_line("Gr\x99\x8D"
                        "e aus K\x97ln",
                        80),
              "Grusse aus Koln");
    EXPECT_EQ(text_line("\x01\x02\x03", 80), "EIU") << "letters in the low bytes too";
    EXPECT_EQ(text_line("Gr\x99\x8D"
                        "e",
                        3),
              "Gru")
        << "a spelling is cut like the text";
}

TEST(TextLine, AsciiKeptExceptWhereTheBroadcastSetDiffers) {
    // The broadcast set follows ASCII but for eight positions: $ \\ ^ ` { | } ~
    // stand for ł Ů Ł Ą « ů » Ľ (and $ itself is byte 0xAB).
    std::string all;
    std::string shown;
    for (int c = 0x20; c < 0x7F; ++c) {
        all.push_back(static_cast<char>(c));
        switch (c) {
        case '$':
            shown += "l";
            break;
        case '\\':
            shown += "U";
            break;
        case '^':
            shown += "L";
            break;
        case '`':
            shown += "A";
            break;
        case '{':
            shown += "<<";
            break;
        case '|':
            shown += "u";
            break;
        case '}':
            shown += ">>";
            break;
        case '~':
            shown += "L";
            break;
        default:
            shown.push_back(static_cast<char>(c));
        }
    }
    EXPECT_EQ(text_line(all, 200), shown);
    EXPECT_EQ(text_line("\xAB"
                        "5",
                        80),
              "$5");
}

TEST(TextLine, LongestTextOfAPacketFitsWideScreens) {
    // 4093 characters is the most a packet leaves in the record.
    const std::string text(4093, 'z');
    EXPECT_EQ(text_line(text, 4095), text);
}

} // namespace
