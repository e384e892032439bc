// SPDX-License-Identifier: GPL-3.0-or-later
// Frequency list, tuning with its wait for tune complete, reception status,
// event status, ensemble time, and their printouts.
#include <array>
#include <cstring>

#include "DriverTest.h"

namespace driver_test {
namespace {

class TuningTest : public DriverTest {};

// DAB_GET_FREQ_LIST reply: count at position 5, frequencies from 9.
Bytes freq_list_reply(const std::vector<uint32_t> &frequencies, uint8_t count) {
    Bytes resp(4 + 4 * frequencies.size(), 0xEE);
    resp[0] = count;
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        put_u32(resp, 4 + 4 * i, frequencies[i]);
    }
    return ok_reply(resp);
}

void script_freq_list(const std::vector<uint32_t> &frequencies) {
    const auto count = static_cast<uint8_t>(frequencies.size());
    sim::script_reply(0xB9, freq_list_reply({}, count));
    sim::script_reply(0xB9, freq_list_reply(frequencies, count));
}

TEST_F(TuningTest, FrequencyListIsReadInTwoSteps) {
    script_freq_list({174928, 0x01020304, 239200});
    std::array<uint32_t, 64> frequencies{};
    uint8_t count = 99;
    ASSERT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), 64, &count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(frequencies[0], 174928u);
    EXPECT_EQ(frequencies[1], 0x01020304u);
    EXPECT_EQ(frequencies[2], 239200u);
    EXPECT_EQ(frequencies[3], 0u);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0xB9, 0x00}, {0xB9, 0x00}}));
    // Count read, then 4 x count + 9 bytes (CTS polls in between).
    const auto reads = read_sizes();
    ASSERT_GE(reads.size(), 4u);
    EXPECT_EQ(reads[1], 6u);
    EXPECT_EQ(reads.back(), 21u);
}

TEST_F(TuningTest, NoFrequenciesReadsNineBytesAndLeavesTheArray) {
    script_freq_list({});
    std::array<uint32_t, 4> frequencies{7, 7, 7, 7};
    uint8_t count = 99;
    ASSERT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), 4, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(read_sizes().back(), 9u);
    EXPECT_EQ(frequencies, (std::array<uint32_t, 4>{7, 7, 7, 7}));
}

TEST_F(TuningTest, CapacityCutsTheListButTheWholeReplyIsRead) {
    script_freq_list({1, 2, 3, 4, 5});
    std::array<uint32_t, 3> frequencies{9, 9, 9};
    uint8_t count = 0;
    ASSERT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), 2, &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(frequencies, (std::array<uint32_t, 3>{1, 2, 9}));
    EXPECT_EQ(read_sizes().back(), 29u);
}

TEST_F(TuningTest, LargestCountFitsTheReplyBuffer) {
    std::vector<uint32_t> all(255);
    for (uint32_t i = 0; i < 255; ++i) {
        all[i] = 170000 + i;
    }
    script_freq_list(all);
    std::array<uint32_t, 255> frequencies{};
    uint8_t count = 0;
    ASSERT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), 255, &count), 0);
    EXPECT_EQ(count, 255);
    EXPECT_EQ(frequencies[254], 170254u);
    EXPECT_EQ(read_sizes().back(), 4u * 255 + 9);
}

TEST_F(TuningTest, FailedCountReadZeroesTheCountAt19) {
    sim::script_reply(0xB9, reply(0xC0, 0xC0, {3}));
    uint32_t frequencies[4] = {};
    uint8_t count = 99;
    EXPECT_EQ(Si468x_DAB_get_freq_list(frequencies, 4, &count), -2);
    EXPECT_EQ(Si468x_ErrorCode, 19);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(TuningTest, FailedListReadKeepsTheCountAt119) {
    sim::script_reply(0xB9, freq_list_reply({}, 2));
    sim::script_reply(0xB9, reply(0x80, 0xC8, {2}));
    std::array<uint32_t, 4> frequencies{5, 5, 5, 5};
    uint8_t count = 0;
    EXPECT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), 4, &count), -1);
    EXPECT_EQ(Si468x_ErrorCode, 119);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(frequencies, (std::array<uint32_t, 4>{5, 5, 5, 5}));
}

