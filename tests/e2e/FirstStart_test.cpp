// SPDX-License-Identifier: GPL-3.0-or-later
// A first start in a working directory without a station list: the notice,
// the bring-up and the band scan on the console, then the station menu as a
// person sees it, and moving through it.
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

class FirstStart : public ::testing::Test {
protected:
    RadioBench bench;
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
};

TEST_F(FirstStart, NoticeWaitsForEnterThenBringUpAndScanRunOnTheConsole) {
    ASSERT_EQ(entries.size(), 40u) << "the built-in band should hold 40 receivable services";
    auto term = bench.start();
    ASSERT_TRUE(term->waitForOutput("Please confirm with pressing ENTER")) << term->output();
    // Nothing goes on until the line end comes: no board link yet.
    term->settle(300ms, 1s);
    EXPECT_EQ(term->output().find("SPI bus enabled."), std::string::npos);
    EXPECT_FALSE(bench.hasStationList());

    const std::size_t confirmed = term->output().size();
    term->send("\r");
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output()) << term->dump();

    const std::string console = consoleText(term->output());
    const std::string before = consoleText(std::string_view(term->output()).substr(0, confirmed));
    EXPECT_EQ(before.rfind("Starting...Corvane Software v0.16.5\n", 0), 0u) << before;
    EXPECT_NE(before.find("Please note:\n"), std::string::npos);
    EXPECT_NE(before.find("\n\nPlease confirm with pressing ENTER\n"), std::string::npos) << before;

    // The console phases in their order, all before curses mode begins.
    const std::size_t curses = term->output().find(kEnterCurses);
    ASSERT_NE(curses, std::string::npos);
    const std::string plain = consoleText(std::string_view(term->output()).substr(0, curses));
    std::size_t at = 0;
    for (const char *step : {"SPI bus enabled.\n", "Si468x resetting...\n", "Si468x powered up.\n",
                             "Load firmware now... Try 0\n", "\nSet properties\n",
                             "Do full DAB scan. Number of Frequencies: 41\n",
                             "Services found:", "Saving scan results.\n", "Volume: 63\n"}) {
        std::size_t found = plain.find(step, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << step;
        if (found != std::string::npos) {
            at = found;
        }
    }
    // The labels follow one another in fields of 16 columns, as the menu
    // shows them in this (C) locale; a label with nothing to show is blank.
    std::string labels;
    for (const Entry &entry : entries) {
        std::string field = entry.name == "(No Label)" ? "" : entry.name;
        labels += field.append(16 - field.size(), ' ');
    }
    EXPECT_NE(plain.find("Services found:\n" + labels + "\nSaving scan results.\n"),
              std::string::npos);
    EXPECT_EQ(console.find("Not powered up"), std::string::npos);

    // The scan was saved with the start volume.
    EXPECT_EQ(bench.stationList().rfind(
                  "Automatically generated and machine read file, do not change!\nVolume: 63\n", 0),
              0u);
}

TEST_F(FirstStart, MenuShowsTitleBorderEntriesAndHelpInTheirPlacesAndColours) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());

    EXPECT_EQ(term->trimmed(0), kTitle);
    for (int c = 0; c < 25; ++c) {
        Cell cell = term->cell(0, c);
        EXPECT_TRUE(cell.bold && cell.fg == 4 && cell.bg == 0) << "title column " << c;
    }
    EXPECT_EQ(term->trimmed(1), "");

    // The 14x70 window's border.
    const int top = kMenuTop;
    const int bottom = kMenuTop + kMenuRows - 1;
    const int left = kMenuLeft;
    const int right = kMenuLeft + kMenuCols - 1;
    EXPECT_EQ(term->cell(top, left).text, "┌");
    EXPECT_EQ(term->cell(top, right).text, "┐");
    EXPECT_EQ(term->cell(bottom, left).text, "└");
    EXPECT_EQ(term->cell(bottom, right).text, "┘");
    for (int c = left + 1; c < right; ++c) {
        EXPECT_EQ(term->cell(top, c).text, "─") << "top border column " << c;
        EXPECT_EQ(term->cell(bottom, c).text, "─") << "bottom border column " << c;
    }
    for (int r = top + 1; r < bottom; ++r) {
        EXPECT_EQ(term->cell(r, left).text, "│") << "left border row " << r;
        EXPECT_EQ(term->cell(r, right).text, "│") << "right border row " << r;
        // Nothing outside the window on its rows.
        EXPECT_EQ(term->row(r).substr(0, left), std::string(left, ' ')) << "row " << r;
    }
    EXPECT_EQ(term->cell(top, right + 1).text, " ");

    // Twelve rows of three entries in database order, the first marked.
    for (int k = 0; k < 3 * kVisibleRows; ++k) {
        const int r = top + 1 + k / 3;
        const int c = markColumn(k % 3);
        std::string shown;
        for (int col = c + 3; col < c + 19; ++col) {
            shown += term->cell(r, col).text;
        }
        std::string expected = entries[static_cast<std::size_t>(k)].name;
        expected.resize(16, ' ');
        EXPECT_EQ(shown, expected) << "entry " << k;
        std::string mark =
            term->cell(r, c).text + term->cell(r, c + 1).text + term->cell(r, c + 2).text;
        EXPECT_EQ(mark, k == 0 ? " * " : "   ") << "mark of entry " << k;
    }
    // The current entry stands out; the others do not, and the menu is not bold.
    EXPECT_TRUE(term->cell(top + 1, markColumn(0) + 3).reverse);
    EXPECT_FALSE(term->cell(top + 1, markColumn(1) + 3).reverse);
    EXPECT_FALSE(term->cell(top + 2, markColumn(0) + 3).bold);
    // Entries beyond the twelfth row are not on the screen yet.
    EXPECT_EQ(term->find("Rescan"), -1);
    EXPECT_EQ(term->find(entries[36].name), -1);

    // Help lines at LINES-5 and LINES-4 in pair 1, bold; the rows below empty.
    EXPECT_EQ(term->trimmed(19), kHelpScroll);
    EXPECT_EQ(term->trimmed(20), kHelpKeys);
    for (int r : {19, 20}) {
        Cell cell = term->cell(r, 3);
        EXPECT_TRUE(cell.bold && cell.fg == 4 && cell.bg == 0) << "help row " << r;
    }
    for (int r : {16, 17, 18, 21, 22, 23}) {
        EXPECT_EQ(term->trimmed(r), "") << "row " << r;
    }
}

