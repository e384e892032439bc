// SPDX-License-Identifier: GPL-3.0-or-later
// Bringing the chip up, taking a running chip over, powering it down, and the
// failures on the way: status, info, upload and flash-load.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DiagRun.h"
#include "SimBoard.h"
#include "StandinFirmware.h"

namespace {

using diagtest::count_commands;
using diagtest::image_path;
using diagtest::occurrences;
using diagtest::printed_value;
using diagtest::RunResult;
using diagtest::SimBoardDir;
using diagtest::TraceFrame;
using testing::HasSubstr;
using testing::Not;
using testing::Optional;

constexpr uint8_t POWER_UP = 0x01;
constexpr uint8_t HOST_LOAD = 0x04;
constexpr uint8_t FLASH_LOAD = 0x05;
constexpr uint8_t BOOT = 0x07;
constexpr uint8_t SET_PROPERTY = 0x13;

// HOST_LOAD commands of one full upload: the 5796-byte patch in 2 chunks of
// at most 4092 image bytes, the 496940-byte DAB image in 122.
constexpr std::size_t chunks_of_both_images = 2 + 122;
// Eight reception and two audio-output properties.
constexpr std::size_t receiver_properties = 10;

const sim::standin::StandinImage &standin(const char *file_name) {
    for (const auto &image : sim::standin::images) {
        if (std::string(image.file_name) == file_name) {
            return image;
        }
    }
    throw std::invalid_argument(file_name);
}

std::string revision_of(const sim::standin::StandinImage &image) {
    return std::to_string(image.rev_ext) + "." + std::to_string(image.rev_branch) + "." +
           std::to_string(image.rev_int);
}

void expect_chip_info(const RunResult &result, const std::string &revision) {
    const sim::ChipIdentity identity;
    EXPECT_THAT(printed_value(result.out, "Chip Mask Revision:"),
                Optional(std::to_string(identity.chip_rev)));
    EXPECT_THAT(printed_value(result.out, "ROM ID:"), Optional(std::to_string(identity.rom_id)));
    EXPECT_THAT(printed_value(result.out, "Part Number:"), Optional(std::to_string(identity.part)));
    EXPECT_THAT(printed_value(result.out, "Firmware image running the sysstate CMD:"),
                Optional(std::string("DAB")));
    EXPECT_THAT(printed_value(result.out, "Revision number:"), Optional(revision));
    EXPECT_THAT(printed_value(result.out, "SVN ID:"), Optional(std::to_string(identity.svn_id)));
}

TEST(DiagInfo, FreshBoardIsBroughtUpWithTheEmbeddedImages) {
    SimBoardDir board;
    std::vector<TraceFrame> frames;
    const auto result = board.run_traced({"info"}, frames);
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("Si468x resetting... (attempt 1 of 3)"));
    EXPECT_THAT(result.out, Not(HasSubstr("attempt 2")));
    expect_chip_info(result, revision_of(standin("dab_radio_6_0_6.bin")));
    EXPECT_EQ(count_commands(frames, POWER_UP), 1U);
    EXPECT_EQ(count_commands(frames, HOST_LOAD), chunks_of_both_images);
    EXPECT_EQ(count_commands(frames, BOOT), 1U);
    EXPECT_EQ(count_commands(frames, SET_PROPERTY), receiver_properties);
}

TEST(DiagInfo, SecondRunTakesTheRunningChipOverWithoutReset) {
    SimBoardDir board;
    ASSERT_EQ(board.run({"info"}).exit_status, 0);

    std::vector<TraceFrame> frames;
    const auto result = board.run_traced({"info"}, frames);
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("taken over without reset"));
    EXPECT_THAT(result.out, Not(HasSubstr("resetting")));
    // Nothing is loaded and nothing set: the chip answers as the first run
    // left it.
    EXPECT_EQ(count_commands(frames, POWER_UP), 0U);
    EXPECT_EQ(count_commands(frames, HOST_LOAD), 0U);
    EXPECT_EQ(count_commands(frames, BOOT), 0U);
    EXPECT_EQ(count_commands(frames, SET_PROPERTY), 0U);
    expect_chip_info(result, revision_of(standin("dab_radio_6_0_6.bin")));
}

TEST(DiagInfo, RunningChipWithAnErrorFlagIsBroughtUpAfresh) {
    SimBoardDir board;
    ASSERT_EQ(board.run({"info"}).exit_status, 0);
    std::vector<TraceFrame> frames;
    const auto result =
        board.run_traced({"info"}, frames, {{"SI468X_SIM_FAULTS", "running-error"}});
    EXPECT_THAT(result.out, HasSubstr("Si468x resetting..."));
    EXPECT_THAT(result.out, Not(HasSubstr("taken over")));
    EXPECT_GE(count_commands(frames, POWER_UP), 1U);
}

