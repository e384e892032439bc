// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's power-up state machine as the wire shows it: held in reset,
// waiting for POWER_UP, boot loader, and the exact POWER_UP it accepts.
#include <gtest/gtest.h>

#include "BusHost.h"
#include "SimBoard.h"

using namespace bus_host;

namespace {

class ChipPower : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        open_bus();
    }
};

TEST_F(ChipPower, FreshBoardHoldsTheChipInResetAndNothingAnswers) {
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    sim::record_frames(true);
    EXPECT_EQ(read(7), Bytes(7, 0x00));
    // A command into a chip in reset is lost: after release nothing of it remains.
    transfer(power_up_bytes);
    ASSERT_EQ(sim::frames().size(), 2U);
    EXPECT_FALSE(sim::frames()[0].reached_chip);
    EXPECT_FALSE(sim::frames()[1].reached_chip);
    bcm2835_gpio_write(23, HIGH);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
}

TEST_F(ChipPower, GpioAsInputKeepsResetEvenWithItsLatchHigh) {
    bcm2835_gpio_fsel(23, BCM2835_GPIO_FSEL_INPT);
    bcm2835_gpio_write(23, HIGH);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    bcm2835_gpio_fsel(23, BCM2835_GPIO_FSEL_OUTP);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
}

TEST_F(ChipPower, StatusReadsFollowTheStateTable) {
    reset_pulse();
    Bytes status = read(7);
    EXPECT_EQ(status[1], 0x80) << "CTS set right after reset";
    EXPECT_EQ(status3(status), 0x00);

    status = command(power_up_bytes, 5);
    EXPECT_EQ(status[1], 0x80);
    EXPECT_EQ(status3(status), 0x80);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::BootLoader);

    ASSERT_EQ(status3(bring_up()), 0xC0);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_EQ(sim::running_image(), 2);

    bcm2835_gpio_write(23, LOW);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    EXPECT_EQ(sim::running_image(), -1);
    EXPECT_EQ(read(7), Bytes(7, 0x00));
}

TEST_F(ChipPower, ResetForgetsTheRunningImage) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    reset_pulse();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    EXPECT_EQ(status3(read(7)), 0x00);
    // The DAB image's commands are gone with it.
    EXPECT_TRUE(err_cmd(command({0xB9, 0x00}, 6)));
}

TEST_F(ChipPower, PowerUpAcceptsOnlyTheExactSixteenBytes) {
    for (std::size_t position = 1; position < power_up_bytes.size(); ++position) {
        SCOPED_TRACE(position);
        reset_pulse();
        Bytes wrong = power_up_bytes;
        wrong[position] ^= 0x01;
        const Bytes reply = command(wrong, 5);
        EXPECT_TRUE(err_cmd(reply));
        EXPECT_EQ(status3(reply), 0x00);
        EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    }
    Bytes longer = power_up_bytes;
    longer.push_back(0x00);
    reset_pulse();
    EXPECT_TRUE(err_cmd(command(longer, 5)));
    const Bytes shorter(power_up_bytes.begin(), power_up_bytes.end() - 1);
    EXPECT_TRUE(err_cmd(command(shorter, 5)));
    // The right bytes still work after rejected ones, and clear ERR_CMD.
    const Bytes reply = command(power_up_bytes, 5);
    EXPECT_FALSE(err_cmd(reply));
    EXPECT_EQ(status3(reply), 0x80);
}

TEST_F(ChipPower, PowerUpOutsideWaitingPowerUpIsRejected) {
    reset_pulse();
    ASSERT_EQ(status3(command(power_up_bytes, 5)), 0x80);
    EXPECT_TRUE(err_cmd(command(power_up_bytes, 5)));
    EXPECT_EQ(sim::chip_state(), sim::ChipState::BootLoader);
}

TEST_F(ChipPower, CommandsOfALaterStateAreRejectedEarly) {
    reset_pulse();
    // Waiting for POWER_UP: nothing but POWER_UP.
    for (const Bytes &cmd : {Bytes{0x06, 0x00}, Bytes{0x08, 0x00}, Bytes{0x09, 0x00},
                             Bytes{0x07, 0x00}, Bytes{0x14, 0x01, 0x00, 0x03}}) {
        SCOPED_TRACE(static_cast<int>(cmd[0]));
        EXPECT_TRUE(err_cmd(command(cmd, 5)));
    }
    command(power_up_bytes, 5);
    // Boot loader: no function info, no properties, no DAB commands.
    for (const Bytes &cmd : {Bytes{0x12, 0x00}, Bytes{0x14, 0x01, 0x00, 0x03},
                             Bytes{0x13, 0x00, 0x00, 0x03, 0x10, 0x00}, Bytes{0xB9, 0x00}}) {
        SCOPED_TRACE(static_cast<int>(cmd[0]));
        EXPECT_TRUE(err_cmd(command(cmd, 5)));
    }
    EXPECT_FALSE(err_cmd(command({0x08, 0x00}, 5)));
}

TEST_F(ChipPower, RunningImageRejectsBootLoaderCommands) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    for (const Bytes &cmd : {Bytes{0x06, 0x00}, Bytes{0x04, 0x00, 0x00, 0x00, 0x55},
                             Bytes{0x07, 0x00}, power_up_bytes}) {
        SCOPED_TRACE(static_cast<int>(cmd[0]));
        const Bytes reply = command(cmd, 5);
        EXPECT_TRUE(err_cmd(reply));
        EXPECT_EQ(status3(reply), 0xC0);
    }
}

TEST_F(ChipPower, ResetLineEdgesAreCounted) {
    reset_pulse();
    reset_pulse();
    EXPECT_EQ(sim::stats().reset_releases, 2U);
    // The first pulse met a chip already in reset.
    EXPECT_EQ(sim::stats().resets, 1U);
}

} // namespace