TEST_F(TuningTest, BandThreeListIsOne168ByteCommand) {
    ASSERT_EQ(Si468x_DAB_set_freq_list(), 0);
    ASSERT_EQ(commands().size(), 1u);
    const Bytes command = commands()[0];
    ASSERT_EQ(command.size(), 168u);
    EXPECT_EQ(Bytes(command.begin(), command.begin() + 4), (Bytes{0xB8, 41, 0x00, 0x00}));
    auto frequency = [&](std::size_t i) {
        return static_cast<uint32_t>(command[4 + 4 * i] | command[5 + 4 * i] << 8 |
                                     command[6 + 4 * i] << 16 | command[7 + 4 * i] << 24);
    };
    EXPECT_EQ(frequency(0), 174928u);  // 5A
    EXPECT_EQ(frequency(21), 210096u); // 10N
    EXPECT_EQ(frequency(26), 217088u); // 11N
    EXPECT_EQ(frequency(31), 224096u); // 12N
    EXPECT_EQ(frequency(40), 239200u); // 13F
    // Block order is frequency order: a swapped or repeated entry shows.
    for (std::size_t i = 1; i < 41; ++i) {
        EXPECT_GT(frequency(i), frequency(i - 1)) << i;
    }
}

TEST_F(TuningTest, WrittenListReadsBackFromTheChip) {
    ASSERT_EQ(Si468x_DAB_set_freq_list(), 0);
    std::array<uint32_t, 64> frequencies{};
    uint8_t count = 0;
    ASSERT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), 64, &count), 0);
    EXPECT_EQ(count, 41);
    EXPECT_EQ(frequencies[0], 174928u);
    EXPECT_EQ(frequencies[40], 239200u);
}

TEST_F(TuningTest, RejectedSetFreqListFailsAt20) {
    sim::script_reply(0xB8, reply(0xC0, 0xC0));
    EXPECT_EQ(Si468x_DAB_set_freq_list(), -2);
    EXPECT_EQ(Si468x_ErrorCode, 20);
}

TEST_F(TuningTest, TuneCompleteAtTheFirstPollTakesNoWait) {
    sim::receiver_timing().tune_ns = 0;
    sim::set_busy_ns(0xB0, 0);
    EXPECT_EQ(Si468x_DAB_tune_freq(7), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0xB0, 0x00, 0x07, 0x00, 0x00, 0x00}}));
    // The CTS poll of the command, then one status read with STCINT.
    EXPECT_EQ(read_sizes().size(), 2u);
    EXPECT_EQ(call_count("bcm2835_delay(100)"), 0u);
    EXPECT_EQ(sim::tuned_index(), 7);
}

TEST_F(TuningTest, TuneWaitsInStepsOf100ms) {
    sim::receiver_timing().tune_ns = 250'000'000;
    sim::set_busy_ns(0xB0, 0);
    EXPECT_EQ(Si468x_DAB_tune_freq(3), 0);
    EXPECT_EQ(call_count("bcm2835_delay(100)"), 3u);
    EXPECT_EQ(read_sizes().size(), 5u);
}

