// SPDX-License-Identifier: GPL-3.0-or-later
// The board link's kernel path on a simulated Pi 5: the system calls it
// makes, the bus settings and reset line it leaves, its framing, and the
// failing transfer that the driver turns into its link-error codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Si468x.h"
#include "Si468x_SPI.h"
#include "SimBoard.h"
#include "scratch_dir.h"

namespace {

using Calls = std::vector<std::string>;

const Calls kernel_claim_calls = {
    "ioctl(spidev0.0,SPI_IOC_WR_MODE,0)",
    "ioctl(spidev0.0,SPI_IOC_WR_LSB_FIRST,0)",
    "ioctl(spidev0.0,SPI_IOC_WR_BITS_PER_WORD,8)",
    "ioctl(spidev0.0,SPI_IOC_WR_MAX_SPEED_HZ,7812500)",
};

std::size_t count_calls(const std::string &prefix) {
    return static_cast<std::size_t>(
        std::count_if(sim::calls().begin(), sim::calls().end(),
                      [&](const std::string &call) { return call.rfind(prefix, 0) == 0; }));
}

class KernelLink : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        sim::set_pi_model(sim::PiModel::Pi5);
    }
    void TearDown() override { Si468x_SPI_shutdown(); }
};

TEST_F(KernelLink, OpenClaimsSpidevAndTheNamedResetLineWithoutChangingIt) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    // The header's pins are on the fifth GPIO chip; the four before it are
    // searched and closed again.
    const Calls expected = {
        "open(spidev0.0)",
        "open(gpiochip0)",
        "ioctl(gpiochip0,GPIO_GET_CHIPINFO)",
        "close(gpiochip0)",
        "open(gpiochip1)",
        "ioctl(gpiochip1,GPIO_GET_CHIPINFO)",
        "close(gpiochip1)",
        "open(gpiochip2)",
        "ioctl(gpiochip2,GPIO_GET_CHIPINFO)",
        "close(gpiochip2)",
        "open(gpiochip3)",
        "ioctl(gpiochip3,GPIO_GET_CHIPINFO)",
        "close(gpiochip3)",
        "open(gpiochip4)",
        "ioctl(gpiochip4,GPIO_GET_CHIPINFO)",
        "ioctl(gpiochip4,GPIO_V2_GET_LINE,23)",
        "ioctl(line,GPIO_V2_LINE_GET_VALUES,0)",
        "ioctl(line,GPIO_V2_LINE_SET_CONFIG,out=0)",
        "close(gpiochip4)",
    };
    Calls all = expected;
    all.insert(all.end(), kernel_claim_calls.begin(), kernel_claim_calls.end());
    EXPECT_EQ(sim::calls(), all);

    const sim::SpidevSettings spi = sim::spidev_settings();
    EXPECT_EQ(spi.mode, 0);
    EXPECT_EQ(spi.lsb_first, 0);
    EXPECT_EQ(spi.bits_per_word, 8);
    EXPECT_EQ(spi.max_speed_hz, 7'812'500U);
    EXPECT_EQ(sim::pin(23).function, 1);
    EXPECT_FALSE(sim::pin(23).level);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    // GPIO 7 is the SPI controller's CE1 here: the link leaves it alone.
    EXPECT_EQ(sim::pin(7).pud, 0);
    EXPECT_EQ(sim::open_descriptors(), 2U);
}

TEST_F(KernelLink, OpenLeavesARunningChipRunning) {
    sim::set_chip_running();
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    EXPECT_EQ(count_calls("ioctl(line,GPIO_V2_LINE_SET_VALUES"), 0U);
    EXPECT_EQ(count_calls("ioctl(line,GPIO_V2_LINE_SET_CONFIG,out=1)"), 1U);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_TRUE(sim::pin(23).level);
    uint8_t status[7] = {};
    ASSERT_EQ(Si468x_SPI_RW_data(status, 7), 0);
    EXPECT_EQ(status[1], 0x80);
    EXPECT_EQ(status[4], 0xC0);
}

