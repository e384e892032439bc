// SPDX-License-Identifier: GPL-3.0-or-later
// The Pi side of the board: GPIO and SPI0 as the library leaves them, which
// settings carry a frame to the chip, wire time, delays, the call record and
// the trace.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "BusHost.h"
#include "SimBoard.h"
#include "Trace.h"

using namespace bus_host;

namespace {

class BoardBus : public ::testing::Test {
protected:
    void SetUp() override { sim::reset_for_test(); }
};

TEST_F(BoardBus, SpiBeginTakesPins7To11AndEndGivesThemBackAsInputs) {
    bcm2835_init();
    bcm2835_gpio_set_pud(7, BCM2835_GPIO_PUD_UP);
    ASSERT_EQ(bcm2835_spi_begin(), 1);
    for (uint8_t gpio = 7; gpio <= 11; ++gpio) {
        EXPECT_EQ(sim::pin(gpio).function, BCM2835_GPIO_FSEL_ALT0) << int{gpio};
    }
    EXPECT_TRUE(sim::spi().begun);
    bcm2835_spi_end();
    for (uint8_t gpio = 7; gpio <= 11; ++gpio) {
        EXPECT_EQ(sim::pin(gpio).function, BCM2835_GPIO_FSEL_INPT) << int{gpio};
    }
    EXPECT_FALSE(sim::spi().begun);
    EXPECT_TRUE(sim::pin(7).level) << "held high by its pull-up";
    EXPECT_FALSE(sim::pin(8).level) << "no pull on CE0";
    EXPECT_EQ(bcm2835_gpio_lev(7), 1);
    EXPECT_EQ(bcm2835_gpio_lev(8), 0);
}

TEST_F(BoardBus, ClaimForgetsEarlierSettings) {
    open_bus();
    bcm2835_spi_end();
    ASSERT_EQ(bcm2835_spi_begin(), 1);
    const sim::SpiSettings settings = sim::spi();
    EXPECT_EQ(settings.divider, -1);
    EXPECT_EQ(settings.bit_order, -1);
    EXPECT_EQ(settings.cs_polarity_level, -1);
}

struct BusSetup {
    const char *name;
    std::function<void()> change; // after a correct open_bus
    bool reaches;
};

void PrintTo(const BusSetup &s, std::ostream *os) {
    *os << s.name;
}

class BusSettings : public BoardBus, public ::testing::WithParamInterface<BusSetup> {};

TEST_P(BusSettings, DecideWhetherTheFrameReachesTheChip) {
    open_bus();
    bcm2835_gpio_write(23, HIGH);
    GetParam().change();
    sim::record_frames(true);
    const Bytes reply = read(7);
    ASSERT_EQ(sim::frames().size(), 1U);
    EXPECT_EQ(sim::frames()[0].reached_chip, GetParam().reaches);
    EXPECT_EQ(reply[1], GetParam().reaches ? 0x80 : 0x00);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BusSettings,
    ::testing::Values(
        BusSetup{"as_the_link_sets_it", [] {}, true},
        BusSetup{"divider_2", [] { bcm2835_spi_setClockDivider(2); }, true},
        BusSetup{"divider_65536_as_0", [] { bcm2835_spi_setClockDivider(0); }, true},
        BusSetup{"divider_odd", [] { bcm2835_spi_setClockDivider(33); }, false},
        BusSetup{"divider_1", [] { bcm2835_spi_setClockDivider(1); }, false},
        BusSetup{"lsb_first", [] { bcm2835_spi_setBitOrder(0); }, false},
        BusSetup{"mode_1", [] { bcm2835_spi_setDataMode(1); }, false},
        BusSetup{"mode_3", [] { bcm2835_spi_setDataMode(3); }, false},
        BusSetup{"ce1", [] { bcm2835_spi_chipSelect(1); }, false},
        BusSetup{"no_chip_select", [] { bcm2835_spi_chipSelect(3); }, false},
        BusSetup{"ce0_active_high", [] { bcm2835_spi_setChipSelectPolarity(0, 1); }, false},
        BusSetup{"ce1_polarity_leaves_ce0", [] { bcm2835_spi_setChipSelectPolarity(1, 1); }, true},
        BusSetup{"released", [] { bcm2835_spi_end(); }, false},
        BusSetup{"settings_not_applied_after_claim",
                 [] {
                     bcm2835_spi_end();
                     bcm2835_spi_begin();
                 },
                 false},
        BusSetup{"miso_pin_taken_away", [] { bcm2835_gpio_fsel(9, BCM2835_GPIO_FSEL_INPT); },
                 false},
        BusSetup{"chip_in_reset", [] { bcm2835_gpio_write(23, LOW); }, false},
        BusSetup{"reset_pin_an_input", [] { bcm2835_gpio_fsel(23, BCM2835_GPIO_FSEL_INPT); },
                 false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(BoardBus, ClosedPeripheralsRecordCallsButChangeNothing) {
    bcm2835_gpio_fsel(23, BCM2835_GPIO_FSEL_OUTP);
    bcm2835_gpio_write(23, HIGH);
    bcm2835_gpio_set_pud(7, BCM2835_GPIO_PUD_UP);
    EXPECT_EQ(bcm2835_spi_begin(), 0);
    Bytes buffer = {0x12, 0x34};
    bcm2835_spi_transfern(reinterpret_cast<char *>(buffer.data()), 2);
    EXPECT_EQ(buffer, (Bytes{0x12, 0x34}));
    EXPECT_EQ(sim::pin(23).function, BCM2835_GPIO_FSEL_INPT);
    EXPECT_EQ(sim::pin(7).pud, 0);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    EXPECT_EQ(sim::stats().frames, 0U);
    EXPECT_EQ(sim::calls(),
              (std::vector<std::string>{"bcm2835_gpio_fsel(23,1)", "bcm2835_gpio_write(23,1)",
                                        "bcm2835_gpio_set_pud(7,2)", "bcm2835_spi_begin()",
                                        "bcm2835_spi_transfern(2)"}));
}

struct WireTime {
    uint16_t divider;
    uint64_t ns_per_byte;
};

void PrintTo(const WireTime &w, std::ostream *os) {
    *os << "divider " << w.divider;
}

class WireTimes : public BoardBus, public ::testing::WithParamInterface<WireTime> {};

TEST_P(WireTimes, EachByteTakesEightBitsAtTheDividedCoreClock) {
    open_bus(GetParam().divider);
    sim::record_frames(true);
    const uint64_t start = sim::now_ns();
    read(7);
    EXPECT_EQ(sim::now_ns() - start, 7 * GetParam().ns_per_byte);
    ASSERT_EQ(sim::frames().size(), 1U);
    EXPECT_EQ(sim::frames()[0].start_ns, start);
    EXPECT_EQ(sim::frames()[0].end_ns, start + 7 * GetParam().ns_per_byte);
}

INSTANTIATE_TEST_SUITE_P(Dividers, WireTimes,
                         ::testing::Values(WireTime{32, 1024}, WireTime{2, 64}, WireTime{256, 8192},
                                           WireTime{0, 2'097'152}));

TEST_F(BoardBus, VirtualDelaysAdvanceTheClockExactly) {
    bcm2835_delay(200);
    EXPECT_EQ(sim::now_ns(), 200'000'000U);
    bcm2835_delayMicroseconds(50);
    EXPECT_EQ(sim::now_ns(), 200'050'000U);
    EXPECT_EQ(sim::stats().delay_calls, 2U);
    EXPECT_EQ(sim::stats().delay_ns, 200'050'000U);
    EXPECT_DOUBLE_EQ(sim::now_ms(), 200.05);
}

TEST_F(BoardBus, RealClockSleeps) {
    sim::clock().set_mode(sim::ClockMode::Real);
    const auto start = std::chrono::steady_clock::now();
    bcm2835_delay(20);
    const auto slept = std::chrono::steady_clock::now() - start;
    EXPECT_GE(slept, std::chrono::milliseconds(20));
    EXPECT_GE(sim::now_ns(), 20'000'000U);
}

TEST_F(BoardBus, ClockContinuesFromASavedTimeInBothModes) {
    // Later than the host's own monotonic clock has run: a long earlier run.
    const uint64_t saved = 40ULL * 365 * 24 * 3600 * 1'000'000'000ULL;
    for (const auto mode : {sim::ClockMode::Virtual, sim::ClockMode::Real}) {
        sim::clock().set_mode(mode);
        sim::clock().set_now_ns(saved);
        const uint64_t first = sim::now_ns();
        bcm2835_delayMicroseconds(100);
        EXPECT_GE(first, saved);
        EXPECT_LT(first, saved + 1'000'000'000ULL);
        EXPECT_GE(sim::now_ns(), first + 100'000);
    }
}

TEST_F(BoardBus, EachTransferIsOneFrameWithBothDirections) {
    open_bus();
    bcm2835_gpio_write(23, HIGH);
    sim::record_frames(true);
    transfer({0x09, 0x00});
    transfer(Bytes(7, 0));
    ASSERT_EQ(sim::frames().size(), 2U);
    EXPECT_EQ(sim::frames()[0].out, (Bytes{0x09, 0x00}));
    EXPECT_EQ(sim::frames()[0].in, (Bytes{0x00, 0x00}));
    EXPECT_EQ(sim::frames()[1].out, Bytes(7, 0));
    EXPECT_EQ(sim::frames()[1].in[1], 0xC0) << "GET_SYS_STATE before POWER_UP: ERR_CMD";
    EXPECT_EQ(sim::frames()[1].start_ns, sim::frames()[0].end_ns);
    EXPECT_EQ(sim::stats().frames, 2U);
    EXPECT_EQ(sim::stats().bytes, 9U);
    EXPECT_EQ(sim::stats().commands[0x09], 1U);
    EXPECT_EQ(sim::stats().commands[0x00], 1U);
}

TEST_F(BoardBus, TraceFileHasOneLinePerFrame) {
    const std::string path =
        (std::filesystem::temp_directory_path() / ("trace-" + std::to_string(::getpid()))).string();
    std::remove(path.c_str());
    open_bus();
    reset_pulse();
    sim::trace_to(path);
    transfer({0x09, 0x00});
    transfer(Bytes(7, 0));
    sim::reset_for_test(); // closes the file
    std::ifstream file(path);
    std::string first;
    std::string second;
    std::getline(file, first);
    std::getline(file, second);
    EXPECT_EQ(first, "250000.000 250002.048 0900 | 0000");
    // CTS and ERR_CMD: GET_SYS_STATE is not taken before POWER_UP.
    EXPECT_EQ(second, "250002.048 250009.216 00000000000000 | 00c00000000000");
    std::string more;
    EXPECT_FALSE(std::getline(file, more));

    // The board's reader gives the frames back as they went over the wire.
    const auto frames = sim::read_trace(path);
    ASSERT_EQ(frames.size(), 2U);
    EXPECT_DOUBLE_EQ(frames[0].start_us, 250000.000);
    EXPECT_DOUBLE_EQ(frames[1].start_us, 250002.048);
    EXPECT_DOUBLE_EQ(frames[1].end_us, 250009.216);
    EXPECT_EQ(frames[0].out, (Bytes{0x09, 0x00}));
    EXPECT_EQ(frames[0].opcode(), 0x09);
    EXPECT_EQ(frames[1].in, (Bytes{0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00}));
    // A line cut short or damaged is not read as a frame.
    for (const char *damaged :
         {"250000.000 250002.048 0900 |", "250000.000 250002.048 090 | 000",
          "250000.000 0900 | 0000", "250000.0 250002.048 0900 | 0000",
          "250000.000 250002.048 09x0 | 0000", "250000.000 250002.048 0900 | 00", ""}) {
        EXPECT_FALSE(sim::parse_trace_line(damaged).has_value()) << damaged;
    }
    std::remove(path.c_str());
}

TEST_F(BoardBus, CallRecordCanBeClearedAndSwitchedOff) {
    bcm2835_init();
    bcm2835_delay(3);
    EXPECT_EQ(sim::calls(), (std::vector<std::string>{"bcm2835_init()", "bcm2835_delay(3)"}));
    sim::clear_calls();
    sim::record_calls(false);
    bcm2835_delayMicroseconds(7);
    EXPECT_TRUE(sim::calls().empty());
    sim::record_calls(true);
    bcm2835_spi_setChipSelectPolarity(0, 0);
    bcm2835_delayMicroseconds(7);
    EXPECT_EQ(sim::calls(), (std::vector<std::string>{"bcm2835_spi_setChipSelectPolarity(0,0)",
                                                      "bcm2835_delayMicroseconds(7)"}));
}

} // namespace