TEST_F(FirstStart, ArrowKeysMoveTheMarkAndStopAtTheEdges) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    struct Step {
        VTermKey key;
        int entry; // where the mark is afterwards
    };
    const Step steps[] = {
        {VTERM_KEY_RIGHT, 1}, {VTERM_KEY_RIGHT, 2}, {VTERM_KEY_DOWN, 5}, {VTERM_KEY_LEFT, 4},
        {VTERM_KEY_UP, 1},    {VTERM_KEY_LEFT, 0},  {VTERM_KEY_UP, 0}, // the top row: nothing above
        {VTERM_KEY_LEFT, 0}, // the first entry: nothing before
        {VTERM_KEY_DOWN, 3},
    };
    for (const Step &step : steps) {
        term->key(step.key);
        EXPECT_TRUE(waitForMark(*term, entries[static_cast<std::size_t>(step.entry)].name, 2s))
            << "expected the mark on entry " << step.entry << "\n"
            << term->dump();
    }
    // Only one entry carries the mark.
    int marks = 0;
    for (int r = kMenuTop + 1; r <= kMenuTop + kVisibleRows; ++r) {
        for (std::size_t at = term->row(r).find(" * "); at != std::string::npos;
             at = term->row(r).find(" * ", at + 1)) {
            ++marks;
        }
    }
    EXPECT_EQ(marks, 1) << term->dump();
}

TEST_F(FirstStart, PagingScrollsTheFourteenRowsThroughTheTwelveVisible) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    const int lastRow = kMenuTop + kVisibleRows;

    term->key(VTERM_KEY_PAGEDOWN);
    // 41 entries fill 14 rows: after a page down the last row is the one with
    // the last station and "Rescan", and the first rows have scrolled away.
    ASSERT_TRUE(term->waitForRow(lastRow, "Rescan", 5s)) << term->dump();
    EXPECT_NE(term->row(lastRow).find(entries[39].name), std::string::npos) << term->dump();
    EXPECT_EQ(term->find(entries[1].name), -1) << term->dump();
    EXPECT_EQ(term->find(entries[4].name), -1) << term->dump();
    EXPECT_NE(term->row(kMenuTop + 1).find(entries[6].name), std::string::npos) << term->dump();
    EXPECT_NE(markPosition(*term).first, -1) << "the mark stays on a visible entry";
    // The frame does not move with the entries.
    EXPECT_EQ(term->cell(kMenuTop, kMenuLeft).text, "┌");
    EXPECT_EQ(term->cell(lastRow + 1, kMenuLeft).text, "└");

    term->key(VTERM_KEY_PAGEUP);
    ASSERT_TRUE(term->waitForRow(kMenuTop + 1, entries[0].name, 5s)) << term->dump();
    EXPECT_EQ(term->find("Rescan"), -1) << term->dump();

    // Walking down past the last visible row scrolls one row at a time, and
    // the last row holds only the last station and "Rescan".
    ASSERT_TRUE(moveMark(*term, 0, 39, entries[39].name)) << term->dump();
    term->key(VTERM_KEY_RIGHT);
    ASSERT_TRUE(waitForMark(*term, "Rescan")) << term->dump();
    term->key(VTERM_KEY_RIGHT);
    term->key(VTERM_KEY_DOWN);
    term->settle(300ms, 2s);
    EXPECT_EQ(markedName(*term), "Rescan") << "nothing after the last entry\n" << term->dump();
    EXPECT_EQ(term->row(lastRow).find(entries[38].name), std::string::npos) << term->dump();
}

} // namespace
} // namespace e2e
