// SPDX-License-Identifier: GPL-3.0-or-later
// The ways a run ends, and what each leaves behind: the console message, the
// exit status, the terminal, and the chip powered down or left playing for
// the next start to take over.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

class Exits : public ::testing::Test {
protected:
    RadioBench bench;
    const std::vector<Entry> entries = expectedEntries(sim::default_band());

    // A first start that leaves the station list and powers the chip down.
    void scanAndQuit() {
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }
    // The console text written after curses mode was left for the last time.
    static std::string afterCurses(const Terminal &term) {
        const std::size_t left = term.output().rfind(kLeaveCurses);
        return left == std::string::npos
                   ? std::string()
                   : consoleText(
                         std::string_view(term.output()).substr(left + kLeaveCurses.size()));
    }
    static void expectPoweredDown(const BoardReading &board) {
        EXPECT_EQ(board.chip, sim::ChipState::Reset);
        EXPECT_FALSE(board.reset_high) << "the chip is held in reset";
        EXPECT_FALSE(board.playing);
    }
    const Entry &byName(const std::string &name) const {
        for (const Entry &e : entries) {
            if (e.name.rfind(name, 0) == 0) {
                return e;
            }
        }
        throw std::runtime_error("no entry " + name);
    }
};

TEST_F(Exits, QuitKeyAndNulKeyPowerTheChipDownWithTheirMessage) {
    struct Case {
        std::string key;
        const char *message;
    };
    for (const Case &c : {Case{"x", "User quits."}, Case{std::string(1, '\0'), "Unplanned exit"}}) {
        SCOPED_TRACE(c.message);
        bench.removeStationList();
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        term->send("\r");
        ASSERT_TRUE(term->waitForRow(23, "Playing: ")) << term->dump();
        ASSERT_TRUE(bench.board().playing);

        term->send(c.key);
        ExitStatus status = term->waitExit();
        EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
        // The message comes on the normal console once curses mode is left.
        EXPECT_EQ(afterCurses(*term), std::string(c.message) + "\n") << term->output();
        EXPECT_NE(term->find(c.message), -1) << term->dump();
        expectPoweredDown(bench.board());
        // curses left the terminal as it found it
        EXPECT_NE(term->modes().c_lflag & ICANON, 0u);
        EXPECT_NE(term->modes().c_lflag & ECHO, 0u);
    }
}

TEST_F(Exits, CtrlCEndsTheRunAndLeavesTheRadioPlaying) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    const Entry &voice = byName("Midland Voice");
    ASSERT_TRUE(moveMark(*term, 0, 7, voice.name)) << term->dump();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: Midland Voice")) << term->dump();

    term->send("\x03");
    ExitStatus status = term->waitExit();
    ASSERT_TRUE(status.finished) << "ctrl+c must end the run";
    // With no handler of the radio's own, the interrupt either kills it or
    // reaches the curses library's handler, which restores the terminal and
    // exits.
    EXPECT_TRUE((status.signaled && status.signal == SIGINT) || status.exited) << describe(status);
    if (status.exited) {
        EXPECT_NE(term->modes().c_lflag & ICANON, 0u);
        EXPECT_NE(term->modes().c_lflag & ECHO, 0u);
    }
    EXPECT_EQ(term->output().find("User quits."), std::string::npos);
    EXPECT_EQ(term->output().find("Unplanned exit"), std::string::npos);

    BoardReading board = bench.board();
    EXPECT_EQ(board.chip, sim::ChipState::Running);
    EXPECT_TRUE(board.reset_high);
    EXPECT_TRUE(board.playing);
    EXPECT_EQ(board.service_id, voice.service_id);
    EXPECT_EQ(board.tuned_index, voice.freq_index);
}

