// SPDX-License-Identifier: GPL-3.0-or-later
// The command exchange: clear-to-send polling, status checks, the reply read,
// statuses and location codes, and the byte utilities.
#include <array>

#include "DriverTest.h"

namespace driver_test {
namespace {

const Bytes SEVEN_ZEROS(7, 0x00);

class TransportTest : public DriverTest {};

TEST_F(TransportTest, CtsAtFirstPollCostsOneStatusReadAndNoDelay) {
    sim::set_busy_ns(0x09, 0);
    uint8_t command[2] = {0x09, 0x00};
    EXPECT_EQ(Si468x_send_cmd(command, nullptr, 2, 0), 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x09, 0x00}, SEVEN_ZEROS}));
    EXPECT_EQ(delay_calls(), 0u);
}

TEST_F(TransportTest, ReplyIsReadFromItsStartWithZerosOnTheWire) {
    sim::set_busy_ns(0x09, 0);
    sim::script_reply(0x09, ok_reply({0x02, 0x5A}));
    uint8_t command[2] = {0x09, 0x00};
    std::array<uint8_t, 8> response{};
    response.fill(0xEE);
    ASSERT_EQ(Si468x_send_cmd(command, response.data(), 2, 7), 0);
    // Command, one CTS poll, the reply: each read sends RD_REPLY and zeros.
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x09, 0x00}, SEVEN_ZEROS, SEVEN_ZEROS}));
    EXPECT_EQ(response[1], 0x80);
    EXPECT_EQ(response[4], 0xC0);
    EXPECT_EQ(response[5], 0x02);
    EXPECT_EQ(response[6], 0x5A);
    EXPECT_EQ(response[7], 0xEE); // nothing beyond the asked length
}

TEST_F(TransportTest, SlowChipIsPolledWithAGrowingWait) {
    // 10 ms busy: waits of 50, 1050, 2050, 3050 and 4050 us (10.25 ms) pass
    // before the sixth poll sees CTS.
    sim::set_busy_ns(0x09, 10'000'000);
    uint8_t command[2] = {0x09, 0x00};
    EXPECT_EQ(Si468x_send_cmd(command, nullptr, 2, 0), 0);
    EXPECT_EQ(read_sizes().size(), 6u);
    EXPECT_EQ(delay_calls(), 5u);
    EXPECT_EQ(delay_ns(), 10'250'000u);
    EXPECT_EQ(call_count("bcm2835_delayMicroseconds(4050)"), 1u);
}

