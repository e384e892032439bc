// SPDX-License-Identifier: GPL-3.0-or-later
// The real binary's key loop driven through a pipe (keys that need no screen
// to check: volume, quit, NUL, rescan), its 100 ms rhythm, and a terminal
// too small for the layout. What the screen shows is for the terminal tests.
#include <chrono>
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>

#include "support/program_checks.h"
#include "support/radio_run.h"
#include "support/test_bands.h"

namespace {

using namespace tunelark::test;
using namespace std::chrono_literals;

// Status-only GET_DIGITAL_SERVICE_DATA queries: one per pass of the key loop.
std::size_t data_polls(const RadioRun &run) {
    std::size_t polls = 0;
    for (const auto &frame : commands(run.trace(), opcode::GET_DIGITAL_SERVICE_DATA)) {
        if (frame.out.size() > 1 && frame.out[1] == 0x10) {
            ++polls;
        }
    }
    return polls;
}

// A later start with the two-ensemble band, whose menu the test drives.
void prepare_menu(RadioRun &run, unsigned volume = 30) {
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, volume));
}

// ---- keys through the pipe ------------------------------------------------------------

TEST(VolumeKeys, EveryPressSetsTheVolumeAndRewritesTheFile) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 2));
    const ProgramResult result = run.run("qqqwx");
    expect_clean_exit(result);
    std::vector<uint16_t> volumes;
    for (const auto &write : commands(run.trace(), opcode::SET_PROPERTY)) {
        if (property_id(write) == 0x0300) {
            volumes.push_back(property_value(write));
        }
    }
    // The set-up's 2, then 1, 0, 0 at the bound, 1.
    EXPECT_EQ(volumes, (std::vector<uint16_t>{2, 1, 0, 0, 1}));
    const std::string file = read_file(run.station_list_path());
    EXPECT_EQ(second_line(file), "Volume: 1");
    // Rewritten from the loaded database, which keeps the file's scan date.
    EXPECT_EQ(date_line(file), "Date of scan (YYYY-MM-DD, HH:MM:SS): 2024-5-17, 8:30:0");
}

TEST(VolumeKeys, RaisingAtTheTopStillRewritesTheFile) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 63));
    const ProgramResult result = run.run("wx");
    expect_clean_exit(result);
    const std::string file = read_file(run.station_list_path());
    EXPECT_EQ(second_line(file), "Volume: 63");
    EXPECT_EQ(date_line(file), "Date of scan (YYYY-MM-DD, HH:MM:SS): 2024-5-17, 8:30:0");
}

TEST(MenuKeys, NulCharacterIsAnUnplannedExit) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult result = run.run(std::string("\0", 1));
    expect_clean_exit(result);
    const std::string tail = "Unplanned exit\n";
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
}

TEST(MenuKeys, RescanRunsTheFullBringUpAndRewritesTheFile) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    run.leave_chip_running(40);
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    struct stat before {};
    ASSERT_EQ(stat(run.station_list_path().c_str(), &before), 0);
    // Six entries in rows of three: "Rescan" is the third of the second row.
    const ProgramResult result = run.run("\x1bOC\x1bOC\x1bOB\nx");
    expect_clean_exit(result);
    // The shortcut at start, the full bring-up after the rescan.
    EXPECT_EQ(count_of(result.out, "Si468x resetting...\n"), 1u);
    EXPECT_EQ(count_of(result.out, "Do full DAB scan. Number of Frequencies: 41\n"), 1u);
    EXPECT_NE(result.out.find("Saving scan results.\nVolume: 30\n"), std::string::npos);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    const std::string file = read_file(run.station_list_path());
    EXPECT_EQ(second_line(file), "Volume: 30");
    // The band broadcasts no date, so the scan keeps the one read back; a
    // new file took the list's place.
    struct stat after {};
    ASSERT_EQ(stat(run.station_list_path().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
}

// ---- the broadcast text line ------------------------------------------------------

// 100 characters without a run of one character (the terminal output would
// repeat a run by count instead of writing it out), then a marker.
std::string long_text() {
    std::string text = "Long";
    for (int i = 0; i < 96; ++i) {
        text.push_back(static_cast<char>('a' + i % 26));
    }
    return text + "#";
}

TEST(BroadcastText, StaysOnOneRowAndNeverDrivesTheTerminal) {
    RadioRun run;
    sim::Band band = two_ensemble_band();
    // A text with an operating-system command sequence and a bell, and one
    // far longer than the 80 columns of the screen, ending in a marker. In
    // the broadcast character set escape is Ě and the bell Ș: letters, shown
    // here in the C locale as E and S.
    band.ensembles[0].services[0].texts = {
        "Hello\x1b]0;PWNED\x07 world",
        long_text(),
    };
    run.band = band;
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(band, 30));
    ProgramOptions options = run.options();
    // Real time, so the station's texts arrive while the menu waits for
    // keys: the first 200 ms after the start, the next 500 ms later.
    for (auto &[name, value] : options.env) {
        if (name == "SI468X_SIM_CLOCK") {
            value = "real";
        }
    }
    options.env.emplace_back("SI468X_SIM_TIMING", "first-text=200,text-interval=500");
    RunningProgram child(options);
    child.write_input("\n");
    ASSERT_TRUE(child.wait_for_output("Longabcdef", 30s)) << child.output();
    child.collect_for(300ms);
    child.write_input("x");
    const ProgramResult result = child.finish(30s);
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("HelloE]0;PWNEDS world"), std::string::npos);
    EXPECT_EQ(count_of(result.out, "\x1b]0;PWNED"), 0u);
    EXPECT_EQ(count_of(result.out, "\x07"), 0u);
    // Cut at the 80 columns: the marker at column 100 never reaches the screen.
    EXPECT_NE(result.out.find(long_text().substr(0, 80)), std::string::npos);
    EXPECT_EQ(count_of(result.out, long_text().substr(0, 81)), 0u);
    EXPECT_EQ(count_of(result.out, "#"), 0u);
}

