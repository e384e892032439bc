// SPDX-License-Identifier: GPL-3.0-or-later
// The board link against the simulated board: the calls and values it hands
// the bcm2835 library, the pins it leaves behind, and what it refuses to
// touch.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Si468x_SPI.h"
#include "SimBoard.h"
#include "sim_calls.h"

namespace {

using tunelark::test::any_call_starts_with;

using Calls = std::vector<std::string>;

const Calls claim_calls = {
    "bcm2835_spi_begin()",        "bcm2835_spi_setBitOrder(1)",
    "bcm2835_spi_setDataMode(0)", "bcm2835_spi_setClockDivider(32)",
    "bcm2835_spi_chipSelect(0)",  "bcm2835_spi_setChipSelectPolarity(0,0)",
};

Calls setup_calls() {
    Calls calls = {"bcm2835_init()", "bcm2835_gpio_fsel(23,1)", "bcm2835_gpio_fsel(7,0)",
                   "bcm2835_gpio_set_pud(7,2)"};
    calls.insert(calls.end(), claim_calls.begin(), claim_calls.end());
    return calls;
}

class Link : public ::testing::Test {
protected:
    void SetUp() override { sim::reset_for_test(); }
    void TearDown() override { Si468x_SPI_shutdown(); }
};

TEST_F(Link, SetupMakesItsCallsInOrderWithTheBoardsValues) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    EXPECT_EQ(sim::calls(), setup_calls());
    const sim::SpiSettings spi = sim::spi();
    EXPECT_TRUE(spi.begun);
    EXPECT_EQ(spi.bit_order, 1);
    EXPECT_EQ(spi.data_mode, 0);
    EXPECT_EQ(spi.divider, 32);
    EXPECT_EQ(spi.chip_select, 0);
    EXPECT_EQ(spi.cs_polarity_cs, 0);
    EXPECT_EQ(spi.cs_polarity_level, 0);
    EXPECT_EQ(sim::pin(23).function, 1);
    EXPECT_EQ(sim::pin(7).pud, 2);
}

// The chip lock is taken on the node before anything else: without the node
// the library is not even started.
TEST_F(Link, MissingDeviceNodeFailsBeforeAnyPinIsConfigured) {
    sim::set_spidev_present(false);
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::calls(), (Calls{"lock(spidev0.0)=-1"}));
    EXPECT_EQ(sim::pin(23).function, 0);

    sim::reset_for_test();
    ASSERT_TRUE(sim::set_faults("no-spidev"));
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::calls(), (Calls{"lock(spidev0.0)=-1"}));
}

TEST_F(Link, FailedInitStopsAtOnceAndLeavesTheHardwareAlone) {
    ASSERT_TRUE(sim::set_faults("init-fail"));
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::calls(), (Calls{"bcm2835_init()"}));
    // The failure exit powers the chip down after a failed open: nothing of
    // it may reach unmapped hardware.
    sim::clear_calls();
    Si468x_SPI_RSTB_low();
    Si468x_SPI_disable();
    Si468x_SPI_shutdown();
    EXPECT_EQ(Si468x_SPI_enable(), -1);
    uint8_t buffer[3] = {1, 2, 3};
    EXPECT_EQ(Si468x_SPI_RW_data(buffer, 3), 0);
    EXPECT_TRUE(sim::calls().empty()) << ::testing::PrintToString(sim::calls());
}

TEST_F(Link, ClaimFailureAppliesNoSetting) {
    ASSERT_TRUE(sim::set_faults("spi-fail"));
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    // The failed open closes the access again, and nothing else.
    const Calls &calls = sim::calls();
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls[calls.size() - 2], "bcm2835_spi_begin()");
    EXPECT_EQ(calls.back(), "bcm2835_close()");
    EXPECT_FALSE(any_call_starts_with("bcm2835_spi_set"));
}

