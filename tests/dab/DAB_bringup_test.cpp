// SPDX-License-Identifier: GPL-3.0-or-later
// The shared bring-up's contract with its callers (the radio with 20
// attempts, the diagnostics program with 3): the record's attempt count, the
// report's verdicts, and the chip information read with either failure policy.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"
#include "SimBoard.h"

namespace {

// What the report saw, and what it answers at one step.
struct Recorder {
    std::vector<DAB_BringupStep> steps;
    std::vector<uint16_t> attempts;
    DAB_BringupStep answer_at = DAB_BRINGUP_RESETTING;
    DAB_BringupGo answer = DAB_BRINGUP_RETRY;
};

DAB_BringupGo record_step(DAB_Bringup *bringup, DAB_BringupStep step) {
    auto *recorder = static_cast<Recorder *>(bringup->context);
    recorder->steps.push_back(step);
    recorder->attempts.push_back(bringup->attempt);
    return step == recorder->answer_at ? recorder->answer : DAB_BRINGUP_RETRY;
}

class Bringup : public testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        ASSERT_EQ(Si468x_bus_init(), 0);
        bringup_.firmware = DAB_FIRMWARE_EMBEDDED;
        bringup_.status_reply = reply_;
        bringup_.report = record_step;
        bringup_.context = &recorder_;
    }
    void TearDown() override { Si468x_SPI_shutdown(); }

    void fault(const std::string &list) {
        std::string error;
        ASSERT_TRUE(sim::set_faults(list, &error)) << error;
    }
    std::size_t seen(DAB_BringupStep step) const {
        return static_cast<std::size_t>(
            std::count(recorder_.steps.begin(), recorder_.steps.end(), step));
    }
    static std::size_t call_count(const std::string &call) {
        std::size_t n = 0;
        for (const auto &entry : sim::calls()) {
            n += entry == call ? 1 : 0;
        }
        return n;
    }
    static std::string delay_call(uint32_t ms) {
        return "bcm2835_delay(" + std::to_string(ms) + ")";
    }

    uint8_t reply_[RD_REPLY_LENGTH] = {};
    Recorder recorder_;
    DAB_Bringup bringup_{};
};

TEST_F(Bringup, TheRecordsAttemptCountIsHonouredWithAHoldInResetAfterEach) {
    fault("patch-fail=always");
    for (const uint16_t attempts : {1, 4}) {
        recorder_ = Recorder{};
        const uint64_t power_ups = sim::stats().commands[POWER_UP];
        sim::clear_calls();
        bringup_.attempts = attempts;
        EXPECT_EQ(DAB_bringup(&bringup_), DAB_BRINGUP_GAVE_UP);
        EXPECT_EQ(sim::stats().commands[POWER_UP] - power_ups, attempts);
        EXPECT_EQ(seen(DAB_BRINGUP_RESETTING), attempts);
        EXPECT_EQ(seen(DAB_BRINGUP_PATCH_FAILED), attempts);
        EXPECT_EQ(seen(DAB_BRINGUP_ABANDONED), attempts);
        EXPECT_EQ(seen(DAB_BRINGUP_UPLOADING_IMAGE), 0u);
        EXPECT_EQ(call_count(delay_call(DAB_BRINGUP_RETRY_WAIT_MS)), attempts);
        EXPECT_EQ(bringup_.failed_step, DAB_BRINGUP_PATCH_FAILED);
        EXPECT_EQ(recorder_.attempts.back(), attempts - 1);
    }
}

TEST_F(Bringup, StopEndsTheBringUpAtOnceWithoutTheHoldInReset) {
    fault("firmware-fail=always");
    recorder_.answer_at = DAB_BRINGUP_IMAGE_FAILED;
    recorder_.answer = DAB_BRINGUP_STOP;
    bringup_.attempts = 3;
    EXPECT_EQ(DAB_bringup(&bringup_), DAB_BRINGUP_STOPPED);
    EXPECT_EQ(sim::stats().commands[POWER_UP], 1u);
    EXPECT_EQ(seen(DAB_BRINGUP_ABANDONED), 0u);
    EXPECT_EQ(call_count(delay_call(DAB_BRINGUP_RETRY_WAIT_MS)), 0u);
    EXPECT_LT(bringup_.status, 0);
}

