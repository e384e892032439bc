// SPDX-License-Identifier: GPL-3.0-or-later
// The real binary's chip bring-up: the running-chip shortcut, the full
// bring-up and its retries, as the console and the board see them.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/program_checks.h"
#include "support/radio_run.h"
#include "support/test_bands.h"

namespace {

using namespace tunelark::test;

const std::string chip_info_heading = "Chip info ---------------------------- \n";
const std::string resetting = "Si468x resetting...\n";
const std::string sometimes =
    "Sometimes the Si468x boots in a faulty state - if transmitting of the firmware causes "
    "problems, try to plug the board on the Raspberry Pi while the Pi is running already.\n";
const std::string twenty_failed =
    "Error loading firmware (tried 20 times). The Si468x sometimes has problems saving the "
    "firmware. You should try again.\n";

// A later start (station list present) that the user quits from the menu.
ProgramResult run_to_menu_and_quit(RadioRun &run, unsigned file_volume = 30) {
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, file_volume));
    return run.run("x");
}

// ---- running-chip shortcut --------------------------------------------------------

TEST(RunningChip, TakenOverWithoutResetOrPropertyWrites) {
    RadioRun run;
    run.leave_chip_running(40);
    const ProgramResult result = run_to_menu_and_quit(run, 21);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(count_of(console, "Si468x resetting..."), 0u);
    EXPECT_EQ(count_of(console, chip_info_heading), 0u);
    EXPECT_EQ(count_of(console, "Set properties"), 0u);
    EXPECT_EQ(console.rfind(start_line + "SPI bus enabled.\n", 0), 0u);
    // The file's volume wins over the chip's.
    EXPECT_NE(console.find("Volume: 21\n"), std::string::npos);

    const auto frames = run.trace();
    for (uint8_t code : {opcode::POWER_UP, opcode::LOAD_INIT, opcode::HOST_LOAD, opcode::BOOT}) {
        EXPECT_TRUE(commands(frames, code).empty()) << "command " << int{code};
    }
    const auto reads = commands(frames, opcode::GET_PROPERTY);
    ASSERT_FALSE(reads.empty());
    // The only property written before the menu is the volume of the set-up.
    const auto writes = commands(frames, opcode::SET_PROPERTY);
    ASSERT_FALSE(writes.empty());
    for (const auto &write : writes) {
        EXPECT_EQ(property_id(write), 0x0300);
        EXPECT_EQ(property_value(write), 21);
    }
    EXPECT_LT(reads.front().start_us, writes.front().start_us);
}

TEST(RunningChip, ItsVolumeIsSavedWithTheFirstScan) {
    RadioRun run;
    run.leave_chip_running(40);
    run.band = two_ensemble_band();
    run.term = "xterm";
    const ProgramResult result = run.run("\nx");
    expect_clean_exit(result);
    EXPECT_EQ(count_of(result.out, "Si468x resetting..."), 0u);
    EXPECT_NE(result.out.find("Saving scan results.\nVolume: 40\n"), std::string::npos);
    const std::string file = read_file(run.station_list_path());
    EXPECT_NE(file.find("\nVolume: 40\n"), std::string::npos);
}

// Only STATUS3 0xC0 exactly is a chip to take over: an error flag (0xC1), or
// any other of bits 5 to 0, sends it through the full bring-up.
class RunningChipStatus3 : public ::testing::TestWithParam<const char *> {};

TEST_P(RunningChipStatus3, OtherThanC0MeansFullBringUp) {
    RadioRun run;
    run.leave_chip_running(40);
    run.faults = GetParam();
    const ProgramResult result = run_to_menu_and_quit(run);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(console.rfind(start_line + "SPI bus enabled.\n" + resetting, 0), 0u) << console;
    // The chip was reset and powered up anew (whether it then boots with the
    // flag still forced is the driver's matter).
    EXPECT_GE(run.stat("resets"), 1u);
    EXPECT_FALSE(commands(run.trace(), opcode::POWER_UP).empty());
}