TEST_F(TuningTest, NoTuneCompleteFailsAfter100PollsAnd100WaitsAt121) {
    ASSERT_TRUE(sim::set_faults("tune-timeout=5"));
    sim::set_busy_ns(0xB0, 0);
    const double start_ms = sim::now_ms();
    EXPECT_EQ(Si468x_DAB_tune_freq(5), -3);
    EXPECT_EQ(Si468x_ErrorCode, 121);
    EXPECT_EQ(read_sizes().size(), 1u + 100u);
    EXPECT_EQ(call_count("bcm2835_delay(100)"), 100u);
    EXPECT_GE(sim::now_ms() - start_ms, 10'000.0);
    EXPECT_LT(sim::now_ms() - start_ms, 10'100.0);
}

// Status reads of the tune wait, after the command's own clear-to-send poll.
std::vector<Bytes> tune_wait_reads(const std::vector<Bytes> &polls) {
    std::vector<Bytes> reads{status_bytes(0x80, 0xC0)};
    reads.insert(reads.end(), polls.begin(), polls.end());
    return reads;
}

const Bytes TUNE_PENDING = status_bytes(0x80, 0xC0);
const Bytes TUNE_COMPLETE = status_bytes(0x81, 0xC0); // STCINT
const Bytes STATUS_ERR_CMD = status_bytes(0xC0, 0xC0);
const Bytes STATUS_ERRNR = status_bytes(0x80, 0xC1);

TEST_F(TuningTest, FailedStatusReadsDoNotEndTheTuneWait) {
    sim::script_reads(0xB0, tune_wait_reads({STATUS_ERR_CMD, STATUS_ERRNR, STATUS_ERR_CMD,
                                             TUNE_PENDING, TUNE_COMPLETE}));
    EXPECT_EQ(Si468x_DAB_tune_freq(4), 0);
    EXPECT_EQ(read_sizes().size(), 1u + 5u);
    EXPECT_EQ(call_count("bcm2835_delay(100)"), 4u);
}

// Only the last poll's outcome is reported: a failed read as its status, a
// read without tune complete as -3.
TEST_F(TuningTest, TuneWaitReportsTheLastPollsStatusAt121) {
    struct Case {
        Bytes others;
        Bytes last;
        int16_t expected;
    };
    const Case cases[] = {
        {TUNE_PENDING, STATUS_ERR_CMD, -2},
        {TUNE_PENDING, status_bytes(0x80, 0xC4), -1}, // CMDOFERR
        {STATUS_ERR_CMD, TUNE_PENDING, -3},
        {STATUS_ERRNR, STATUS_ERRNR, -2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.last));
        settle();
        std::vector<Bytes> polls(99, c.others);
        polls.push_back(c.last);
        sim::script_reads(0xB0, tune_wait_reads(polls));
        EXPECT_EQ(Si468x_DAB_tune_freq(5), c.expected);
        EXPECT_EQ(Si468x_ErrorCode, 121);
        EXPECT_EQ(read_sizes().size(), 1u + 100u);
        EXPECT_EQ(call_count("bcm2835_delay(100)"), 100u);
    }
}

TEST_F(TuningTest, RejectedTuneFailsAt21WithoutPolling) {
    sim::script_reply(0xB0, reply(0xC0, 0xC0));
    EXPECT_EQ(Si468x_DAB_tune_freq(2), -2);
    EXPECT_EQ(Si468x_ErrorCode, 21);
    EXPECT_EQ(call_count("bcm2835_delay(100)"), 0u);
}

// DAB_DIGRAD_STATUS reply with the given bytes at positions 5 and 6 and
// distinct values in every other field.
Bytes digrad_reply(uint8_t interrupts, uint8_t states) {
    Bytes resp(19, 0x00);
    resp[0] = interrupts;      // 5
    resp[1] = states;          // 6
    resp[2] = 0xF6;            // 7 RSSI
    resp[3] = 17;              // 8 SNR
    resp[4] = 100;             // 9 FIC quality
    resp[5] = 23;              // 10 CNR
    put_u16(resp, 6, 0x0201);  // 11-12 FIB error count
    put_u32(resp, 8, 239200);  // 13-16 frequency
    resp[12] = 40;             // 17 index
    resp[13] = 0xFE;           // 18 FFT offset
    put_u16(resp, 14, 0x1234); // 19-20 antenna cap
    put_u16(resp, 16, 470);    // 21-22 CU level
    resp[18] = 9;              // 23 fast detect
    return ok_reply(resp);
}

TEST_F(TuningTest, DigradStatusFieldsAndPositions) {
    sim::script_reply(0xB2, digrad_reply(0x00, 0x00));
    Si468x_DigradStatus status{};
    ASSERT_EQ(Si468x_DAB_digrad_status(&status), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0xB2, 0x00}}));
    EXPECT_EQ(read_sizes().back(), 24u);
    EXPECT_EQ(status.rssi, 246);
    EXPECT_EQ(status.snr, 17);
    EXPECT_EQ(status.fic_quality, 100);
    EXPECT_EQ(status.cnr, 23);
    EXPECT_EQ(status.fib_error_count, 0x0201);
    EXPECT_EQ(status.tune_freq, 239200u);
    EXPECT_EQ(status.tune_index, 40);
    EXPECT_EQ(status.fft_offset, 0xFE);
    EXPECT_EQ(status.antenna_tuning_cap, 0x1234);
    EXPECT_EQ(status.cu_level, 470);
    EXPECT_EQ(status.fast_detect, 9);
}

TEST_F(TuningTest, DigradStatusFlagsOneBitEach) {
    struct Case {
        uint8_t interrupts;
        uint8_t states;
        uint8_t Si468x_DigradStatus::*flag;
    };
    const Case cases[] = {
        {0x10, 0, &Si468x_DigradStatus::audio_was_muted},
        {0x08, 0, &Si468x_DigradStatus::fic_errors_encountered},
        {0x04, 0, &Si468x_DigradStatus::acq_state_changed},
        {0x02, 0, &Si468x_DigradStatus::below_rssi_thresh},
        {0x01, 0, &Si468x_DigradStatus::above_rssi_thresh},
        {0, 0x10, &Si468x_DigradStatus::hardmute},
        {0, 0x08, &Si468x_DigradStatus::fic_errors},
        {0, 0x04, &Si468x_DigradStatus::ensemble_acquired},
        {0, 0x01, &Si468x_DigradStatus::rssi_valid},
    };
    for (const Case &c : cases) {
        sim::script_reply(0xB2, digrad_reply(c.interrupts, c.states));
        Si468x_DigradStatus status{};
        ASSERT_EQ(Si468x_DAB_digrad_status(&status), 0);
        int set = 0;
        for (const Case &other : cases) {
            set += status.*other.flag;
        }
        EXPECT_EQ(status.*c.flag, 1) << std::hex << +c.interrupts << " " << +c.states;
        EXPECT_EQ(set, 1) << std::hex << +c.interrupts << " " << +c.states;
    }
}

