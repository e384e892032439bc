// SPDX-License-Identifier: GPL-3.0-or-later
// The core's faults: what each does on the wire, the per-reset counts of the
// bring-up faults, and what an unusable fault list does to the board.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "BusHost.h"
#include "Faults.h"
#include "SimBoard.h"
#include "scratch_dir.h"

using namespace bus_host;

extern "C" const char *Si468x_SPI_device_node(void);

namespace {

class BoardFaults : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        open_bus();
    }

    static void fault(const std::string &list) { ASSERT_TRUE(sim::set_faults(list)) << list; }

    static std::string errors_text() { return tunelark::test::read_file(sim::errors_path()); }
};

TEST_F(BoardFaults, AbsentChipNeverAnswers) {
    fault("absent");
    sim::record_frames(true);
    reset_pulse();
    EXPECT_EQ(read(7), Bytes(7, 0));
    EXPECT_FALSE(cts(command(power_up_bytes, 5)));
    for (const auto &frame : sim::frames()) {
        EXPECT_FALSE(frame.reached_chip);
    }
    sim::clear_faults();
    EXPECT_TRUE(cts(read(7))) << "the chip was there all along";
}

TEST_F(BoardFaults, InitAndSpiFailuresReportAsTheLibraryDoes) {
    bcm2835_close();
    fault("init-fail");
    EXPECT_EQ(bcm2835_init(), 0);
    EXPECT_FALSE(sim::peripherals_open());
    fault("spi-fail");
    EXPECT_EQ(bcm2835_init(), 1);
    EXPECT_EQ(bcm2835_spi_begin(), 0);
    sim::clear_faults();
    EXPECT_EQ(bcm2835_spi_begin(), 1);
    bcm2835_close();
    EXPECT_EQ(bcm2835_spi_begin(), 0) << "peripherals closed";
}

TEST_F(BoardFaults, NoSpidevHidesTheNodeWithoutDeletingIt) {
    struct stat info {};
    fault("no-spidev");
    EXPECT_NE(::stat(Si468x_SPI_device_node(), &info), 0);
    EXPECT_EQ(::stat(sim::spidev_path().c_str(), &info), 0);
    sim::clear_faults();
    EXPECT_EQ(::stat(Si468x_SPI_device_node(), &info), 0);
}

TEST_F(BoardFaults, BusyHoldsCtsBackUntilTheFaultIsCleared) {
    fault("busy=0x08");
    reset_pulse();
    command(power_up_bytes, 5);
    EXPECT_FALSE(cts(command({0x08, 0x00})));
    EXPECT_FALSE(cts(command({0x09, 0x00}))) << "still busy with the first";
    sim::clear_faults();
    const Bytes status = read(7);
    EXPECT_TRUE(cts(status));
    EXPECT_EQ(status3(status) & 0x04, 0x04) << "the second command was lost";
}

TEST_F(BoardFaults, ErrCmdRejectsOnlyThatOpcodeAndRunsNothing) {
    fault("errcmd=0x01");
    reset_pulse();
    EXPECT_TRUE(err_cmd(command(power_up_bytes, 5)));
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    fault("errcmd=0x09");
    const Bytes reply = command(power_up_bytes, 5);
    EXPECT_FALSE(err_cmd(reply));
    EXPECT_EQ(status3(reply), 0x80);
    EXPECT_TRUE(err_cmd(command({0x09, 0x00}, 7)));
    EXPECT_FALSE(err_cmd(command({0x08, 0x00}, 7)));
}

TEST_F(BoardFaults, Status3BitsShowInEveryStatus) {
    fault("status3=0x02");
    reset_pulse();
    EXPECT_EQ(status3(read(7)), 0x02);
    EXPECT_EQ(status3(command(power_up_bytes, 5)), 0x82);
    EXPECT_EQ(status3(bring_up()), 0xC2);
}

