// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and claiming the link, the reset pulse and the power-down.
#include <algorithm>

#include "DriverTest.h"

namespace driver_test {
namespace {

class BusTest : public ::testing::Test {
protected:
    void SetUp() override { sim::reset_for_test(); }
    void TearDown() override { Si468x_SPI_shutdown(); }

    // Position of a call in the board's call log, or -1.
    static long position_of(const std::string &call, long from = 0) {
        const auto &calls = sim::calls();
        const auto it = std::find(calls.begin() + from, calls.end(), call);
        return it == calls.end() ? -1 : static_cast<long>(it - calls.begin());
    }
};

TEST_F(BusTest, OpenFailsWithoutTheDeviceNodeAt1) {
    sim::set_spidev_present(false);
    Si468x_ErrorCode = 0;
    EXPECT_EQ(Si468x_bus_init(), -6);
    EXPECT_EQ(Si468x_ErrorCode, 1);
}

TEST_F(BusTest, OpenFailsWhenThePeripheralsCannotBeMappedAt1) {
    ASSERT_TRUE(sim::set_faults("init-fail"));
    EXPECT_EQ(Si468x_bus_init(), -6);
    EXPECT_EQ(Si468x_ErrorCode, 1);
}

TEST_F(BusTest, ClaimAfterReleaseWorksAndAFailedClaimReports3) {
    ASSERT_EQ(Si468x_bus_init(), 0);
    Si468x_bus_disable();
    EXPECT_FALSE(sim::spi().begun);
    EXPECT_EQ(Si468x_bus_enable(), 0);
    EXPECT_TRUE(sim::spi().begun);

    Si468x_bus_disable();
    ASSERT_TRUE(sim::set_faults("spi-fail"));
    Si468x_ErrorCode = 0;
    EXPECT_EQ(Si468x_bus_enable(), -6);
    EXPECT_EQ(Si468x_ErrorCode, 3);
}

TEST_F(BusTest, ResetPulseHoldsTheLineLow200msThenWaits50ms) {
    ASSERT_EQ(Si468x_bus_init(), 0);
    sim::clear_calls();
    const double start_ms = sim::now_ms();
    Si468x_reset();
    const long low = position_of("bcm2835_gpio_write(23,0)");
    const long wait_low = position_of("bcm2835_delay(200)", low + 1);
    const long high = position_of("bcm2835_gpio_write(23,1)", wait_low + 1);
    const long settle = position_of("bcm2835_delay(50)", high + 1);
    EXPECT_GE(low, 0);
    EXPECT_GT(wait_low, low);
    EXPECT_GT(high, wait_low);
    EXPECT_GT(settle, high);
    EXPECT_DOUBLE_EQ(sim::now_ms() - start_ms, 250.0);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    EXPECT_TRUE(sim::pin(23).level);
}

TEST_F(BusTest, PowerDownHoldsTheChipInResetAndClosesTheLinkWithoutAByte) {
    sim::set_chip_running();
    ASSERT_EQ(Si468x_bus_init(), 0);
    sim::record_frames(true);
    Si468x_power_down();
    EXPECT_TRUE(sim::frames().empty());
    EXPECT_FALSE(sim::pin(23).level);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    EXPECT_FALSE(sim::peripherals_open());
    EXPECT_FALSE(sim::spi().begun);
}

} // namespace
} // namespace driver_test
