// SPDX-License-Identifier: GPL-3.0-or-later
// The chip lock against a real holder: the flock program holding the board's
// device node from another process, as a second radio would.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <thread>

#include <sys/wait.h>

#include "Si468x.h"
#include "Si468x_SPI.h"
#include "SimBoard.h"
#include "run_program.h"

namespace {

using namespace std::chrono_literals;
using tunelark::test::ProgramOptions;
using tunelark::test::RunningProgram;

// flock(1) takes the lock itself and then runs the command; with -o the
// command does not inherit the lock, so the holder is the flock process alone
// (its command, left behind when it is killed, ends by itself).
std::unique_ptr<RunningProgram> hold_node() {
    ProgramOptions options;
    options.program = "/usr/bin/flock";
    options.args = {"-o", "-n", sim::spidev_path(), "-c", "echo held; exec sleep 20"};
    auto holder = std::make_unique<RunningProgram>(options);
    EXPECT_TRUE(holder->wait_for_output("held\n", 10s))
        << "flock could not take the node: " << holder->finish(1s).err;
    return holder;
}

class ChipLock : public ::testing::Test {
protected:
    void SetUp() override { sim::reset_for_test(); }
    void TearDown() override { Si468x_SPI_shutdown(); }
};

TEST_F(ChipLock, AHeldChipIsRefusedBeforeAnythingIsTouchedAndItsHolderNamed) {
    for (const sim::PiModel model : {sim::PiModel::Pi4, sim::PiModel::Pi5}) {
        sim::reset_for_test();
        sim::set_pi_model(model);
        sim::set_chip_running();
        auto holder = hold_node();
        sim::clear_calls();
        EXPECT_EQ(Si468x_bus_init(), -6);
        EXPECT_EQ(Si468x_ErrorCode, 101);
        EXPECT_EQ(sim::calls(), (std::vector<std::string>{"lock(spidev0.0)=-1"}));
        // What the failure exit would do afterwards reaches nothing either.
        Si468x_power_down();
        EXPECT_EQ(sim::calls().size(), 1U) << ::testing::PrintToString(sim::calls());
        EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);

        Si468x_BusHolder held{};
        ASSERT_EQ(Si468x_bus_held(&held), 1);
        EXPECT_EQ(held.pid, holder->pid());
        EXPECT_STREQ(held.name, "flock");
        char text[96];
        Si468x_bus_held_text(&held, text, sizeof text);
        EXPECT_EQ(std::string(text), "The Si468x is in use by another program (flock, pid " +
                                         std::to_string(holder->pid()) + "). Exit.");
    }
}

TEST_F(ChipLock, AHolderThatCannotBeFoundIsLeftOutOfTheMessage) {
    ASSERT_TRUE(sim::set_faults("locks-hidden"));
    auto holder = hold_node();
    EXPECT_EQ(Si468x_SPI_setup(), SI468X_SPI_HELD);
    Si468x_BusHolder held{};
    ASSERT_EQ(Si468x_bus_held(&held), 1);
    EXPECT_EQ(held.pid, 0);
    char text[96];
    Si468x_bus_held_text(&held, text, sizeof text);
    EXPECT_STREQ(text, "The Si468x is in use by another program. Exit.");
}

// The lock ends with its holder, however it ends, and with the link's close.
TEST_F(ChipLock, TheLockEndsWithAKilledHolderAndWithTheClose) {
    {
        auto holder = hold_node();
        ASSERT_EQ(Si468x_SPI_setup(), SI468X_SPI_HELD);
        kill(holder->pid(), SIGKILL);
        while (holder->running()) {
            std::this_thread::sleep_for(10ms);
        }
    }
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_BusHolder held{};
    EXPECT_EQ(Si468x_bus_held(&held), 0) << "a taken chip names no holder";
    // Opened again by the same process, it stays this process's.
    ASSERT_EQ(Si468x_SPI_setup(), 0);

    ProgramOptions options;
    options.program = "/usr/bin/flock";
    options.args = {"-n", sim::spidev_path(), "true"};
    EXPECT_NE(tunelark::test::run_program(options, {}, 10s).exit_status, 0) << "the link holds it";
    Si468x_SPI_shutdown();
    EXPECT_EQ(tunelark::test::run_program(options, {}, 10s).exit_status, 0) << "released at close";
}

} // namespace