TEST_F(KernelLink, EveryCallIsOneFrameWithChipSelectHeldThroughout) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_SPI_RSTB_high();
    sim::record_frames(true);
    sim::clear_calls();
    uint8_t buffer[9] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    ASSERT_EQ(Si468x_SPI_RW_data(buffer, 9), 0);
    EXPECT_EQ(sim::calls(), (Calls{"ioctl(spidev0.0,SPI_IOC_MESSAGE,9)"}));
    ASSERT_EQ(sim::frames().size(), 1U);
    const sim::Frame &frame = sim::frames()[0];
    EXPECT_TRUE(frame.reached_chip);
    EXPECT_EQ(frame.out,
              (std::vector<uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(frame.in, std::vector<uint8_t>(buffer, buffer + 9));
    EXPECT_EQ(buffer[1], 0x80) << "STATUS0 with CTS, fresh out of reset";
    // 7.8125 MHz: 1.024 us a byte, as on the bcm2835 path.
    EXPECT_EQ(frame.end_ns - frame.start_ns, 9U * 1024U);
}

TEST_F(KernelLink, TransfersUpToTheSpidevBufferAreOneFrameAndLongerOnesKeepTheirHead) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_SPI_RSTB_high();
    sim::record_frames(true);
    std::vector<uint8_t> chunk(4096, 0xA5);
    chunk[0] = 0x00;
    ASSERT_EQ(Si468x_SPI_RW_data(chunk.data(), 4096), 0);
    ASSERT_EQ(sim::frames().size(), 1U);
    EXPECT_EQ(sim::frames()[0].out.size(), 4096U);

    // The data-service read: one frame of 4096 bytes, the rest read as zeros.
    sim::clear_frames();
    std::vector<uint8_t> read(4121, 0x5A);
    read[0] = 0x00;
    ASSERT_EQ(Si468x_SPI_RW_data(read.data(), 4121), 0);
    ASSERT_EQ(sim::frames().size(), 1U);
    EXPECT_EQ(sim::frames()[0].out.size(), 4096U);
    EXPECT_EQ(read[1], 0x80);
    EXPECT_TRUE(std::all_of(read.begin() + 4096, read.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(KernelLink, ReleaseClosesSpidevAndAClaimAppliesTheSettingsAgain) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    for (int round = 0; round < 3; ++round) {
        sim::clear_calls();
        Si468x_SPI_disable();
        EXPECT_EQ(sim::calls(), (Calls{"close(spidev0.0)"}));
        EXPECT_EQ(sim::open_descriptors(), 1U) << "the reset line stays requested";
        uint8_t byte = 0;
        EXPECT_EQ(Si468x_SPI_RW_data(&byte, 1), -1) << "no bus while released";
        sim::clear_calls();
        ASSERT_EQ(Si468x_SPI_enable(), 0);
        Calls expected = {"open(spidev0.0)"};
        expected.insert(expected.end(), kernel_claim_calls.begin(), kernel_claim_calls.end());
        EXPECT_EQ(sim::calls(), expected);
    }
}

TEST_F(KernelLink, ResetLineLevelsReachTheChipAndOutliveTheClose) {
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    sim::clear_calls();
    Si468x_SPI_RSTB_high();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    Si468x_SPI_RSTB_low();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    Si468x_SPI_RSTB_high();
    EXPECT_EQ(sim::calls(), (Calls{"ioctl(line,GPIO_V2_LINE_SET_VALUES,1)",
                                   "ioctl(line,GPIO_V2_LINE_SET_VALUES,0)",
                                   "ioctl(line,GPIO_V2_LINE_SET_VALUES,1)"}));
    // The close ends the line request; the Pi 5's pin controller keeps the
    // released output driving, so the chip runs on.
    Si468x_SPI_shutdown();
    EXPECT_EQ(sim::open_descriptors(), 0U);
    EXPECT_FALSE(sim::reset_line_requested());
    EXPECT_EQ(sim::pin(23).function, 1);
    EXPECT_TRUE(sim::pin(23).level);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    // After the close the link leaves the line alone.
    sim::clear_calls();
    Si468x_SPI_RSTB_low();
    EXPECT_TRUE(sim::calls().empty());
}

// What the link relies on, shown the other way round: a pin controller that
// returns a released line to an input hands RSTB to the board's pull-down.
TEST_F(KernelLink, AControllerThatReleasesToInputWouldResetTheChipAtClose) {
    ASSERT_TRUE(sim::set_faults("line-release-input"));
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_SPI_RSTB_high();
    ASSERT_EQ(sim::chip_state(), sim::ChipState::WaitingPowerUp);
    Si468x_SPI_shutdown();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
}

TEST_F(KernelLink, MissingDeviceNodeFailsBeforeAnyLineIsTouched) {
    sim::set_spidev_present(false);
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::calls(), (Calls{"lock(spidev0.0)=-1"}));

    sim::reset_for_test();
    sim::set_pi_model(sim::PiModel::Pi5);
    ASSERT_TRUE(sim::set_faults("no-spidev"));
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::calls(), (Calls{"lock(spidev0.0)=-1"}));
    EXPECT_EQ(sim::pin(23).function, 0);
}

TEST_F(KernelLink, ABusyResetLineFailsTheOpenAndClosesEverything) {
    ASSERT_TRUE(sim::set_faults("init-fail"));
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::open_descriptors(), 0U);
    EXPECT_EQ(sim::pin(23).function, 0);
    EXPECT_EQ(count_calls("ioctl(spidev0.0,SPI_IOC_WR"), 0U) << "no setting applied";
    // The failure exit's power-down after a failed open touches nothing.
    sim::clear_calls();
    Si468x_SPI_RSTB_low();
    Si468x_SPI_disable();
    EXPECT_EQ(Si468x_SPI_enable(), -1);
    uint8_t buffer[3] = {1, 2, 3};
    EXPECT_EQ(Si468x_SPI_RW_data(buffer, 3), -1) << "no bus to transfer on";
    Si468x_SPI_shutdown();
    EXPECT_TRUE(sim::calls().empty()) << ::testing::PrintToString(sim::calls());
}