INSTANTIATE_TEST_SUITE_P(Faults, RunningChipStatus3,
                         ::testing::Values("running-error", "status3=0x20"), [](const auto &info) {
                             std::string name = info.param;
                             for (char &c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

// ---- full bring-up ------------------------------------------------------------------

TEST(FullBringUp, FirstAttemptSucceedsInOrder) {
    RadioRun run;
    const ProgramResult result = run_to_menu_and_quit(run);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    const std::string head = start_line + "SPI bus enabled.\n" + resetting + chip_info_heading;
    ASSERT_EQ(console.rfind(head, 0), 0u) << console;
    const std::string middle =
        "Si468x powered up.\nLoad firmware now... Try 0\n" + sometimes + chip_info_heading;
    const auto middle_at = console.find(middle);
    ASSERT_NE(middle_at, std::string::npos) << console;
    const auto set_at = console.find("\nSet properties\n", middle_at);
    ASSERT_NE(set_at, std::string::npos);
    EXPECT_EQ(count_of(console, resetting), 1u);
    EXPECT_EQ(count_of(console, chip_info_heading), 2u);
    EXPECT_LT(set_at, console.find("Volume: 30\n"));

    // Properties: the receiver's groups after the boot, the volume last.
    const auto frames = run.trace();
    const auto boots = commands(frames, opcode::BOOT);
    const auto writes = commands(frames, opcode::SET_PROPERTY);
    ASSERT_EQ(boots.size(), 1u);
    ASSERT_FALSE(writes.empty());
    EXPECT_GT(writes.front().start_us, boots.front().end_us);
    EXPECT_EQ(property_id(writes.back()), 0x0300);
    EXPECT_EQ(property_value(writes.back()), 30);
}

TEST(FullBringUp, AbsentChipEndsAfterTheFirstResetPoweredDown) {
    RadioRun run;
    run.faults = "absent";
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    const ProgramResult result = run.run();
    expect_clean_exit(result);
    EXPECT_EQ(result.out, start_line + "SPI bus enabled.\n" + resetting +
                              "The Si468x chip could not be found. \nExit.\n");
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
    EXPECT_FALSE(sim::peripherals_open());
}

TEST(FullBringUp, FailedFirstPowerUpRunsStraightIntoTheNextAttempt) {
    RadioRun run;
    run.faults = "powerup-fail=1";
    const ProgramResult result = run_to_menu_and_quit(run);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(console.rfind(start_line + "SPI bus enabled.\nSi468x resetting...\nNot powered up" +
                                resetting + chip_info_heading,
                            0),
              0u)
        << console;
    EXPECT_NE(console.find("Load firmware now... Try 1\n"), std::string::npos);
    EXPECT_EQ(count_of(console, "Try 0"), 0u);
}

TEST(FullBringUp, PatchThatNeverUploadsGivesTwentyAttempts) {
    RadioRun run;
    run.faults = "patch-fail=always";
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    const ProgramResult result = run.run();
    expect_clean_exit(result);
    EXPECT_EQ(count_of(result.out, resetting), 20u);
    EXPECT_EQ(count_of(result.out, chip_info_heading), 20u);
    EXPECT_EQ(count_of(result.out, sometimes + "Patch not transmitted successfully\n"), 20u);
    for (int attempt = 0; attempt < 20; ++attempt) {
        EXPECT_EQ(
            count_of(result.out, "Load firmware now... Try " + std::to_string(attempt) + "\n"), 1u)
            << attempt;
    }
    EXPECT_EQ(count_of(result.out, "Try 20"), 0u);
    const std::string tail = "Patch not transmitted successfully\n" + twenty_failed;
    ASSERT_GE(result.out.size(), tail.size());
    EXPECT_EQ(result.out.substr(result.out.size() - tail.size()), tail);

    // Each failed attempt waits 2000 ms with the chip in reset, after its
    // 250 ms reset pulse: the last frame of the last attempt comes after 19
    // such waits.
    const auto frames = run.trace();
    ASSERT_FALSE(frames.empty());
    EXPECT_GE(frames.back().end_us - frames.front().start_us, 19 * 2250e3);
    EXPECT_EQ(commands(frames, opcode::BOOT).size(), 0u);
    EXPECT_EQ(commands(frames, opcode::POWER_UP).size(), 20u);
    // The whole run: 20 reset pulses and 20 waits of 2000 ms.
    EXPECT_GE(run.stat("clock_ns"), 20 * 2250'000'000ull);
    EXPECT_GE(run.stat("delay_ns"), 20 * 2250'000'000ull);
    EXPECT_EQ(run.stat("resets"), 20u);
    run.load_board();
    EXPECT_FALSE(sim::pin(reset_pin).level);
    EXPECT_FALSE(sim::peripherals_open());
}

TEST(FullBringUp, BootInTheThirdAttemptPrintsChipInfoFourTimes) {
    RadioRun run;
    run.faults = "patch-fail=2";
    const ProgramResult result = run_to_menu_and_quit(run);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(count_of(console, chip_info_heading), 4u);
    EXPECT_EQ(count_of(console, resetting), 3u);
    EXPECT_EQ(count_of(console, "Patch not transmitted successfully\n"), 2u);
    EXPECT_NE(console.find("Load firmware now... Try 2\n"), std::string::npos);
    EXPECT_EQ(count_of(console, "Try 3"), 0u);
    // The fourth block follows the boot.
    const auto last_try = console.find("Try 2\n");
    const auto last_info = console.rfind(chip_info_heading);
    EXPECT_LT(last_try, last_info);
    EXPECT_LT(last_info, console.find("\nSet properties\n"));
}

TEST(FullBringUp, FailedFirmwareUploadIsReportedBeforeTheWait) {
    RadioRun run;
    run.faults = "firmware-fail=1";
    const ProgramResult result = run_to_menu_and_quit(run);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_NE(console.find("Firmware not transmitted successfully\n" + resetting),
              std::string::npos);
    EXPECT_NE(console.find("Load firmware now... Try 1\n"), std::string::npos);
    EXPECT_EQ(count_of(console, "Patch not transmitted"), 0u);

    // The report comes before the 2000 ms with the chip in reset.
    const auto frames = run.trace();
    const auto power_ups = commands(frames, opcode::POWER_UP);
    ASSERT_EQ(power_ups.size(), 2u);
    const auto uploads = commands(frames, opcode::HOST_LOAD);
    const auto before_second = std::count_if(uploads.begin(), uploads.end(), [&](const auto &f) {
        return f.end_us < power_ups[1].start_us;
    });
    ASSERT_GT(before_second, 0);
    const double last_upload_end = uploads[static_cast<std::size_t>(before_second) - 1].end_us;
    EXPECT_GE(power_ups[1].start_us - last_upload_end, 2250e3);
}

TEST(FullBringUp, FailedBootRetriesSilently) {
    RadioRun run;
    run.faults = "boot-fail=1";
    const ProgramResult result = run_to_menu_and_quit(run);
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(count_of(console, resetting), 2u);
    EXPECT_EQ(count_of(console, chip_info_heading), 3u);
    // Nothing between the first attempt's load lines and the second reset.
    EXPECT_NE(console.find("Try 0\n" + sometimes + resetting), std::string::npos);
    EXPECT_EQ(commands(run.trace(), opcode::BOOT).size(), 2u);
}

} // namespace
