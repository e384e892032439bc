// SPDX-License-Identifier: GPL-3.0-or-later
// Centred printing: the defaults for window, row and width, and the column
// arithmetic for texts longer than the width.
#include <gtest/gtest.h>

#include "CorvaneRadio.h"
#include "support/curses_screen.h"

namespace {

using tunelark::test::CursesScreen;

class PrintInMiddle : public ::testing::Test {
protected:
    CursesScreen screen;
};

TEST_F(PrintInMiddle, DefaultsToStandardScreenCursorRowAndWidth80) {
    move(5, 17);
    print_in_middle(nullptr, 0, 0, 0, "abcd", A_BOLD);
    // (80 - 4) / 2 from column 0, on the cursor's row.
    EXPECT_EQ(CursesScreen::row(5).substr(38, 4), "abcd");
    EXPECT_EQ(CursesScreen::trimmed_row(5), std::string(38, ' ') + "abcd");
    EXPECT_NE(mvwinch(stdscr, 5, 38) & A_BOLD, 0u);
    // The attributes are on only around the print.
    EXPECT_EQ(getattrs(stdscr) & A_BOLD, 0u);
}

TEST_F(PrintInMiddle, CentresWithinTheGivenColumnAndWidth) {
    print_in_middle(stdscr, 3, 10, 11, "abc", A_NORMAL);
    // 10 + (11 - 3) / 2
    EXPECT_EQ(CursesScreen::trimmed_row(3), std::string(14, ' ') + "abc");
}

TEST_F(PrintInMiddle, OddRemainderTruncatesDown) {
    print_in_middle(stdscr, 2, 0, 10, "abc", A_NORMAL);
    // (10 - 3) / 2 = 3
    EXPECT_EQ(CursesScreen::trimmed_row(2), "   abc");
}

TEST_F(PrintInMiddle, TextWiderThanWidthStartsLeftOfColumnTowardZero) {
    // (4 - 9) / 2 is -2, not -3: the start moves two columns left.
    print_in_middle(stdscr, 1, 10, 4, "abcdefghi", A_NORMAL);
    EXPECT_EQ(CursesScreen::trimmed_row(1), std::string(8, ' ') + "abcdefghi");
}

TEST_F(PrintInMiddle, RowsAndColumnsAreTheWindowsOwn) {
    WINDOW *window = newwin(6, 30, 4, 20);
    ASSERT_NE(window, nullptr);
    wmove(window, 2, 0);
    print_in_middle(window, 0, 0, 30, "xy", A_NORMAL);
    EXPECT_EQ(CursesScreen::trimmed_row(2, window), std::string(14, ' ') + "xy");
    delwin(window);
}

} // namespace