TEST_F(TransportTest, NoCtsEndsAfterFiftyPollsAndTheLastWait) {
    ASSERT_TRUE(sim::set_faults("busy=0x09"));
    const double start_ms = sim::now_ms();
    uint8_t command[2] = {0x09, 0x00};
    EXPECT_EQ(Si468x_send_cmd(command, nullptr, 2, 0), -3);
    EXPECT_EQ(Si468x_ErrorCode, 160);
    EXPECT_EQ(commands().size(), 1u);
    EXPECT_EQ(read_sizes(), std::vector<std::size_t>(50, 7));
    // 50 waits: 50 us growing by 1 ms, the one after the 50th poll included.
    EXPECT_EQ(delay_calls(), 50u);
    EXPECT_EQ(delay_ns(), 1'227'500'000u);
    EXPECT_EQ(call_count("bcm2835_delayMicroseconds(49050)"), 1u);
    EXPECT_GE(sim::now_ms() - start_ms, 1227.5);
}

TEST_F(TransportTest, TimeOutInsideAnOperationReportsTheOperation) {
    ASSERT_TRUE(sim::set_faults("busy=0x09"));
    Si468x_ChipInfo info{};
    EXPECT_EQ(Si468x_get_sys_state(&info), -3);
    EXPECT_EQ(Si468x_ErrorCode, 12);
}

struct StatusCase {
    uint8_t status0;
    uint8_t status3;
    int16_t expected;
};

class StatusAtCtsTest : public TransportTest, public ::testing::WithParamInterface<StatusCase> {};

// Error bits seen in the poll that brought CTS stop the exchange before the
// reply is read.
TEST_P(StatusAtCtsTest, ErrorBitsAfterCtsFailAt260WithoutReadingTheReply) {
    const StatusCase c = GetParam();
    sim::script_reply(0x09, reply(c.status0, c.status3, {0x02}));
    uint8_t command[2] = {0x09, 0x00};
    uint8_t response[7] = {};
    EXPECT_EQ(Si468x_send_cmd(command, response, 2, 7), c.expected);
    EXPECT_EQ(Si468x_ErrorCode, 260);
    EXPECT_EQ(read_sizes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Bits, StatusAtCtsTest,
                         ::testing::Values(StatusCase{0xC0, 0xC0, -2}, // ERR_CMD
                                           StatusCase{0x80, 0xC2, -1}, // ARBERR
                                           StatusCase{0x80, 0xC4, -1}, // CMDOFERR
                                           StatusCase{0x80, 0xC8, -1}, // REPOFERR
                                           StatusCase{0x80, 0xC1, -2}, // ERRNR
                                           StatusCase{0xC0, 0xCF, -2}  // ERR_CMD first
                                           ));

TEST_F(TransportTest, BitsOutsideTheErrorMasksDoNotFail) {
    // STCINT and other STATUS0 bits, PUP_STATE and bits 5:4 of STATUS3.
    sim::script_reply(0x09, reply(0xBF, 0xF0, {0x02}));
    uint8_t command[2] = {0x09, 0x00};
    uint8_t response[7] = {};
    EXPECT_EQ(Si468x_send_cmd(command, response, 2, 7), 0);
    EXPECT_EQ(read_sizes().size(), 2u);
}

TEST(CheckStatusBits, FirstHitWinsInTheOrderErrCmdOverflowsErrnr) {
    struct Case {
        uint8_t status0;
        uint8_t status3;
        int16_t expected;
        int32_t location;
    };
    const Case cases[] = {
        {0x40, 0x0F, -2, 58},  // ERR_CMD before the STATUS3 bits
        {0x80, 0x0F, -1, 158}, // overflows before ERRNR
        {0x80, 0x02, -1, 158}, {0x80, 0x04, -1, 158}, {0x80, 0x08, -1, 158},
        {0x80, 0x01, -2, 258}, {0x00, 0xF0, 0, -7}, // CTS is not looked at
        {0xBF, 0xC0, 0, -7},
    };
    for (const Case &c : cases) {
        Si468x_ErrorCode = -7;
        const uint8_t bytes[5] = {0x00, c.status0, 0x00, 0x00, c.status3};
        EXPECT_EQ(Si468x_check_status_bits(bytes), c.expected)
            << std::hex << +c.status0 << " " << +c.status3;
        EXPECT_EQ(Si468x_ErrorCode, c.location) << std::hex << +c.status0 << " " << +c.status3;
    }
}

TEST_F(TransportTest, NullReplyBufferIsFineOnlyWhenNoReplyIsWanted) {
    uint8_t command[2] = {0x09, 0x00};
    EXPECT_EQ(Si468x_send_cmd(command, nullptr, 2, 0), 0);
    sim::clear_frames();

    command[0] = 0x09;
    command[1] = 0x00;
    EXPECT_EQ(Si468x_send_cmd(command, nullptr, 2, 7), -6);
    EXPECT_EQ(Si468x_ErrorCode, 360);
    // The command went out and was accepted; only the reply read is missing.
    ASSERT_EQ(commands().size(), 1u);
    EXPECT_EQ(commands()[0], (Bytes{0x09, 0x00}));
    EXPECT_FALSE(read_sizes().empty());
    EXPECT_EQ(sim::frames().back().in.at(1) & 0x80, 0x80);
}

// The status is read again with the reply: bits that come up between the
// clear-to-send poll and the reply fail the exchange there, with the reply
// already in the caller's buffer.
TEST_P(StatusAtCtsTest, ErrorBitsOnlyInTheReplyFailAt560) {
    const StatusCase c = GetParam();
    sim::script_reads(0x09, {ok_reply({0x02}), reply(c.status0, c.status3, {0x5A})});
    uint8_t command[2] = {0x09, 0x00};
    uint8_t response[7] = {};
    EXPECT_EQ(Si468x_send_cmd(command, response, 2, 7), c.expected);
    EXPECT_EQ(Si468x_ErrorCode, 560);
    EXPECT_EQ(read_sizes(), (std::vector<std::size_t>{7, 7}));
    EXPECT_EQ(response[5], 0x5A);
}

TEST_F(TransportTest, ReplyTooShortForStatus3IsNotCheckedAgain) {
    sim::script_reads(0x09, {status_bytes(0x80, 0xC0), status_bytes(0xC0, 0xC1)});
    uint8_t command[2] = {0x09, 0x00};
    uint8_t response[4] = {};
    EXPECT_EQ(Si468x_send_cmd(command, response, 2, 4), 0);
    EXPECT_EQ(read_sizes(), (std::vector<std::size_t>{7, 4}));
    EXPECT_EQ(response[1], 0xC0) << "ERR_CMD reached the caller unchecked";

    // One byte longer holds STATUS3: the same reply fails. (The exchange
    // reads into the command buffer: it is written anew.)
    sim::script_reads(0x09, {status_bytes(0x80, 0xC0), status_bytes(0xC0, 0xC1)});
    uint8_t again[2] = {0x09, 0x00};
    uint8_t longer[5] = {};
    EXPECT_EQ(Si468x_send_cmd(again, longer, 2, 5), -2);
    EXPECT_EQ(Si468x_ErrorCode, 560);
}

TEST_F(TransportTest, RdReplyChecksStatusWithoutSendingACommand) {
    uint8_t status[7] = {};
    EXPECT_EQ(Si468x_rd_reply(status), 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{SEVEN_ZEROS}));
    EXPECT_EQ(status[1] & 0x80, 0x80);
    EXPECT_EQ(status[4], 0xC0);
}

TEST_F(TransportTest, RdReplyWithErrCmdFailsAt114) {
    // A rejected command leaves ERR_CMD in the status for the next read.
    sim::script_reply(0x09, reply(0xC0, 0xC0));
    uint8_t command[2] = {0x09, 0x00};
    ASSERT_EQ(Si468x_send_cmd(command, nullptr, 2, 0), -2);
    sim::clear_frames();

    uint8_t status[7] = {};
    EXPECT_EQ(Si468x_rd_reply(status), -2);
    EXPECT_EQ(Si468x_ErrorCode, 114);
    EXPECT_EQ(sent(), (std::vector<Bytes>{SEVEN_ZEROS}));
}

TEST_F(TransportTest, SuccessLeavesTheLastFailureCode) {
    Si468x_ChipInfo info{};
    sim::script_reply(0x09, reply(0xC0, 0xC0));
    ASSERT_EQ(Si468x_get_sys_state(&info), -2);
    EXPECT_EQ(Si468x_get_sys_state(&info), 0);
    EXPECT_EQ(Si468x_get_part_info(&info), 0);
    EXPECT_EQ(Si468x_ErrorCode, 12);
}

TEST(ByteUtilities, CountZeroTouchesNothing) {
    std::array<uint8_t, 4> buffer{1, 2, 3, 4};
    const std::array<uint8_t, 4> source{9, 9, 9, 9};
    Si468x_clear_array(buffer.data(), 0);
    Si468x_byte_array_copy(buffer.data(), source.data(), 0);
    EXPECT_EQ(buffer, (std::array<uint8_t, 4>{1, 2, 3, 4}));
}

TEST(ByteUtilities, ClearAndCopyStayWithinTheCount) {
    std::array<uint8_t, 6> buffer{1, 2, 3, 4, 5, 6};
    Si468x_clear_array(buffer.data() + 1, 3);
    EXPECT_EQ(buffer, (std::array<uint8_t, 6>{1, 0, 0, 0, 5, 6}));
    const std::array<uint8_t, 3> source{7, 8, 9};
    Si468x_byte_array_copy(buffer.data() + 2, source.data(), 3);
    EXPECT_EQ(buffer, (std::array<uint8_t, 6>{1, 0, 7, 8, 9, 6}));
}

TEST(ByteUtilities, CopyRunsFromTheLastByteSoAShiftUpwardsIsSafe) {
    // Copying from the last byte down, a destination above an overlapping
    // source still receives the original bytes.
    std::array<uint8_t, 6> buffer{1, 2, 3, 4, 5, 6};
    Si468x_byte_array_copy(buffer.data() + 2, buffer.data(), 4);
    EXPECT_EQ(buffer, (std::array<uint8_t, 6>{1, 2, 1, 2, 3, 4}));
}

} // namespace
} // namespace driver_test