TEST(DiagStatus, ShowsThePowerUpStateWithoutTouchingTheChip) {
    SimBoardDir board;
    ASSERT_EQ(board.run({"info"}).exit_status, 0);
    std::vector<TraceFrame> frames;
    const auto running = board.run_traced({"status"}, frames);
    ASSERT_EQ(running.exit_status, 0) << running.all();
    EXPECT_THAT(printed_value(running.out, "Power-up state:"),
                Optional(std::string("3 (application running)")));
    EXPECT_THAT(printed_value(running.out, "Clear to send:"), Optional(std::string("1")));
    EXPECT_THAT(printed_value(running.out, "Error bits:"), Optional(std::string("0x0")));
    // One bare status read and no command at all.
    ASSERT_EQ(frames.size(), 1U);
    EXPECT_EQ(frames[0].out, std::vector<uint8_t>(7, 0x00));
    ASSERT_EQ(frames[0].in.size(), 7U);
    EXPECT_EQ(frames[0].in[4], 0xC0);
}

TEST(DiagPowerDown, HoldsTheChipInResetSoTheNextRunBringsItUpAgain) {
    SimBoardDir board;
    const auto first = board.run({"--power-down", "info"});
    ASSERT_EQ(first.exit_status, 0) << first.all();
    EXPECT_THAT(first.out, HasSubstr("Si468x powered down."));
    expect_chip_info(first, revision_of(standin("dab_radio_6_0_6.bin")));

    const auto status = board.run({"status"});
    EXPECT_THAT(printed_value(status.out, "Clear to send:"), Optional(std::string("0")));
    EXPECT_THAT(printed_value(status.out, "Power-up state:"),
                Not(Optional(std::string("3 (application running)"))));

    const auto again = board.run({"info"});
    ASSERT_EQ(again.exit_status, 0) << again.all();
    EXPECT_THAT(again.out, HasSubstr("Si468x resetting..."));
    EXPECT_THAT(again.out, Not(HasSubstr("taken over")));

    // Also when the operation fails.
    EXPECT_EQ(board.run({"tune", "255", "--power-down"}).exit_status, 1);
    EXPECT_THAT(printed_value(board.run({"status"}).out, "Clear to send:"),
                Optional(std::string("0")));
}

