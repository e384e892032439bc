// SPDX-License-Identifier: GPL-3.0-or-later
// One program at a time on the chip: a second program started while the
// radio plays is refused before it touches anything, and the radio plays on;
// a holder that dies, however, leaves the chip to the next start.
#include <csignal>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "Trace.h"
#include "scratch_dir.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

class ChipLock : public ::testing::Test {
protected:
    RadioBench bench;
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
};

TEST_F(ChipLock, ASecondProgramIsRefusedAndTheRadioPlaysOn) {
    auto radio = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    radio->send("\r");
    ASSERT_TRUE(radio->waitForRow(23, "Playing: ")) << radio->dump();
    const BoardReading before = bench.board();
    ASSERT_TRUE(before.playing);

    const std::string refusal = "The Si468x is in use by another program (Tunelark, pid " +
                                std::to_string(radio->pid()) + "). Exit.\n";
    struct Second {
        const char *name;
        std::string program;
        std::vector<std::string> args;
        std::string output; // the whole console, or a part of it for the diagnostics
        bool whole;
    };
    const std::vector<Second> seconds = {
        {"Tunelark", TUNELARK_PROGRAM, {}, "Starting...Corvane Software v0.16.5\n" + refusal, true},
        {"Tunelark -S",
         TUNELARK_PROGRAM,
         {"-S", std::to_string(entries[3].service_id)},
         "Starting...Corvane Software v0.16.5\n" + refusal,
         true},
        {"si468x-diag status", SI468X_DIAG_PROGRAM, {"status"}, refusal, false},
    };
    for (const Second &second : seconds) {
        SCOPED_TRACE(second.name);
        const std::string calls = bench.scratch() + "/" + std::to_string(&second - &seconds[0]);
        Launch launch;
        launch.program = second.program;
        launch.args = second.args;
        launch.directory = bench.runDirectory();
        launch.environment = bench.environment();
        launch.environment["SI468X_SIM_CALLS"] = calls + ".calls";
        launch.environment["SI468X_SIM_TRACE"] = calls + ".trace";
        Terminal other(launch);
        const ExitStatus status = other.waitExit();
        EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
        const std::string console = consoleText(other.output());
        if (second.whole) {
            EXPECT_EQ(console, second.output);
        } else {
            EXPECT_NE(console.find(second.output), std::string::npos) << console;
        }
        // The lock was asked and refused; no pin, bus or device call followed,
        // and no frame went out.
        EXPECT_EQ(tunelark::test::read_file(calls + ".calls"), "lock(spidev0.0)=-1\n");
        EXPECT_TRUE(sim::read_trace(calls + ".trace").empty());
    }
    const BoardReading after = bench.board();
    EXPECT_TRUE(after.playing);
    EXPECT_TRUE(after.reset_high);
    EXPECT_EQ(after.service_id, before.service_id);
    EXPECT_EQ(after.tuned_index, before.tuned_index);
    // The radio still answers its keys.
    radio->send("x");
    const ExitStatus status = radio->waitExit();
    EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
    EXPECT_NE(consoleText(radio->output()).find("User quits."), std::string::npos);
}

TEST_F(ChipLock, AHolderKilledWithSigkillLeavesTheChipToTheNextStart) {
    auto radio = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    radio->send("\r");
    ASSERT_TRUE(radio->waitForRow(23, "Playing: ")) << radio->dump();
    kill(radio->pid(), SIGKILL);
    ASSERT_TRUE(radio->waitExit().signaled);

    auto next = bench.start();
    ASSERT_TRUE(waitForMenu(*next)) << consoleText(next->output());
    EXPECT_EQ(consoleText(next->output()).find("in use by another program"), std::string::npos);
    next->send("x");
    EXPECT_TRUE(next->waitExit().exited);
}

// The device node vanishes once the bcm2835 library is up: the open fails,
// and the failure exit drives no reset line (the chip the last run left
// playing plays on) and releases no bus it never claimed.
TEST_F(ChipLock, ALinkThatFailsAfterTheLibraryStartedIsLeftAlone) {
    if (const char *pi = std::getenv("SI468X_SIM_PI"); pi != nullptr && std::string(pi) == "5") {
        GTEST_SKIP() << "the bcm2835 library is not started on a Pi 5";
    }
    {
        auto radio = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        radio->send("\r");
        ASSERT_TRUE(radio->waitForRow(23, "Playing: ")) << radio->dump();
        radio->send("\x03");
        ASSERT_TRUE(radio->waitExit().exited);
    }
    bench.faults = "spidev-vanishes";
    bench.calls = bench.scratch() + "/vanishing.calls";
    auto term = bench.start();
    const ExitStatus status = term->waitExit();
    EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
    EXPECT_NE(consoleText(term->output()).find("Error initializing SPI bus."), std::string::npos);
    const std::string calls = tunelark::test::read_file(bench.calls);
    EXPECT_NE(calls.find("bcm2835_init()\n"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("bcm2835_gpio_write(23"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("bcm2835_spi_end()"), std::string::npos) << calls;
    const BoardReading board = bench.board();
    EXPECT_TRUE(board.reset_high);
    EXPECT_TRUE(board.playing);
}

} // namespace
} // namespace e2e