TEST_F(Link, OpenLeavesARunningChipRunning) {
    sim::set_chip_running();
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    EXPECT_FALSE(any_call_starts_with("bcm2835_gpio_write"));
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_TRUE(sim::pin(23).level);
    uint8_t status[7] = {};
    Si468x_SPI_RW_data(status, 7);
    EXPECT_EQ(status[1], 0x80);
    EXPECT_EQ(status[4], 0xC0);
}

TEST_F(Link, ReleaseLeavesInputsWithCe1PulledHigh) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    sim::clear_calls();
    Si468x_SPI_disable();
    EXPECT_EQ(sim::calls(), (Calls{"bcm2835_spi_end()"}));
    for (uint8_t gpio = 7; gpio <= 11; ++gpio) {
        EXPECT_EQ(sim::pin(gpio).function, 0) << int{gpio};
    }
    EXPECT_TRUE(sim::pin(7).level);
    EXPECT_FALSE(sim::spi().begun);
}

TEST_F(Link, EveryClaimAppliesTheSameSettingsAgain) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    const sim::SpiSettings first = sim::spi();
    for (int round = 0; round < 3; ++round) {
        Si468x_SPI_disable();
        sim::clear_calls();
        ASSERT_EQ(Si468x_SPI_enable(), 0);
        EXPECT_EQ(sim::calls(), claim_calls);
        const sim::SpiSettings again = sim::spi();
        EXPECT_EQ(again.divider, first.divider);
        EXPECT_EQ(again.bit_order, first.bit_order);
        EXPECT_EQ(again.data_mode, first.data_mode);
        EXPECT_EQ(again.chip_select, first.chip_select);
        EXPECT_EQ(again.cs_polarity_cs, first.cs_polarity_cs);
        EXPECT_EQ(again.cs_polarity_level, first.cs_polarity_level);
        for (uint8_t gpio = 7; gpio <= 11; ++gpio) {
            EXPECT_EQ(sim::pin(gpio).function, 4) << int{gpio};
        }
    }
}

TEST_F(Link, ResetLineOperationsWriteGpio23AndTheLevelStays) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    sim::clear_calls();
    Si468x_SPI_RSTB_high();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    Si468x_SPI_RSTB_low();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    Si468x_SPI_RSTB_high();
    EXPECT_EQ(sim::calls(), (Calls{"bcm2835_gpio_write(23,1)", "bcm2835_gpio_write(23,0)",
                                   "bcm2835_gpio_write(23,1)"}));
    // Closing keeps the level: the chip stays out of reset.
    Si468x_SPI_shutdown();
    EXPECT_TRUE(sim::pin(23).level);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    EXPECT_FALSE(sim::peripherals_open());
}

TEST_F(Link, ShutdownReleasesTheBusThenClosesOnce) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    sim::clear_calls();
    Si468x_SPI_shutdown();
    Si468x_SPI_shutdown();
    EXPECT_EQ(sim::calls(), (Calls{"bcm2835_spi_end()", "bcm2835_close()"}));
    EXPECT_EQ(Si468x_SPI_enable(), -1) << "the link must be set up again";
}

TEST_F(Link, TransferIsOneFrameInPlace) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_SPI_RSTB_high();
    sim::record_frames(true);
    uint8_t buffer[9] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    EXPECT_EQ(Si468x_SPI_RW_data(buffer, 9), 0);
    ASSERT_EQ(sim::frames().size(), 1U);
    const sim::Frame &frame = sim::frames()[0];
    EXPECT_EQ(frame.out,
              (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(frame.in, std::vector<uint8_t>(buffer, buffer + 9));
    EXPECT_TRUE(frame.reached_chip);
    // The byte clocked in under the RD_REPLY opcode is the filler; STATUS0
    // (CTS, fresh out of reset) follows it.
    EXPECT_EQ(buffer[0], 0x00);
    EXPECT_EQ(buffer[1], 0x80);
    EXPECT_EQ(sim::calls().back(), "bcm2835_spi_transfern(9)");
}

} // namespace