TEST(DiagBringUpFailure, AbsentChipFailsAfterTheFirstResetWithTheDriverStatus) {
    SimBoardDir board;
    const auto result = board.run({"info"}, {{"SI468X_SIM_FAULTS", "absent"}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("bring-up: the Si468x chip could not be found"));
    EXPECT_THAT(result.err,
                testing::ContainsRegex("failed with status -[0-9]+ at location [0-9]+"));
    EXPECT_THAT(result.out, Not(HasSubstr("attempt 2")));
    EXPECT_THAT(result.out, Not(HasSubstr("Chip info")));
}

struct BringUpFault {
    const char *faults;
    int exit_status;
    const char *message; // on stderr
    std::size_t message_count;
    std::size_t attempts;
};

// The bring-up's retry: a failure ends the attempt with the driver's status
// and location, the next attempt starts from a reset, and three failures end
// the run.
TEST(DiagBringUpFailure, EachFailedStepIsReportedAndRetriedFromAReset) {
    const BringUpFault cases[] = {
        {"patch-fail=always", 1, "patch upload: failed with status -2 at location 108", 3, 3},
        {"firmware-fail=always", 1, "firmware upload: failed with status -2 at location 108", 3, 3},
        {"boot-fail=always", 1, "boot: failed with status -4 at location 110", 3, 3},
        {"powerup-fail=always", 1, "power-up: failed with status -5 at location 104", 3, 3},
        {"boot-fail=1", 0, "boot: failed with status -4 at location 110", 1, 2},
        {"patch-fail=2", 0, "patch upload: failed with status -2 at location 108", 2, 3},
    };
    for (const auto &c : cases) {
        SimBoardDir board;
        std::vector<TraceFrame> frames;
        const auto result = board.run_traced({"info"}, frames, {{"SI468X_SIM_FAULTS", c.faults}});
        EXPECT_EQ(result.exit_status, c.exit_status) << c.faults << "\n" << result.all();
        EXPECT_EQ(occurrences(result.err, c.message), c.message_count) << c.faults << "\n"
                                                                       << result.err;
        EXPECT_EQ(occurrences(result.out, "Si468x resetting..."), c.attempts) << c.faults;
        EXPECT_EQ(count_commands(frames, POWER_UP), c.attempts) << c.faults;
        if (c.exit_status == 0) {
            expect_chip_info(result, revision_of(standin("dab_radio_6_0_6.bin")));
        } else {
            EXPECT_THAT(result.err, HasSubstr("bring-up: no attempt of 3 succeeded")) << c.faults;
            EXPECT_THAT(result.out, Not(HasSubstr("Chip info"))) << c.faults;
        }
    }
}

TEST(DiagBringUpFailure, NoClearToSendAfterTheFirstResetMeansNoChip) {
    SimBoardDir board;
    const auto result = board.run({"info"}, {{"SI468X_SIM_FAULTS", "no-cts-after-reset=1"}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("bring-up: the Si468x chip could not be found"));
    EXPECT_EQ(occurrences(result.out, "Si468x resetting..."), 1U);
}

TEST(DiagBringUpFailure, PropertyThatDoesNotReadBackEndsTheRun) {
    SimBoardDir board;
    const auto result = board.run({"info"}, {{"SI468X_SIM_FAULTS", "property-mismatch=0xB201"}});
    EXPECT_EQ(result.exit_status, 1);
    // 0xB201 is the fourth reception property.
    EXPECT_THAT(result.err, HasSubstr("properties: failed with status -6 at location 301"));
    EXPECT_THAT(result.out, HasSubstr("DABUtils error No: 301, returned retval: -6"));
}

TEST(DiagInfoFailure, RejectedInformationCommandIsReportedWithItsLocation) {
    SimBoardDir board;
    ASSERT_EQ(board.run({"info"}).exit_status, 0);
    const auto result = board.run({"info"}, {{"SI468X_SIM_FAULTS", "errcmd=0x08"}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("info: part info: failed with status -2 at location 11"));
    EXPECT_THAT(result.out, Not(HasSubstr("Chip info")));
}

TEST(DiagUpload, BringsTheChipUpFromImageFiles) {
    SimBoardDir board;
    // The older DAB image tells by its revision that the file, not the
    // embedded image, was uploaded.
    const auto &older = standin("dab_radio_5_0_5.bin");
    std::vector<TraceFrame> frames;
    const auto result = board.run_traced(
        {"upload", image_path("rom00_patch.016.bin"), image_path(older.file_name)}, frames);
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out,
                HasSubstr("Uploading the patch from " + image_path("rom00_patch.016.bin")));
    expect_chip_info(result, revision_of(older));
    // 2 patch chunks, and the 521448-byte image in 128 chunks.
    EXPECT_EQ(count_commands(frames, HOST_LOAD), 2U + (older.size + 4091) / 4092);
}

TEST(DiagUpload, NeverTakesTheRunningChipOver) {
    SimBoardDir board;
    ASSERT_EQ(board.run({"info"}).exit_status, 0);
    const auto result =
        board.run({"upload", image_path("rom00_patch.016.bin"), image_path("dab_radio_6_0_6.bin")});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("Si468x resetting..."));
    EXPECT_THAT(result.out, Not(HasSubstr("taken over")));
}

TEST(DiagUpload, ImagesInTheWrongOrderDoNotBoot) {
    SimBoardDir board;
    const auto result =
        board.run({"upload", image_path("dab_radio_6_0_6.bin"), image_path("rom00_patch.016.bin")});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(occurrences(result.err, "boot: failed with status -4 at location 110"), 3U);
}

TEST(DiagUpload, UnusableFileStopsWithoutFurtherAttempts) {
    struct Case {
        std::string patch;
        std::string image;
        const char *message;
    };
    SimBoardDir board;
    diagtest::write_file(board.file("empty.bin"), "");
    const Case cases[] = {
        {board.file("missing.bin"), image_path("dab_radio_6_0_6.bin"),
         "patch upload: failed with status -6 at location 7"},
        {image_path("rom00_patch.016.bin"), board.file("empty.bin"),
         "firmware upload: failed with status -6 at location 107"},
    };
    for (const auto &c : cases) {
        std::vector<TraceFrame> frames;
        const auto result = board.run_traced({"upload", c.patch, c.image}, frames);
        EXPECT_EQ(result.exit_status, 1) << result.all();
        EXPECT_THAT(result.err, HasSubstr(c.message));
        EXPECT_THAT(result.err, HasSubstr("bring-up: stopped"));
        EXPECT_EQ(count_commands(frames, POWER_UP), 1U);
    }
}

TEST(DiagFlashLoad, SendsTheAddressAndReportsTheBootOfABoardWithoutFlash) {
    SimBoardDir board;
    std::vector<TraceFrame> frames;
    const auto result = board.run_traced({"flash-load", "0x00102030"}, frames);
    // The simulated board has no flash: BOOT finds nothing to start.
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("boot: failed with status -4 at location 110"));
    const std::vector<uint8_t> expected{0x05, 0x00, 0x00, 0x00, 0x30, 0x20,
                                        0x10, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::size_t flash_loads = 0;
    for (const auto &frame : frames) {
        if (!frame.out.empty() && frame.out[0] == FLASH_LOAD) {
            EXPECT_EQ(frame.out, expected);
            ++flash_loads;
        }
    }
    EXPECT_EQ(flash_loads, 3U);
    // The patch still comes from the host in every attempt.
    EXPECT_EQ(count_commands(frames, HOST_LOAD), 3U * 2U);
}

} // namespace