TEST_F(BoardFaults, GarbageIsNoiseButTheSameEveryRun) {
    reset_pulse();
    command(power_up_bytes, 5);
    const Bytes clean = command({0x08, 0x00}, 40);
    fault("garbage=0x08");
    const Bytes first = command({0x08, 0x00}, 40);
    EXPECT_EQ(first[1], 0x80) << "status stays true";
    EXPECT_EQ(status3(first), 0x80);
    EXPECT_NE(Bytes(first.begin() + 5, first.end()), Bytes(clean.begin() + 5, clean.end()));
    EXPECT_EQ(read(40), first) << "a reply read twice is the same noise";
    EXPECT_NE(command({0x08, 0x00}, 40), first) << "each command brings new noise";
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 0) << "other commands are clean";

    sim::reset_for_test();
    open_bus();
    fault("garbage=0x08");
    reset_pulse();
    command(power_up_bytes, 5);
    EXPECT_EQ(command({0x08, 0x00}, 40), first);
}

TEST_F(BoardFaults, ReplyOverflowFlagsThatCommandsReply) {
    fault("reply-overflow=0x08");
    reset_pulse();
    command(power_up_bytes, 5);
    EXPECT_EQ(status3(command({0x08, 0x00}, 7)), 0x88);
    EXPECT_EQ(status3(command({0x09, 0x00}, 7)), 0x80);
}

TEST_F(BoardFaults, SlowAddsItsTimeToEveryBusyTime) {
    reset_pulse();
    command(power_up_bytes, 5);
    sim::set_busy_ns(0x09, 0);
    fault("slow=300000");
    transfer({0x09, 0x00});
    const uint64_t done = sim::now_ns();
    const Bytes status = wait_cts();
    EXPECT_TRUE(cts(status));
    EXPECT_GE(sim::now_ns(), done + 300'000);
    EXPECT_LT(sim::now_ns(), done + 1'400'000) << "third poll, after 50 and 1050 µs";
}

TEST_F(BoardFaults, PropertyMismatchChangesOnlyThatIdOnReadBack) {
    fault("property-mismatch=0x0300");
    ASSERT_EQ(status3(bring_up()), 0xC0);
    set_property(0x0300, 20);
    EXPECT_EQ(sim::property(0x0300), 20);
    EXPECT_EQ(get_property(0x0300), 21);
    set_property(0x0202, 0x1800);
    EXPECT_EQ(get_property(0x0202), 0x1800);
}

TEST_F(BoardFaults, RunningErrorOnlyMarksAChipFoundRunning) {
    fault("running-error");
    sim::set_chip_running();
    EXPECT_EQ(status3(read(7)), 0xC1);
    ASSERT_EQ(status3(bring_up()), 0xC0);
    EXPECT_EQ(status3(read(7)), 0xC0);
}

// Which step of a bring-up attempt failed.
enum class Step { NoCts, PowerUp, Patch, Firmware, Boot, None };

Step attempt() {
    reset_pulse();
    if (!cts(read(7))) {
        return Step::NoCts;
    }
    if (status3(command(power_up_bytes, 5)) != 0x80) {
        return Step::PowerUp;
    }
    if (!upload(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE)) {
        return Step::Patch;
    }
    if (!upload(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE)) {
        return Step::Firmware;
    }
    if (status3(boot()) != 0xC0) {
        return Step::Boot;
    }
    return Step::None;
}

struct ResetFault {
    const char *name;
    Step step;
};

void PrintTo(const ResetFault &f, std::ostream *os) {
    *os << f.name;
}

class PerResetFault : public BoardFaults, public ::testing::WithParamInterface<ResetFault> {};

TEST_P(PerResetFault, HitsTheFirstNPowerCyclesOnly) {
    fault(std::string(GetParam().name) + "=2");
    EXPECT_EQ(attempt(), GetParam().step);
    EXPECT_EQ(attempt(), GetParam().step);
    EXPECT_EQ(attempt(), Step::None);
    EXPECT_EQ(attempt(), Step::None);
}

TEST_P(PerResetFault, AlwaysHitsEveryPowerCycle) {
    fault(std::string(GetParam().name) + "=always");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(attempt(), GetParam().step) << i;
    }
}

