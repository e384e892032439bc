// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's transport: CTS a busy time after the command's last byte,
// RD_REPLY always from the start, commands written while busy, ERR_CMD and
// scripted replies.
#include <gtest/gtest.h>

#include "BusHost.h"
#include "SimBoard.h"

using namespace bus_host;

namespace {

class ChipTransport : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        open_bus();
        reset_pulse();
        ASSERT_EQ(status3(command(power_up_bytes, 5)), 0x80);
    }

    // A read whose status the chip latches exactly at `at_ns` (the end of the
    // read's opcode byte, 1.024 µs after chip select at divider 32).
    static Bytes read_latched_at(uint64_t at_ns, std::size_t n) {
        const uint64_t start = at_ns - 1024;
        EXPECT_LE(sim::now_ns(), start);
        sim::clock().sleep_ns(start - sim::now_ns());
        return read(n);
    }
};

TEST_F(ChipTransport, CtsComesExactlyBusyNsAfterTheLastByte) {
    sim::set_busy_ns(0x08, 100'000);
    transfer({0x08, 0x00});
    const Bytes early = read_latched_at(sim::now_ns() + 99'999, 2);
    EXPECT_EQ(early[1], 0x00);
    wait_cts();
    transfer({0x08, 0x00});
    const Bytes ready = read_latched_at(sim::now_ns() + 100'000, 2);
    EXPECT_EQ(ready[1], 0x80);
}

TEST_F(ChipTransport, WhileBusyTheReplyReadsAsZerosButTheStatusIsLive) {
    sim::ChipIdentity identity;
    identity.chip_rev = 0x42;
    sim::set_identity(identity);
    sim::set_busy_ns(0x08, 1'000'000);
    transfer({0x08, 0x00});
    const Bytes busy = read(24);
    EXPECT_EQ(busy[1], 0x00);
    EXPECT_EQ(status3(busy), 0x80) << "the boot loader shows through the busy time";
    for (std::size_t k = 5; k < busy.size(); ++k) {
        EXPECT_EQ(busy[k], 0) << k;
    }
    const Bytes ready = wait_cts();
    EXPECT_EQ(ready[1], 0x80);
    EXPECT_EQ(read(24)[5], 0x42);
}

TEST_F(ChipTransport, EveryReadStartsFromTheStatusAndPadsWithZeros) {
    transfer({0x09, 0x00});
    const Bytes short_read = read(7);
    const Bytes long_read = read(40);
    EXPECT_EQ(short_read[0], 0x00) << "nothing is clocked out under the RD_REPLY opcode";
    for (std::size_t k = 0; k < short_read.size(); ++k) {
        EXPECT_EQ(long_read[k], short_read[k]) << k;
    }
    // GET_SYS_STATE answers RESP4 and RESP5; the rest of a longer read is zero.
    for (std::size_t k = 7; k < long_read.size(); ++k) {
        EXPECT_EQ(long_read[k], 0) << k;
    }
    EXPECT_EQ(read(1), Bytes{0x00});
}

TEST_F(ChipTransport, CommandWrittenWhileBusyIsLostAndFlagsCmdOfErr) {
    sim::set_busy_ns(0x08, 500'000);
    sim::ChipIdentity identity;
    identity.chip_rev = 0x42;
    sim::set_identity(identity);
    transfer({0x08, 0x00});
    transfer({0x09, 0x00}); // the host did not wait for CTS
    const Bytes status = wait_cts();
    EXPECT_EQ(status3(status) & 0x04, 0x04);
    // The reply is still GET_PART_INFO's: GET_SYS_STATE never ran.
    EXPECT_EQ(read(24)[5], 0x42);
    // The next accepted command clears the flag.
    const Bytes next = command({0x09, 0x00}, 7);
    EXPECT_EQ(status3(next), 0x80);
    EXPECT_EQ(next[5], 0x00);
}

TEST_F(ChipTransport, ErrCmdLastsUntilTheNextAcceptedCommand) {
    EXPECT_TRUE(err_cmd(command({0x55, 0x00}, 5)));
    EXPECT_TRUE(err_cmd(read(5))) << "reading again does not clear it";
    EXPECT_TRUE(err_cmd(command({0x08, 0x01}, 5)));
    EXPECT_FALSE(err_cmd(command({0x08, 0x00}, 5)));
}

TEST_F(ChipTransport, WrongLengthsAndArgumentBytesAreRejected) {
    const std::vector<Bytes> wrong = {
        {0x08},
        {0x08, 0x00, 0x00},
        {0x08, 0x01},
        {0x09, 0x00, 0x00},
        {0x09, 0x80},
        {0x06, 0x01},
        {0x06},
        {0x07, 0x01},
        {0x07, 0x00, 0x00},
    };
    for (const Bytes &cmd : wrong) {
        SCOPED_TRACE(::testing::PrintToString(cmd));
        EXPECT_TRUE(err_cmd(command(cmd, 5)));
    }
    EXPECT_EQ(sim::chip_state(), sim::ChipState::BootLoader);
}

TEST_F(ChipTransport, ScriptedReplyIsReturnedExactlyInsteadOfExecuting) {
    sim::script_reply(0x07, {0x80, 0x11, 0x22, 0xC0, 0x05, 0x06});
    transfer({0x07, 0x00});
    const Bytes first = read(9);
    EXPECT_EQ(first, (Bytes{0x00, 0x80, 0x11, 0x22, 0xC0, 0x05, 0x06, 0x00, 0x00}));
    EXPECT_EQ(read(9), first);
    // The scripted BOOT did not run: no upload happened, and nothing boots.
    EXPECT_EQ(sim::chip_state(), sim::ChipState::BootLoader);
    EXPECT_EQ(status3(command({0x09, 0x00}, 7)), 0x80);
}

TEST_F(ChipTransport, ScriptsQueuePerOpcodeAndAreUsedOncePerCommand) {
    sim::script_reply(0x09, {0x80, 0, 0, 0x80, 0x07});
    sim::script_reply(0x08, {0xC0, 0, 0, 0x80, 0x99});
    sim::script_reply(0x09, {0x80, 0, 0, 0x80, 0x03});
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 0x07);
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 0x03);
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 0x00) << "scripts used up: the model answers";
    const Bytes part = command({0x08, 0x00}, 7);
    EXPECT_TRUE(err_cmd(part));
    EXPECT_EQ(part[5], 0x99);
    sim::script_reply(0x09, {0x80});
    sim::clear_scripts();
    EXPECT_EQ(command({0x09, 0x00}, 7)[4], 0x80);
}

TEST_F(ChipTransport, ScriptWithoutCtsNeverCompletes) {
    sim::script_reply(0x08, {0x00, 0, 0, 0x80});
    transfer({0x08, 0x00});
    EXPECT_FALSE(cts(wait_cts(5)));
    // A later command is taken, as the host decided to move on.
    EXPECT_TRUE(cts(command({0x09, 0x00})));
}

} // namespace