TEST_F(Bringup, GoOnAfterAFailedPowerUpTriesTheUploadAnyway) {
    fault("powerup-fail=always");
    bringup_.attempts = 2;
    recorder_.answer_at = DAB_BRINGUP_POWER_UP_FAILED;
    recorder_.answer = DAB_BRINGUP_RETRY;
    EXPECT_NE(DAB_bringup(&bringup_), DAB_BRINGUP_UP);
    EXPECT_EQ(seen(DAB_BRINGUP_POWER_UP_FAILED), 2u);
    EXPECT_EQ(seen(DAB_BRINGUP_POWERED_UP), 0u);
    EXPECT_EQ(sim::stats().commands[LOAD_INIT], 0u);

    sim::reset_for_test();
    ASSERT_EQ(Si468x_bus_init(), 0);
    fault("powerup-fail=always");
    recorder_ = Recorder{};
    recorder_.answer_at = DAB_BRINGUP_POWER_UP_FAILED;
    recorder_.answer = DAB_BRINGUP_GO_ON;
    bringup_.attempts = 1;
    DAB_bringup(&bringup_);
    EXPECT_EQ(seen(DAB_BRINGUP_POWERED_UP), 1u);
    EXPECT_EQ(seen(DAB_BRINGUP_UPLOADING_PATCH), 1u);
    EXPECT_GE(sim::stats().commands[LOAD_INIT], 1u);
}

TEST_F(Bringup, SilenceAfterTheFirstResetIsNoChipWithoutFurtherAttempts) {
    fault("absent");
    bringup_.attempts = 3;
    EXPECT_EQ(DAB_bringup(&bringup_), DAB_BRINGUP_NO_CHIP);
    EXPECT_EQ(seen(DAB_BRINGUP_RESETTING), 1u);
    EXPECT_EQ(recorder_.steps.size(), 1u);
}

TEST_F(Bringup, WithoutAReportTheChipBootsAndGetsTheReceiverProperties) {
    bringup_.report = nullptr;
    bringup_.attempts = 1;
    EXPECT_EQ(DAB_bringup(&bringup_), DAB_BRINGUP_UP);
    EXPECT_EQ(bringup_.attempt, 0u);
    EXPECT_EQ(sim::stats().commands[BOOT], 1u);
    EXPECT_EQ(sim::stats().commands[SET_PROPERTY],
              DAB_RECEPTION_PROPERTIES + DAB_OUTPUT_PROPERTIES);
    uint8_t reply[RD_REPLY_LENGTH] = {};
    EXPECT_TRUE(DAB_chip_running(reply));
    EXPECT_EQ(reply[STATUS3], PUP_STATE_APPLICATION);
}

TEST_F(Bringup, ChipInformationStopsAtTheFirstFailureOnlyWhenAsked) {
    bringup_.report = nullptr;
    bringup_.attempts = 1;
    ASSERT_EQ(DAB_bringup(&bringup_), DAB_BRINGUP_UP);
    fault("errcmd=0x08");
    for (const bool stop : {true, false}) {
        const uint64_t sys_states = sim::stats().commands[GET_SYS_STATE];
        Si468x_ChipInfo info{};
        const char *failed = nullptr;
        testing::internal::CaptureStdout();
        const int16_t status = DAB_read_chip_info(&info, true, stop, &failed);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, -2) << stop;
        EXPECT_STREQ(failed, "part info") << stop;
        EXPECT_EQ(sim::stats().commands[GET_SYS_STATE] - sys_states, stop ? 0u : 1u);
        EXPECT_EQ(printed.empty(), stop) << printed;
    }
}

} // namespace
