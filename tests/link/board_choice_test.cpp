// SPDX-License-Identifier: GPL-3.0-or-later
// Which path the link takes, from the board's device tree: the bcm2835
// library only on the SoCs it knows, the kernel's devices everywhere else,
// and the library never started on a board it does not know.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Si468x_SPI.h"
#include "Si468x_SPI_paths.h"
#include "SimBoard.h"
#include "sim_calls.h"

namespace {

using tunelark::test::any_call_starts_with;

struct CompatibleCase {
    const char *board;
    std::string compatible; // as the node holds it, NULs included
    Si468x_SPI_Path path;
};

std::string entries(std::initializer_list<const char *> list, bool last_nul = true) {
    std::string text;
    for (const char *entry : list) {
        text += entry;
        text += '\0';
    }
    if (!last_nul && !text.empty()) {
        text.pop_back();
    }
    return text;
}

TEST(BoardChoice, CompatibleStringsChooseThePath) {
    const std::vector<CompatibleCase> cases = {
        {"Pi 1", entries({"raspberrypi,model-b", "brcm,bcm2835"}), SI468X_SPI_PATH_BCM2835},
        {"Pi 2", entries({"raspberrypi,2-model-b", "brcm,bcm2836"}), SI468X_SPI_PATH_BCM2835},
        {"Pi 3", entries({"raspberrypi,3-model-b", "brcm,bcm2837"}), SI468X_SPI_PATH_BCM2835},
        {"Zero 2 W", entries({"raspberrypi,model-zero-2-w", "brcm,bcm2837"}),
         SI468X_SPI_PATH_BCM2835},
        {"Pi 4", entries({"raspberrypi,4-model-b", "brcm,bcm2711"}), SI468X_SPI_PATH_BCM2835},
        {"SoC entry first", entries({"brcm,bcm2711", "raspberrypi,4-model-b"}),
         SI468X_SPI_PATH_BCM2835},
        {"last entry without its NUL", entries({"raspberrypi,4-model-b", "brcm,bcm2711"}, false),
         SI468X_SPI_PATH_BCM2835},
        {"Pi 5", entries({"raspberrypi,5-model-b", "brcm,bcm2712"}), SI468X_SPI_PATH_KERNEL},
        {"Compute Module 5", entries({"raspberrypi,5-compute-module", "brcm,bcm2712"}),
         SI468X_SPI_PATH_KERNEL},
        {"unknown board", entries({"example,board", "example,soc"}), SI468X_SPI_PATH_KERNEL},
        {"a known name inside a longer one", entries({"brcm,bcm2711x", "xbrcm,bcm2835"}),
         SI468X_SPI_PATH_KERNEL},
        {"a known name cut short", std::string("brcm,bcm271", 11), SI468X_SPI_PATH_KERNEL},
        {"board name without SoC", entries({"raspberrypi,4-model-b"}), SI468X_SPI_PATH_KERNEL},
        {"empty property", std::string(), SI468X_SPI_PATH_KERNEL},
        {"only NULs", std::string(4, '\0'), SI468X_SPI_PATH_KERNEL},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(Si468x_SPI_path_for(c.compatible.data(), c.compatible.size()), c.path) << c.board;
    }
}

class BoardOpen : public ::testing::Test {
protected:
    void SetUp() override { sim::reset_for_test(); }
    void TearDown() override {
        Si468x_SPI_shutdown();
        EXPECT_EQ(sim::open_descriptors(), 0U) << "the link left descriptors open";
    }
};

TEST_F(BoardOpen, Pi3AndPi4TakeTheBcm2835Library) {
    for (const sim::PiModel model : {sim::PiModel::Pi3, sim::PiModel::Pi4}) {
        sim::reset_for_test();
        sim::set_pi_model(model);
        ASSERT_EQ(Si468x_SPI_setup(), 0);
        ASSERT_FALSE(sim::calls().empty());
        EXPECT_EQ(sim::calls().front(), "bcm2835_init()");
        EXPECT_FALSE(any_call_starts_with("open(")) << "no kernel device on this path";
        EXPECT_EQ(Si468x_SPI_board_path(), SI468X_SPI_PATH_BCM2835);
        Si468x_SPI_shutdown();
    }
}

TEST_F(BoardOpen, Pi5AndUnknownBoardsNeverStartTheLibrary) {
    for (const sim::PiModel model : {sim::PiModel::Pi5, sim::PiModel::Unknown}) {
        sim::reset_for_test();
        sim::set_pi_model(model);
        ASSERT_EQ(Si468x_SPI_setup(), 0);
        EXPECT_FALSE(any_call_starts_with("bcm2835_")) << ::testing::PrintToString(sim::calls());
        EXPECT_FALSE(sim::peripherals_open());
        EXPECT_EQ(sim::calls().front(), "open(spidev0.0)");
        EXPECT_TRUE(sim::reset_line_requested());
        Si468x_SPI_shutdown();
    }
}

// Without a device tree the kernel path is still taken; with no line named
// for the reset pin there is nothing to drive it with, so the open fails and
// the program takes its SPI error exit. Nothing stays open.
TEST_F(BoardOpen, UnreadableDeviceTreeTakesTheKernelPathAndFailsWithoutNamedLines) {
    sim::set_pi_model(sim::PiModel::NoDeviceTree);
    EXPECT_EQ(Si468x_SPI_board_path(), SI468X_SPI_PATH_KERNEL);
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_FALSE(any_call_starts_with("bcm2835_"));
    EXPECT_FALSE(sim::reset_line_requested());
    EXPECT_EQ(sim::open_descriptors(), 0U);
    // What the failure exit does after a failed open leaves the board alone.
    sim::clear_calls();
    Si468x_SPI_RSTB_low();
    Si468x_SPI_shutdown();
    EXPECT_TRUE(sim::calls().empty()) << ::testing::PrintToString(sim::calls());
}

TEST_F(BoardOpen, ThePathIsChosenAgainAtEveryOpen) {
    sim::set_pi_model(sim::PiModel::Pi5);
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_SPI_shutdown();
    sim::set_pi_model(sim::PiModel::Pi4);
    sim::clear_calls();
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    EXPECT_EQ(sim::calls().front(), "bcm2835_init()");
}

} // namespace
