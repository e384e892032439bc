// SPDX-License-Identifier: GPL-3.0-or-later
// The screen in terminals of other sizes: the bottom lines follow the
// terminal's height, row 20 is cleared on every Enter whatever stands there,
// and a terminal too small for the menu neither crashes the radio nor makes
// it spin.
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

TEST(Layout, BottomLinesFollowTheTerminalHeight) {
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
    for (auto [rows, cols] : {std::pair{30, 80}, {40, 120}}) {
        SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols));
        RadioBench bench;
        auto term = bench.firstStart(rows, cols);
        ASSERT_FALSE(HasFailure());
        EXPECT_EQ(term->trimmed(0), kTitle);
        EXPECT_EQ(term->cell(kMenuTop, kMenuLeft).text, "┌");
        EXPECT_EQ(term->cell(kMenuTop + kMenuRows - 1, kMenuLeft + kMenuCols - 1).text, "┘");
        EXPECT_EQ(term->trimmed(rows - 5), kHelpScroll);
        EXPECT_EQ(term->trimmed(rows - 4), kHelpKeys);
        for (int r = kMenuTop + kMenuRows; r < rows - 5; ++r) {
            EXPECT_EQ(term->trimmed(r), "") << "row " << r;
        }

        term->send("\r");
        const std::string playing =
            "Playing: " + entries[0].name.substr(0, entries[0].name.find_last_not_of(' ') + 1);
        ASSERT_TRUE(term->waitForRow(rows - 1, playing)) << term->dump();
        EXPECT_NE(term->row(rows - 2).rfind("Freq. Idx 0 Service ID ", 0), std::string::npos)
            << term->dump();
        // Row 20 is below the help lines' rows here: both stay.
        EXPECT_EQ(term->trimmed(rows - 5), kHelpScroll);
        EXPECT_EQ(term->trimmed(rows - 4), kHelpKeys);
        EXPECT_EQ(term->trimmed(20), "");
        term->send("x");
        EXPECT_TRUE(term->waitExit().exited);
    }
}

// The key loop refreshes ten times a second; with nothing changed those
// refreshes must not reach the terminal (no cursor dance, no redraw), on a
// link as slow as a serial console that would be all it carries.
TEST(Layout, IdleMenuSendsNothingToTheTerminalUntilAKeyChangesIt) {
    RadioBench bench;
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    term->settle();
    const std::size_t before = term->output().size();
    term->pump(1500ms);
    EXPECT_EQ(term->output().size(), before) << "idle output: " << term->output().substr(before);

    term->key(VTERM_KEY_DOWN);
    EXPECT_TRUE(term->waitUntil([&] { return term->output().size() > before; }, 2s))
        << "the mark's move is drawn";
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

TEST(Layout, TerminalTooSmallForTheMenuNeitherCrashesNorSpins) {
    RadioBench bench;
    auto term = bench.start({}, 20, 60);
    ASSERT_TRUE(term->waitForOutput("Please confirm with pressing ENTER"));
    term->send("\r");
    ASSERT_TRUE(term->waitForOutput(kEnterCurses.data())) << consoleText(term->output());
    term->settle(500ms, 5s);
    ASSERT_TRUE(term->running()) << describe(term->waitExit(0ms)) << "\n"
                                 << consoleText(term->output());

    // Whatever it shows, the key loop waits for keys instead of busying the CPU.
    const auto before = term->cpuTicks();
    ASSERT_TRUE(before.has_value());
    term->settle(2500ms, 2500ms);
    const auto after = term->cpuTicks();
    ASSERT_TRUE(after.has_value()) << "the radio died while idle";
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    EXPECT_LT(*after - *before, static_cast<uint64_t>(ticksPerSecond)) // under 40% of a core
        << "CPU ticks in 2.5 s: " << *after - *before;
    // What it shows is the radio's choice, but it shows something.
    bool anything = false;
    for (int r = 0; r < term->rows(); ++r) {
        anything = anything || !term->trimmed(r).empty();
    }
    EXPECT_TRUE(anything) << term->dump();

    // Keys still work: x quits as usual.
    term->send("x");
    ExitStatus status = term->waitExit();
    EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
    EXPECT_NE(consoleText(term->output()).find("User quits.\n"), std::string::npos);
    EXPECT_EQ(bench.board().chip, sim::ChipState::Reset);
}

} // namespace
} // namespace e2e
