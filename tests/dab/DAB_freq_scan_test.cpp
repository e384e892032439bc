// SPDX-License-Identifier: GPL-3.0-or-later
// One frequency of the band scan: each failure point with its status and
// location, the wait for a stable service list poll by poll, and the console
// output of an accepted ensemble.
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An event status reply: CTS, application running, then RESP4 (new-list
// flag), RESP5 (list available) and the list version.
Bytes event_reply(bool new_list, bool available, uint16_t version) {
    return Bytes{0x80,
                 0x00,
                 0x00,
                 0xC0,
                 static_cast<uint8_t>(new_list ? 0x01 : 0x00),
                 static_cast<uint8_t>(available ? 0x01 : 0x00),
                 static_cast<uint8_t>(version),
                 static_cast<uint8_t>(version >> 8)};
}

class FrequencyScan : public station_test::SimulatedReceiver {
protected:
    void SetUp() override {
        SimulatedReceiver::SetUp();
        load_band(kBand);
        forget();
    }

    int16_t scan(uint8_t index = 0) {
        int16_t status = 0;
        output_ =
            station_test::captured_stdout([&] { status = DAB_do_freq_scan(list_.get(), index); });
        return status;
    }

    // The list ready as soon as the tune completes: the wait then costs the
    // scan's own polls only.
    static void list_ready_at_tune() {
        sim::receiver_timing().acquire_ns = 0;
        sim::receiver_timing().list_ready_ns = 0;
    }

    static constexpr char kBand[] =
        "{\"frequencies\": [174928, 176640], \"ensembles\": [{\"index\": 0, \"list_version\": 5, "
        "\"reception\": {\"rssi\": 42, \"fic_quality\": 95}, \"services\": ["
        "{\"id\": 49313, \"label\": \"Lark One\", \"components\": [{\"id\": 4}, {\"id\": 5}]},"
        "{\"id\": 49314, \"label\": \"Lark Two\", \"components\": [{\"id\": 6}]}]}]}";

    std::unique_ptr<Si468x_ServiceList> list_ = std::make_unique<Si468x_ServiceList>();
    std::string output_;
};

TEST_F(FrequencyScan, EnsembleFoundReadsItsListAndLeavesTheFrequencyIndexAlone) {
    list_->freq_index = 77;
    ASSERT_EQ(scan(), 1);
    EXPECT_EQ(list_->freq_index, 77);
    EXPECT_EQ(list_->list_version, 5);
    EXPECT_TRUE(station_test::holds_records(*list_, band_.ensembles[0]));
    // The list is announced 1.5 s after the tune; it is taken one poll later.
    EXPECT_GE(elapsed_ms(), 1530.0);
    EXPECT_LE(elapsed_ms(), 1530.0 + 2 * 200.0 + 100.0);
}

TEST_F(FrequencyScan, AcceptedEnsemblePrintsItsBarAndItsReceptionStatus) {
    ASSERT_EQ(scan(), 1) << output_ << sim::now_ms();
    const std::string bar = "signal strength: " + std::string(42, '-') + "\n";
    ASSERT_EQ(output_.substr(0, bar.size()), bar);
    const std::string rest = output_.substr(bar.size());
    EXPECT_EQ(rest.rfind("Digrad status ------------------------ \n", 0), 0u) << rest;
    EXPECT_NE(rest.find("\nRSSI:" + std::string(39, ' ') + "42\n"), std::string::npos) << rest;
    EXPECT_NE(rest.find("\nFIC quality:" + std::string(32, ' ') + "95\n"), std::string::npos);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 21);
}

TEST_F(FrequencyScan, EachFailurePointHasItsStatusAndLocation) {
    struct Case {
        const char *faults;
        int16_t status;
        int32_t location;
    };
    const Case cases[] = {
        {"errcmd=0xB0", -2, 4},           {"tune-timeout=0", -3, 4},   {"errcmd=0xB2", -2, 104},
        {"reply-overflow=0xB2", -2, 104}, {"errcmd=0xB3", -2, 204},    {"list-unstable=0", -1, 304},
        {"list-unannounced=0", -1, 304},  {"list-size=2042", -4, 404}, {"errcmd=0x80", -2, 404},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.faults);
        sim::clear_faults();
        fault(c.faults);
        list_->freq_index = 77;
        EXPECT_EQ(scan(), c.status);
        EXPECT_EQ(DABUtils_ErrorCode, c.location);
        EXPECT_EQ(list_->freq_index, 77);
        // None of these is a host-side failure: no error line.
        EXPECT_EQ(output_.find("DABUtils error"), std::string::npos);
    }
}

TEST_F(FrequencyScan, ListThatNeverSettlesCostsFiftyPollsAndFortyNineWaits) {
    for (const char *faults : {"list-unstable=0", "list-unannounced=0"}) {
        SCOPED_TRACE(faults);
        sim::clear_faults();
        fault(faults);
        forget();
        ASSERT_EQ(scan(), -1);
        EXPECT_EQ(commands(0xB3), 50u);
        // No wait follows the last poll: nothing comes after it.
        EXPECT_EQ(call_count("bcm2835_delay(200)"), 49u);
        EXPECT_EQ(commands(0x80), 0u);
    }
}

TEST_F(FrequencyScan, UnannouncedListOfVersionZeroIsNeverTakenForARepeat) {
    load_band("{\"frequencies\": [174928], \"ensembles\": [{\"index\": 0, \"list_version\": 0, "
              "\"services\": [{\"id\": 1, \"components\": [{\"id\": 1}]}]}]}");
    fault("list-unannounced=0");
    EXPECT_EQ(scan(), -1);
    EXPECT_EQ(DABUtils_ErrorCode, 304);
}

TEST_F(FrequencyScan, ListIsTakenAtTheSecondPollAtTheEarliest) {
    list_ready_at_tune();
    ASSERT_EQ(scan(), 1);
    EXPECT_EQ(commands(0xB3), 2u);
    EXPECT_EQ(call_count("bcm2835_delay(200)"), 1u);
}

TEST_F(FrequencyScan, StableListNeedsAnAnnouncementAndThenTheSameVersionAvailable) {
    struct Case {
        const char *name;
        std::vector<Bytes> polls;
        uint64_t polls_taken;
    };
    const Case cases[] = {
        {"announced then repeated", {event_reply(true, true, 5), event_reply(false, true, 5)}, 2},
        {"available before announced",
         {event_reply(false, true, 5), event_reply(true, true, 5), event_reply(false, true, 5)},
         3},
        {"version moves on",
         {event_reply(true, true, 5), event_reply(true, true, 6), event_reply(false, true, 6)},
         3},
        {"same version while not available",
         {event_reply(true, true, 5), event_reply(false, false, 5), event_reply(false, true, 5)},
         3},
        {"announcement without the list",
         {event_reply(true, false, 5), event_reply(false, true, 5), event_reply(true, true, 5),
          event_reply(true, true, 5)},
         4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::clear_scripts();
        list_ready_at_tune();
        for (const Bytes &reply : c.polls) {
            sim::script_reply(0xB3, reply);
        }
        forget();
        ASSERT_EQ(scan(), 1);
        EXPECT_EQ(commands(0xB3), c.polls_taken);
        EXPECT_EQ(call_count("bcm2835_delay(200)"), c.polls_taken - 1);
    }
}

} // namespace
