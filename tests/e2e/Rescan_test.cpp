// SPDX-License-Identifier: GPL-3.0-or-later
// "Rescan" from the menu: curses mode is left, the full bring-up and a scan
// run on the normal console, the file is written anew, and a new menu comes
// up with the volume kept.
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

TEST(Rescan, RunsBringUpAndScanOnTheConsoleThenShowsANewMenuWithTheVolumeKept) {
    RadioBench bench;
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    term->send("q");
    ASSERT_TRUE(term->waitUntil([&] { return bench.storedVolume() == 62u; }, 5s));
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: ")) << term->dump();

    ASSERT_TRUE(moveMark(*term, 0, static_cast<int>(entries.size()), "Rescan")) << term->dump();
    bench.removeStationList();
    const std::size_t from = term->output().size();
    term->send("\r");

    ASSERT_TRUE(term->waitForOutput(kEnterCurses.data(), from)) << consoleText(term->output());
    ASSERT_TRUE(waitForMenu(*term)) << term->dump();
    const std::string_view raw = std::string_view(term->output()).substr(from);
    const std::size_t left = raw.find(kLeaveCurses);
    const std::size_t entered = raw.find(kEnterCurses);
    ASSERT_NE(left, std::string::npos) << "curses mode is left before the bring-up";
    ASSERT_LT(left, entered);
    const std::string console = consoleText(raw.substr(left, entered - left));
    std::size_t at = 0;
    for (const char *step : {"Si468x resetting...\n", "Load firmware now... Try 0\n",
                             "\nSet properties\n", "Do full DAB scan. Number of Frequencies: 41\n",
                             "Services found:\n", "Saving scan results.\n", "Volume: 62\n"}) {
        const std::size_t found = console.find(step, at);
        EXPECT_NE(found, std::string::npos) << "missing or out of order: " << step << "\n"
                                            << console;
        if (found != std::string::npos) {
            at = found;
        }
    }
    EXPECT_EQ(console.find("Reading station list"), std::string::npos);
    EXPECT_EQ(bench.storedVolume(), 62u) << "the scan was saved with the volume in force";

    // A new menu: selection back at the first entry, nothing playing, and
    // the old station's status lines gone with it.
    EXPECT_EQ(markedName(*term),
              entries[0].name.substr(0, entries[0].name.find_last_not_of(' ') + 1));
    EXPECT_EQ(term->trimmed(20), kHelpKeys);
    term->settle();
    for (int row = 21; row < 24; ++row) {
        EXPECT_EQ(term->trimmed(row), "") << "row " << row << "\n" << term->dump();
    }
    BoardReading board = bench.board();
    EXPECT_EQ(board.chip, sim::ChipState::Running);
    EXPECT_FALSE(board.playing) << "the bring-up reset the chip";
    EXPECT_EQ(board.volume, 62u);

    // The new menu works like the first.
    const std::size_t replay = term->output().size();
    term->send("\r");
    EXPECT_TRUE(term->waitForOutput("Playing: ", replay)) << term->dump();
    EXPECT_TRUE(term->waitUntil([&] { return bench.board().playing; }, 5s));
    term->send("x");
    ExitStatus status = term->waitExit();
    EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
    EXPECT_NE(consoleText(term->output().substr(from)).find("User quits.\n"), std::string::npos);
}

} // namespace
} // namespace e2e