TEST_F(KernelLink, AnInaccessibleSpiBlockFailsTheOpen) {
    ASSERT_TRUE(sim::set_faults("spi-fail"));
    EXPECT_EQ(Si468x_SPI_setup(), -1);
    EXPECT_EQ(sim::open_descriptors(), 0U);
    EXPECT_EQ(count_calls("open(gpiochip"), 0U);
}

// A transfer whose ioctl fails returns -1, and the driver's link-error
// statuses and location codes fire: the write of a command (57, then 59 in
// the exchange), a status read (56, then 1059 in the first poll), a reply
// read (56, then 460).
struct TransferFailure {
    const char *fault;
    uint16_t reply_length;
    int32_t code;
};

TEST_F(KernelLink, AFailingTransferGivesTheDriversLinkErrorCodes) {
    const std::vector<TransferFailure> cases = {
        {"transfer-fail=0x08", 0, 59},   // GET_PART_INFO's own write
        {"transfer-fail=0x00", 0, 1059}, // the first clear-to-send poll
    };
    for (const auto &c : cases) {
        sim::reset_for_test();
        sim::set_pi_model(sim::PiModel::Pi5);
        ASSERT_EQ(Si468x_SPI_setup(), 0);
        Si468x_SPI_RSTB_high();
        ASSERT_TRUE(sim::set_faults(c.fault));
        uint8_t command[2] = {0x08, 0x00};
        uint8_t reply[23] = {};
        Si468x_ErrorCode = 0;
        EXPECT_EQ(Si468x_send_cmd(command, reply, 2, c.reply_length), -1) << c.fault;
        EXPECT_EQ(Si468x_ErrorCode, c.code) << c.fault;
        Si468x_SPI_shutdown();
    }

    sim::reset_for_test();
    sim::set_pi_model(sim::PiModel::Pi5);
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    ASSERT_TRUE(sim::set_faults("transfer-fail=0x00"));
    uint8_t status[7] = {};
    EXPECT_EQ(Si468x_read_reply(status, 7), -1);
    EXPECT_EQ(Si468x_ErrorCode, 56);
    uint8_t command[2] = {0x08, 0x00};
    EXPECT_EQ(Si468x_send_cmd_simple(command, 2), 0) << "only reads fail";
    EXPECT_EQ(Si468x_SPI_RW_data(status, 7), -1);
}

// The same fault on the bcm2835 path, where a transfer cannot report a
// failure: the frame does not reach the chip and the host reads zeros.
TEST(Bcm2835Link, AFailingTransferReadsZerosThere) {
    sim::reset_for_test();
    ASSERT_EQ(Si468x_SPI_setup(), 0);
    Si468x_SPI_RSTB_high();
    ASSERT_TRUE(sim::set_faults("transfer-fail=0x00"));
    sim::record_frames(true);
    uint8_t status[7] = {0, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Si468x_SPI_RW_data(status, 7), 0);
    ASSERT_EQ(sim::frames().size(), 1U);
    EXPECT_FALSE(sim::frames()[0].reached_chip);
    EXPECT_EQ(status[1], 0x00);
    Si468x_SPI_shutdown();
}

// The same exchange on a Pi 4 and a Pi 5 board: byte for byte and
// nanosecond for nanosecond the same wire trace and the same statistics.
struct WireRecord {
    std::string trace;
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t resets = 0;
    uint64_t reset_releases = 0;
    uint64_t delay_ns = 0;
};

WireRecord exchange_on(sim::PiModel model, const std::string &trace) {
    sim::reset_for_test();
    sim::set_pi_model(model);
    std::remove(trace.c_str());
    sim::trace_to(trace);
    EXPECT_EQ(Si468x_bus_init(), 0);
    Si468x_reset();
    uint8_t command[2] = {0x09, 0x00}; // GET_SYS_STATE
    uint8_t reply[6] = {};
    Si468x_send_cmd(command, reply, 2, 6);
    Si468x_power_down();
    sim::trace_to("");
    WireRecord record;
    record.trace = tunelark::test::read_file(trace);
    const sim::Stats &stats = sim::stats();
    record.frames = stats.frames;
    record.bytes = stats.bytes;
    record.resets = stats.resets;
    record.reset_releases = stats.reset_releases;
    record.delay_ns = stats.delay_ns;
    return record;
}

TEST(BothPaths, PutTheSameTraceAndStatisticsOnTheWire) {
    const std::string trace = ::testing::TempDir() + "/both-paths.trace";
    const WireRecord bcm = exchange_on(sim::PiModel::Pi4, trace);
    const WireRecord kernel = exchange_on(sim::PiModel::Pi5, trace);
    std::remove(trace.c_str());
    EXPECT_EQ(bcm.frames, 2U) << "the command and its clear-to-send poll";
    EXPECT_NE(bcm.trace.find(" 09"), std::string::npos) << bcm.trace;
    EXPECT_EQ(kernel.trace, bcm.trace);
    EXPECT_EQ(kernel.frames, bcm.frames);
    EXPECT_EQ(kernel.bytes, bcm.bytes);
    EXPECT_EQ(kernel.resets, bcm.resets);
    EXPECT_EQ(kernel.reset_releases, bcm.reset_releases);
    EXPECT_EQ(kernel.delay_ns, bcm.delay_ns);
}

} // namespace
