// SPDX-License-Identifier: GPL-3.0-or-later
// The volume keys: each press sets the chip's volume and rewrites the station
// list file, also at the bounds, and the next start takes the stored volume.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

class Volume : public ::testing::Test {
protected:
    RadioBench bench;

    // Presses the key and waits for the file to say `expected`.
    bool press(Terminal &term, const char *key, unsigned expected) {
        term.send(key);
        return term.waitUntil([&] { return bench.storedVolume() == expected; }, 5s);
    }
    // Removes the file, presses the key and waits for the file to come back.
    bool rewrittenOnPress(Terminal &term, const char *key, unsigned expected) {
        bench.removeStationList();
        term.send(key);
        return term.waitUntil(
            [&] { return bench.hasStationList() && bench.storedVolume() == expected; }, 5s);
    }
};

TEST_F(Volume, KeysStepTheVolumeAndRewriteTheFileEvenAtTheBounds) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(bench.storedVolume(), 63u);
    const std::string scanned = bench.stationList();

    // At the top already: w keeps 63 but still writes the whole file.
    EXPECT_TRUE(rewrittenOnPress(*term, "w", 63)) << bench.stationList();
    EXPECT_EQ(bench.stationList(), scanned) << "the same database, the same volume";

    EXPECT_TRUE(press(*term, "q", 62));
    EXPECT_TRUE(press(*term, "q", 61));
    EXPECT_TRUE(press(*term, "w", 62));
    EXPECT_EQ(bench.board().volume, 62u) << "the chip's volume property follows";

    // Down to 0 and one press beyond.
    term->send(std::string(61, 'q'));
    EXPECT_TRUE(press(*term, "q", 0)) << bench.stationList();
    EXPECT_TRUE(rewrittenOnPress(*term, "q", 0)) << bench.stationList();
    EXPECT_EQ(bench.board().volume, 0u);
    EXPECT_TRUE(press(*term, "w", 1));

    // Only the volume line differs from the file the scan wrote.
    std::string expected = scanned;
    expected.replace(expected.find("Volume: 63\n"), 11, "Volume: 1\n");
    EXPECT_EQ(bench.stationList(), expected);
    // The volume is not shown anywhere on the screen.
    EXPECT_EQ(term->find("Volume"), -1) << term->dump();
    EXPECT_TRUE(waitForMenu(*term, 1s));
}

TEST_F(Volume, NextStartReadsTheListWithItsVolumeInsteadOfScanning) {
    {
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        ASSERT_TRUE(press(*term, "q", 62));
        ASSERT_TRUE(press(*term, "q", 61));
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    const std::string console = consoleText(term->output());
    EXPECT_EQ(console.find("Please note:"), std::string::npos) << "no notice with a list present";
    EXPECT_EQ(console.find("Do full DAB scan"), std::string::npos);
    EXPECT_NE(console.find("Reading station list: stationlist.txt\n"), std::string::npos);
    EXPECT_NE(console.find("Volume: 61\n"), std::string::npos) << console;
    EXPECT_EQ(bench.board().volume, 61u);

    // The menu lists the same stations, a label with leading blanks with
    // its blanks.
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
    EXPECT_NE(term->row(kMenuTop + 1).find(" * " + entries[0].name), std::string::npos)
        << term->dump();
    ASSERT_EQ(entries[2].name.rfind("  ", 0), 0u) << "the band's label with leading blanks";
    EXPECT_TRUE(moveMark(*term, 0, 2, entries[2].name)) << term->dump();
    EXPECT_TRUE(moveMark(*term, 2, 3, "(No Label)")) << term->dump();
}

// A save that fails while the menu is up is shown on the bottom line, in
// the menu's own screen; nothing is written through standard output into
// the middle of it. A later save that succeeds takes the notice away.
TEST_F(Volume, FailedSaveIsShownOnTheBottomLineAndTheScreenStaysWhole) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    const int bottom = term->rows() - 1;
    const std::string title = term->row(0);
    const std::string help = term->row(term->rows() - 5);

    // A directory in the list's place: no save can replace it.
    const std::string list = bench.runDirectory() + "/stationlist.txt";
    bench.removeStationList();
    ASSERT_TRUE(std::filesystem::create_directory(list));
    term->send("q");
    const std::string notice = "Volume 62 not saved: DABUtils error No: 11, returned retval: -6";
    EXPECT_TRUE(term->waitForRow(bottom, notice, 5s)) << term->dump();
    term->settle();
    EXPECT_EQ(term->find("DABUtils"), bottom) << term->dump();
    EXPECT_EQ(term->row(0), title);
    EXPECT_EQ(term->row(term->rows() - 5), help);
    EXPECT_TRUE(waitForMenu(*term, 1s)) << term->dump();
    EXPECT_EQ(bench.board().volume, 62u) << "the chip's volume still follows the key";

    // The directory gone: the next press saves, and the notice goes.
    ASSERT_TRUE(std::filesystem::remove(list));
    term->send("q");
    EXPECT_TRUE(term->waitUntil([&] { return bench.storedVolume() == 61u; }, 5s));
    EXPECT_TRUE(term->waitUntil([&] { return term->find("not saved") == -1; }, 5s)) << term->dump();
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

} // namespace
} // namespace e2e