// ---- rhythm ----------------------------------------------------------------------

// One data poll per key or 100 ms time-out: about ten a second, never a
// loop that spins on the chip.
TEST(KeyLoop, PollsAboutTenTimesASecondWithoutKeys) {
    RadioRun run;
    prepare_menu(run);
    RunningProgram child(run.options());
    ASSERT_TRUE(child.wait_for_output("ctrl+c to quit with radio left on", 20s));
    child.collect_for(1s);
    child.write_input("x");
    const ProgramResult result = child.finish(20s);
    expect_clean_exit(result);
    const std::size_t polls = data_polls(run);
    EXPECT_GE(polls, 5u);
    EXPECT_LE(polls, 25u);
}

TEST(KeyLoop, EndedInputDoesNotMakeTheLoopSpin) {
    RadioRun run;
    prepare_menu(run);
    RunningProgram child(run.options());
    child.close_input();
    ASSERT_TRUE(child.wait_for_output("ctrl+c to quit with radio left on", 20s));
    child.collect_for(1s);
    // Still running: the radio plays on until it is ended from outside.
    EXPECT_TRUE(child.running());
    const std::size_t polls = data_polls(run);
    EXPECT_GE(polls, 5u);
    EXPECT_LE(polls, 25u);
}

// ---- a terminal too small for the layout --------------------------------------------

class SmallTerminal : public ::testing::TestWithParam<std::pair<const char *, const char *>> {};

TEST_P(SmallTerminal, SaysWhatItNeedsKeepsItsRhythmAndStillQuits) {
    RadioRun run;
    prepare_menu(run);
    ProgramOptions options = run.options();
    // The curses library takes the size from these when they are set.
    options.env.emplace_back("LINES", GetParam().first);
    options.env.emplace_back("COLUMNS", GetParam().second);
    RunningProgram child(options);
    ASSERT_TRUE(child.wait_for_output("Terminal too small: need 74x21", 20s)) << child.output();
    child.collect_for(1s);
    child.write_input("x");
    const ProgramResult result = child.finish(20s);
    expect_clean_exit(result);
    EXPECT_EQ(count_of(result.out, "Velmora DAB Radio"), 0u);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    const std::size_t polls = data_polls(run);
    EXPECT_GE(polls, 5u);
    EXPECT_LE(polls, 25u);
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SmallTerminal,
                         ::testing::Values(std::pair{"24", "73"}, std::pair{"20", "80"}),
                         [](const auto &info) {
                             return std::string(info.param.second) + "x" + info.param.first;
                         });

TEST(SmallTerminalEdge, ExactlyTheNeededSizeShowsTheMenu) {
    RadioRun run;
    prepare_menu(run);
    ProgramOptions options = run.options();
    options.env.emplace_back("LINES", "21");
    options.env.emplace_back("COLUMNS", "74");
    const ProgramResult result = run_program(options, "x", 30s);
    expect_clean_exit(result);
    EXPECT_EQ(count_of(result.out, "Terminal too small"), 0u);
    EXPECT_NE(result.out.find("Velmora DAB Radio v0.16.5"), std::string::npos);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
}

} // namespace