TEST_P(PerResetFault, CountRestartsWithEveryTest) {
    fault(std::string(GetParam().name) + "=1");
    EXPECT_EQ(attempt(), GetParam().step);
    sim::reset_for_test();
    open_bus();
    fault(std::string(GetParam().name) + "=1");
    EXPECT_EQ(attempt(), GetParam().step);
}

INSTANTIATE_TEST_SUITE_P(Cases, PerResetFault,
                         ::testing::Values(ResetFault{"no-cts-after-reset", Step::NoCts},
                                           ResetFault{"powerup-fail", Step::PowerUp},
                                           ResetFault{"patch-fail", Step::Patch},
                                           ResetFault{"firmware-fail", Step::Firmware},
                                           ResetFault{"boot-fail", Step::Boot}),
                         [](const auto &info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST_F(BoardFaults, PowerUpFailureLeavesStatus3Clear) {
    fault("powerup-fail=1");
    reset_pulse();
    const Bytes reply = command(power_up_bytes, 5);
    EXPECT_TRUE(cts(reply));
    EXPECT_FALSE(err_cmd(reply));
    EXPECT_EQ(status3(reply), 0x00);
}

TEST_F(BoardFaults, UnusableFaultListIsReportedAndTheChipGoesAbsent) {
    for (const std::string list : {"bogus", "busy=zz", "busy", "absent=1", "patch-fail=-3"}) {
        SCOPED_TRACE(list);
        std::string error;
        EXPECT_FALSE(sim::set_faults(list, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_NE(errors_text().find(list), std::string::npos) << errors_text();
        reset_pulse();
        EXPECT_EQ(read(7), Bytes(7, 0));
    }
    // A usable list, or none, brings the chip back.
    fault("status3=0x00");
    EXPECT_TRUE(cts(read(7)));
}

TEST_F(BoardFaults, ResetForTestForgetsEveryFault) {
    fault("absent,errcmd=0x01,status3=0x02");
    sim::reset_for_test();
    open_bus();
    reset_pulse();
    const Bytes reply = command(power_up_bytes, 5);
    EXPECT_EQ(reply[1], 0x80);
    EXPECT_EQ(status3(reply), 0x80);
}

} // namespace

namespace {

// Every fault of the table is known by its name, and by no other.
TEST(FaultTable, EveryNameParsesToItsOwnEnumerator) {
    for (const auto &info : sim::fault_table) {
        EXPECT_EQ(sim::fault_named(info.name), info.fault) << info.name;
        sim::Faults faults;
        std::string error;
        const std::string entry = info.takes_value ? std::string(info.name) + "=7" : info.name;
        ASSERT_TRUE(faults.parse(entry, &error)) << error;
        EXPECT_TRUE(faults.has(info.fault)) << info.name;
        if (info.takes_value) {
            EXPECT_EQ(faults.number(info.fault), 7) << info.name;
            EXPECT_TRUE(faults.matches(info.fault, 7)) << info.name;
        }
    }
    EXPECT_FALSE(sim::fault_named("start-fial").has_value());
}

TEST(FaultTable, ValuesAreParsedOnceAndKeptInOrder) {
    sim::Faults faults;
    std::string error;
    ASSERT_TRUE(faults.parse("tune-timeout=3, tune-timeout=0x11 ,tune-timeout=always", &error))
        << error;
    EXPECT_EQ(faults.numbers(sim::Fault::TuneTimeout), (std::vector<long>{3, 17, -1}));
    EXPECT_EQ(faults.number(sim::Fault::TuneTimeout), 3);
    EXPECT_FALSE(faults.has(sim::Fault::NoSignal));
    EXPECT_FALSE(faults.parse("start-fail=1", &error));
    EXPECT_FALSE(faults.parse("busy=", &error));
    EXPECT_FALSE(faults.has(sim::Fault::TuneTimeout)) << "a refused list leaves no fault";
}

} // namespace