TEST_F(TuningTest, DigradStatusIgnoresTheUnlistedBits) {
    sim::script_reply(0xB2, digrad_reply(0xE0, 0xE2));
    Si468x_DigradStatus status;
    std::memset(&status, 0x77, sizeof status);
    ASSERT_EQ(Si468x_DAB_digrad_status(&status), 0);
    EXPECT_EQ(status.audio_was_muted + status.fic_errors_encountered + status.acq_state_changed +
                  status.below_rssi_thresh + status.above_rssi_thresh + status.hardmute +
                  status.fic_errors + status.ensemble_acquired + status.rssi_valid,
              0);
}

TEST_F(TuningTest, FailedDigradStatusLeavesTheRecordAt22) {
    sim::script_reply(0xB2, reply(0xC0, 0xC0, Bytes(19, 0xFF)));
    Si468x_DigradStatus status{};
    status.rssi = 5;
    EXPECT_EQ(Si468x_DAB_digrad_status(&status), -2);
    EXPECT_EQ(Si468x_ErrorCode, 22);
    EXPECT_EQ(status.rssi, 5);
    EXPECT_EQ(status.ensemble_acquired, 0);
}

TEST(PrintDigradStatus, TwentyLinesByteForByte) {
    Si468x_DigradStatus status{};
    status.audio_was_muted = 1;
    status.acq_state_changed = 1;
    status.above_rssi_thresh = 1;
    status.fic_errors = 1;
    status.ensemble_acquired = 1;
    status.rssi = 0xF6;
    status.snr = 17;
    status.fic_quality = 100;
    status.cnr = 23;
    status.fib_error_count = 513;
    status.tune_freq = 239200;
    status.tune_index = 40;
    status.fft_offset = 254;
    status.antenna_tuning_cap = 4660;
    status.cu_level = 470;
    status.fast_detect = 9;
    const std::string expected = "Digrad status ------------------------ \n"
                                 "Audio was muted:                            1\n"
                                 "FIC errors encountered:                     0\n"
                                 "Ensemble acquisition state changed:         1\n"
                                 "below RSSI thresh:                          0\n"
                                 "above RSSI thresh:                          1\n"
                                 "hardmute:                                   0\n"
                                 "FIC errors:                                 1\n"
                                 "Ensemble acquired:                          1\n"
                                 "RSSI valid:                                 0\n"
                                 "RSSI:                                       246\n"
                                 "SNR:                                        17\n"
                                 "FIC quality:                                100\n"
                                 "CNR:                                        23\n"
                                 "FIB error count:                            513\n"
                                 "Tune Freq.:                                 239200\n"
                                 "Tune index:                                 40\n"
                                 "FFT offset:                                 254\n"
                                 "Antenna tuning cap value:                   4660\n"
                                 "CU level:                                   470\n"
                                 "Metric for DAB fast detect:                 9\n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_digrad_status(&status); }), expected);
}

TEST_F(TuningTest, EventStatusAcknowledgesAndDecodes) {
    Bytes resp{0xCB, 0x03, 0x34, 0x12};
    sim::script_reply(0xB3, ok_reply(resp));
    Si468x_EventStatus status{};
    ASSERT_EQ(Si468x_DAB_get_event_status(&status), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0xB3, 0x01}}));
    EXPECT_EQ(read_sizes().back(), 9u);
    EXPECT_EQ(status.reconfig_event, 1);
    EXPECT_EQ(status.reconfig_warning, 1);
    EXPECT_EQ(status.new_announcement_info, 1);
    EXPECT_EQ(status.new_freq_info, 1);
    EXPECT_EQ(status.new_service_list, 1);
    EXPECT_EQ(status.freq_info_available, 1);
    EXPECT_EQ(status.service_list_available, 1);
    EXPECT_EQ(status.service_list_version, 0x1234);
}

