// SPDX-License-Identifier: GPL-3.0-or-later
// The real binary's station set-up: scan or load, volume, service lookup and
// the menu entries.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/program_checks.h"
#include "support/radio_run.h"
#include "support/test_bands.h"

namespace {

using namespace tunelark::test;
using namespace std::chrono_literals;

// ---- first start: scan and save -------------------------------------------------------

TEST(FirstStart, ScansPrintsDecodedLabelsAndSavesWithVolume63) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    const ProgramResult result = run.run("\nx");
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_NE(console.find("Do full DAB scan. Number of Frequencies: 41\n"), std::string::npos);
    // Database order: the ensemble on index 3, then the one on index 9; the
    // last label, ended by its first zero byte, has nothing to show and
    // goes out as a field of blanks, never as a zero byte.
    const std::string labels = label16("Alpha One") + label16("Bravo Two") + label16("Data Three") +
                               label16("Charlie Four") + std::string(16, ' ');
    EXPECT_NE(console.find("Services found:\n" + labels + "\nSaving scan results.\nVolume: 63\n"),
              std::string::npos)
        << console;
    const std::string file = read_file(run.station_list_path());
    EXPECT_EQ(second_line(file), "Volume: 63");
    EXPECT_NE(file.find("Num. Ensembles: 2\n"), std::string::npos);
    // The menu lists the zero-byte label as "(No Label)", and "Rescan".
    const std::string screen = result.out.substr(console.size());
    EXPECT_NE(screen.find("(No Label)"), std::string::npos);
    EXPECT_NE(screen.find("Rescan"), std::string::npos);
    EXPECT_NE(screen.find("Velmora DAB Radio v0.16.5"), std::string::npos);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
}

TEST(FirstStart, NoServiceFoundEndsPoweredDownWithoutAFile) {
    RadioRun run;
    run.band = band_of({});
    const ProgramResult result = run.run("\n");
    expect_clean_exit(result);
    const std::string tail = "Services found:\n\nNo services found... quit\n";
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
    EXPECT_FALSE(std::filesystem::exists(run.station_list_path()));
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
}

TEST(FirstStart, UnwritableStationListEndsTheRun) {
    RadioRun run;
    run.band = two_ensemble_band();
    RunningProgram child(run.options());
    ASSERT_TRUE(child.wait_for_output("Please confirm with pressing ENTER\n", 20s));
    // The working directory goes away while the notice waits: nothing can be
    // created in it any more.
    ASSERT_TRUE(std::filesystem::remove(run.work.path()));
    child.write_input("\n");
    const ProgramResult result = child.finish(60s);
    expect_clean_exit(result);
    const std::string end = "Could not save scan results. Exit.\n";
    ASSERT_GE(result.out.size(), end.size());
    EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end);
    EXPECT_LT(result.out.find("Saving scan results.\n"), result.out.size() - end.size());
    EXPECT_EQ(count_of(result.out, "Volume:"), 0u);
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
}

// ---- later start: load ---------------------------------------------------------------

TEST(LaterStart, LoadsTheFileAndUsesItsVolumeWithoutScanning) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 17));
    const ProgramResult result = run.run("x");
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(count_of(console, "Do full DAB scan"), 0u);
    EXPECT_NE(console.find("Volume: 17\n"), std::string::npos);
    EXPECT_EQ(count_of(console, "Please note:"), 0u);
    const auto frames = run.trace();
    EXPECT_TRUE(commands(frames, opcode::DAB_TUNE_FREQ).empty());
    const auto writes = commands(frames, opcode::SET_PROPERTY);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(property_id(writes.back()), 0x0300);
    EXPECT_EQ(property_value(writes.back()), 17);
    // Quitting powers the chip down.
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
    EXPECT_FALSE(sim::peripherals_open());
}

TEST(LaterStart, EmptyDatabaseGivesAMenuWithOnlyRescan) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(band_of({}), 12));
    const ProgramResult result = run.run("x");
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_NE(console.find("Volume: 12\n"), std::string::npos);
    const std::string screen = result.out.substr(console.size());
    EXPECT_NE(screen.find("Rescan"), std::string::npos);
    EXPECT_EQ(count_of(screen, "Alpha"), 0u);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
}

// ---- service lookup ----------------------------------------------------------------

TEST(ServiceLookup, UnknownIdentifierStopsBeforeCurses) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    run.args = {"-S", "99"};
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult result = run.run();
    expect_clean_exit(result);
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "curses was started";
    const std::string tail = "Volume: 30\nUnknown service identifier, stop.\n";
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
}

TEST(ServiceLookup, DuplicateIdentifierSelectsTheLaterService) {
    RadioRun run;
    run.band = band_of({
        ensemble_at(2, 0x2001, "Early", {audio_service(0xD500, "First Copy", 1)}),
        ensemble_at(6, 0x2002, "Late", {audio_service(0xD500, "Second Copy", 3)}),
    });
    run.term = "xterm";
    run.args = {"-S", std::to_string(0xD500)};
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult result = run.run();
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("Playing: Second Copy"), std::string::npos);
    EXPECT_EQ(count_of(result.out, "User quits."), 0u);
    run.load_board();
    EXPECT_EQ(sim::tuned_index(), 6);
    uint32_t service = 0;
    uint32_t component = 0;
    ASSERT_TRUE(sim::service_started(&service, &component));
    EXPECT_EQ(component, 3u);
    // Left playing: not powered down.
    EXPECT_TRUE(sim::pin(reset_pin).level);
}

// Without -S nothing starts by itself, not even a service whose id is 0;
// Enter plays it from the menu like any other.
TEST(ServiceLookup, ServiceWithIdZeroWaitsForEnter) {
    RadioRun run;
    run.band = band_of({ensemble_at(2, 0x2001, "Zero Mux", {audio_service(0, "Zero Id", 1)})});
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult before_key = run.run("x");
    expect_clean_exit(before_key);
    EXPECT_EQ(count_of(before_key.out, "Playing: Zero Id"), 0u) << "started without a key";
    EXPECT_EQ(count_of(before_key.out, "User quits."), 1u);

    const ProgramResult entered = run.run("\nx");
    expect_clean_exit(entered);
    EXPECT_NE(entered.out.find("Playing: Zero Id"), std::string::npos);
}

TEST(ServiceLookup, FailedAutomaticStartStaysInTheMenu) {
    RadioRun run;
    run.band = two_ensemble_band();
    run.term = "xterm";
    // A data service cannot be started as audio.
    run.args = {"-S", std::to_string(0xE1D0A003u)};
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult result = run.run("x");
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("No audio service: Data Three"), std::string::npos);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
}

} // namespace