TEST_F(Exits, RequestedServiceStartsSilentlyAndTheNextStartTakesItOver) {
    scanAndQuit();
    ASSERT_FALSE(HasFailure());
    const Entry &voice = byName("Midland Voice");
    {
        auto term = bench.start({"-S", std::to_string(voice.service_id)});
        ExitStatus status = term->waitExit();
        EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
        const std::string console = consoleText(term->output());
        EXPECT_EQ(console.find("Useage"), std::string::npos) << console;
        EXPECT_NE(console.find("Si468x resetting..."), std::string::npos) << "powered down before";
        // The menu was up for the start and is gone again; nothing follows.
        EXPECT_NE(term->output().find(kEnterCurses), std::string::npos);
        EXPECT_NE(term->output().find(kLeaveCurses), std::string::npos);
        EXPECT_EQ(afterCurses(*term).find_first_not_of(" \n"), std::string::npos)
            << afterCurses(*term);
        BoardReading board = bench.board();
        EXPECT_EQ(board.chip, sim::ChipState::Running);
        EXPECT_TRUE(board.reset_high);
        EXPECT_TRUE(board.playing);
        EXPECT_EQ(board.service_id, voice.service_id);
        EXPECT_EQ(board.component_id, voice.component_id);
        EXPECT_EQ(board.tuned_index, voice.freq_index);
    }
    // A plain start finds the chip playing: no reset, no firmware, no chip
    // information, and the service goes on while the menu is shown.
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output()) << term->dump();
    const std::string console = consoleText(term->output());
    EXPECT_EQ(console.find("Si468x resetting..."), std::string::npos) << console;
    EXPECT_EQ(console.find("Chip info"), std::string::npos) << console;
    EXPECT_EQ(console.find("Set properties"), std::string::npos) << console;
    EXPECT_NE(console.find("SPI bus enabled.\n"), std::string::npos);
    EXPECT_NE(console.find("Volume: 63\n"), std::string::npos);
    term->settle(500ms, 2s);
    BoardReading board = bench.board();
    EXPECT_EQ(board.chip, sim::ChipState::Running);
    EXPECT_TRUE(board.playing);
    EXPECT_EQ(board.service_id, voice.service_id);
    EXPECT_EQ(term->trimmed(23), "") << "nothing was started by this run";
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
    expectPoweredDown(bench.board());
}

TEST_F(Exits, TakeOverWithoutAStationListScansWithTheChipsVolume) {
    {
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        for (unsigned v : {62u, 61u, 60u}) {
            term->send("q");
            ASSERT_TRUE(term->waitUntil([&] { return bench.storedVolume() == v; }, 5s));
        }
        term->send("\x03");
        ASSERT_TRUE(term->waitExit().finished);
    }
    ASSERT_EQ(bench.board().chip, sim::ChipState::Running);
    bench.removeStationList();

    auto term = bench.start();
    ASSERT_TRUE(term->waitForOutput("Please confirm with pressing ENTER"));
    term->send("\r");
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    const std::string console = consoleText(term->output());
    EXPECT_EQ(console.find("Si468x resetting..."), std::string::npos) << console;
    EXPECT_NE(console.find("Do full DAB scan. Number of Frequencies: 41\n"), std::string::npos);
    EXPECT_NE(console.find("Volume: 60\n"), std::string::npos) << console;
    EXPECT_EQ(bench.storedVolume(), 60u);
}

TEST_F(Exits, UnknownRequestedServiceStopsBeforeCursesMode) {
    scanAndQuit();
    ASSERT_FALSE(HasFailure());
    for (const char *id : {"12345", "4294967295"}) {
        SCOPED_TRACE(id);
        auto term = bench.start({"-S", id});
        ExitStatus status = term->waitExit();
        EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
        EXPECT_EQ(term->output().find(kEnterCurses), std::string::npos) << "no menu was shown";
        const std::string console = consoleText(term->output());
        EXPECT_NE(console.find("Volume: 63\nUnknown service identifier, stop.\n"),
                  std::string::npos)
            << console;
        expectPoweredDown(bench.board());
    }
}

TEST_F(Exits, MalformedCommandLinePrintsTheUsageAndStartsAsWithout) {
    scanAndQuit();
    ASSERT_FALSE(HasFailure());
    const std::string usage = "Useage either without arguments: sudo ./Tunelark,\n"
                              "or with Service Identifier: sudo ./Tunelark -S [service identifier "
                              "number].\n"
                              "See the stationlist.txt file to find the service identifier number "
                              "of a service\n";
    struct Case {
        std::vector<std::string> args;
        bool usage;
    };
    const Case cases[] = {
        {{"-S"}, true},           {{"-S", "12a4"}, true}, {{"-S", "12345678901"}, true},
        {{"-S", "1", "2"}, true}, {{"-S", "0"}, false},   {{"-S", ""}, false},
    };
    for (const Case &c : cases) {
        std::string words;
        for (const auto &a : c.args) {
            words += "[" + a + "]";
        }
        SCOPED_TRACE(words);
        auto term = bench.start(c.args);
        ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output()) << term->dump();
        const std::string console = consoleText(term->output());
        EXPECT_EQ(console.find("Starting...Corvane Software v0.16.5\n" + usage) == 0, c.usage)
            << console;
        EXPECT_EQ(console.find("Useage") != std::string::npos, c.usage) << console;
        term->send("x");
        EXPECT_TRUE(term->waitExit().exited);
    }
}

} // namespace
} // namespace e2e