TEST_F(TuningTest, EventStatusIgnoresTheUnlistedBits) {
    sim::script_reply(0xB3, ok_reply({0x34, 0xFC, 0x00, 0x00}));
    Si468x_EventStatus status;
    std::memset(&status, 0x77, sizeof status);
    ASSERT_EQ(Si468x_DAB_get_event_status(&status), 0);
    EXPECT_EQ(status.reconfig_event + status.reconfig_warning + status.new_announcement_info +
                  status.new_freq_info + status.new_service_list + status.freq_info_available +
                  status.service_list_available,
              0);
    EXPECT_EQ(status.service_list_version, 0);
}

TEST_F(TuningTest, FailedEventStatusLeavesTheRecordAt24) {
    sim::script_reply(0xB3, reply(0x80, 0xC1, {0xFF, 0xFF, 1, 0}));
    Si468x_EventStatus status{};
    EXPECT_EQ(Si468x_DAB_get_event_status(&status), -2);
    EXPECT_EQ(Si468x_ErrorCode, 24);
    EXPECT_EQ(status.new_service_list, 0);
    EXPECT_EQ(status.service_list_version, 0);
}

TEST(PrintEventStatus, EightLinesByteForByte) {
    Si468x_EventStatus status{};
    status.reconfig_event = 1;
    status.new_announcement_info = 1;
    status.new_service_list = 1;
    status.service_list_available = 1;
    status.service_list_version = 65535;
    const std::string expected = "Event status ------------------------- \n"
                                 "Ensemble reconfig event:                    1\n"
                                 "Ensemble reconfig warning:                  0\n"
                                 "New announcement info available             1\n"
                                 "New freq. info available:                   0\n"
                                 "New service list available:                 1\n"
                                 "Freq. Info available:                       0\n"
                                 "Service list available:                     1\n"
                                 "Service list version:                       65535\n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_event_status(&status); }), expected);
}

TEST_F(TuningTest, EnsembleTimeAsTheChipReportsIt) {
    sim::script_reply(0xBC, ok_reply({0xE9, 0x07, 12, 31, 23, 59, 60}));
    Si468x_EnsembleTime time{};
    ASSERT_EQ(Si468x_get_ensembletime(&time), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0xBC, 0x01}}));
    EXPECT_EQ(read_sizes().back(), 12u);
    EXPECT_EQ(time.year, 2025);
    EXPECT_EQ(time.month, 12);
    EXPECT_EQ(time.day, 31);
    EXPECT_EQ(time.hour, 23);
    EXPECT_EQ(time.minute, 59);
    EXPECT_EQ(time.second, 60); // not judged here
}

TEST_F(TuningTest, FailedEnsembleTimeLeavesTheRecordAt35) {
    sim::script_reply(0xBC, reply(0xC0, 0xC0, {0xE9, 0x07, 1, 1, 1, 1, 1}));
    Si468x_EnsembleTime time{};
    EXPECT_EQ(Si468x_get_ensembletime(&time), -2);
    EXPECT_EQ(Si468x_ErrorCode, 35);
    EXPECT_EQ(time.year, 0);
}

TEST_F(TuningTest, EnsembleInfoGivesTheIdAndTheLabelBytesAsBroadcast) {
    Bytes resp(20, 0);
    put_u16(resp, 0, 0xC1A5);
    const char label[] = "Capital \xa5tream "; // a byte past ASCII is kept as it came
    std::memcpy(resp.data() + 2, label, 16);
    put_u16(resp, 18, 0xFF00);
    sim::script_reply(0xB4, ok_reply(resp));
    Si468x_EnsembleInfo info{};
    ASSERT_EQ(Si468x_DAB_get_ensemble_info(&info), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0xB4, 0x00}}));
    EXPECT_EQ(read_sizes().back(), 25u);
    EXPECT_EQ(info.ensemble_id, 0xC1A5);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.label), 16), std::string(label, 16));
    EXPECT_EQ(info.abbreviation_mask, 0xFF00);
}

TEST_F(TuningTest, EnsembleInfoRefusedBeforeAcquisitionFailsAt38) {
    sim::script_reply(0xB4, reply(0xC0, 0xC0, Bytes(20, 0x41)));
    Si468x_EnsembleInfo info{};
    EXPECT_EQ(Si468x_DAB_get_ensemble_info(&info), -2);
    EXPECT_EQ(Si468x_ErrorCode, 38);
    EXPECT_EQ(info.label[0], 0);
}

} // namespace
} // namespace driver_test
