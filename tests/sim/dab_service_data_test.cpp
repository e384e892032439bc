// SPDX-License-Identifier: GPL-3.0-or-later
// Service start and stop, and the packets a started service delivers.
#include "dab_receiver_fixture.h"

#include <string>

using namespace dabtest;

namespace {

constexpr uint32_t tide_tables = 0xE1D0A215; // data service on index 0
constexpr uint32_t tide_pages = 0xC215;

class DabServiceData : public Receiver {
protected:
    Reply start(uint32_t service, uint32_t component, uint8_t type = 0) {
        return send(frame12(0x81, type, service, component));
    }
    Reply stop(uint32_t service, uint32_t component, uint8_t type = 0) {
        return send(frame12(0x82, type, service, component));
    }
    void start_harbour() {
        tune_and_settle(0);
        ASSERT_FALSE(start(harbour, harbour_audio).err());
    }
    // The text a host takes from a text packet: payload bytes 2 to count - 2.
    static std::string text_of(const Reply &r) {
        const uint16_t count = r.le16_at(19);
        if (count < 3) {
            return {};
        }
        return std::string(r.outcome.resp.begin() + 20 + 2,
                           r.outcome.resp.begin() + 20 + count - 1);
    }
    const std::vector<std::string> &harbour_texts() {
        return sim::find_service(ensemble_at(radio.band(), 0), harbour)->texts;
    }
};

TEST_F(DabServiceData, StartIsRefusedForWhatTheTunedEnsembleDoesNotCarry) {
    EXPECT_TRUE(start(harbour, harbour_audio).err()) << "nothing tuned";
    ASSERT_FALSE(tune(0).err());
    wait(radio.timing().tune_ns);
    EXPECT_TRUE(start(harbour, harbour_audio).err()) << "not yet acquired";
    wait(radio.timing().acquire_ns);
    EXPECT_TRUE(start(0xC301, 0x0001).err()) << "a service of another ensemble";
    EXPECT_TRUE(start(harbour, 0x0005).err()) << "a component of another service";
    EXPECT_TRUE(start(harbour, harbour_audio, 1).err()) << "an audio service started as data";
    EXPECT_TRUE(start(tide_tables, tide_pages, 0).err()) << "a data service started as audio";
    EXPECT_TRUE(send({0x81, 0x00, 0x00, 0x00, 0x10, 0xD2}).err()) << "a short frame";
    EXPECT_FALSE(radio.service_started(nullptr, nullptr));

    EXPECT_FALSE(start(tide_tables, tide_pages, 1).err());
    EXPECT_FALSE(start(harbour, harbour_audio).err());
    uint32_t service = 0;
    uint32_t component = 0;
    ASSERT_TRUE(radio.service_started(&service, &component));
    EXPECT_EQ(service, harbour);
    EXPECT_EQ(component, harbour_audio);
}

TEST_F(DabServiceData, StartFailFaultRejectsAnOtherwiseGoodStart) {
    tune_and_settle(0);
    fault("start-fail");
    EXPECT_TRUE(start(harbour, harbour_audio).err());
    EXPECT_FALSE(radio.service_started(nullptr, nullptr));
}

TEST_F(DabServiceData, NothingWaitsUntilAServiceIsStarted) {
    tune_and_settle(0);
    wait(30 * s);
    const auto r = data_status();
    ASSERT_FALSE(r.err());
    EXPECT_EQ(r.at(5), 0);
    EXPECT_EQ(r.at(6), 0);
    EXPECT_EQ(radio.status0_bits() & 0x10, 0);
    const auto full = data_full();
    EXPECT_EQ(full.at(5), 0);
    EXPECT_EQ(full.le16_at(19), 0);
}

TEST_F(DabServiceData, FirstTextComesFirstTextNsAfterStartThenEveryTextInterval) {
    start_harbour();
    const auto &t = radio.timing();
    wait(t.first_text_ns - 1);
    EXPECT_EQ(data_status().at(6), 0);
    EXPECT_EQ(radio.status0_bits() & 0x10, 0);
    wait(1);
    const auto ready = data_status();
    EXPECT_EQ(ready.at(5), 0x01) << "packet ready, no overflow";
    EXPECT_EQ(ready.at(6), 1);
    EXPECT_EQ(radio.status0_bits() & 0x10, 0x10) << "DSRVINT while a packet waits";

    EXPECT_EQ(text_of(data_full()), harbour_texts()[0]);
    EXPECT_EQ(data_status().at(6), 0);
    EXPECT_EQ(radio.status0_bits() & 0x10, 0);
    wait(t.text_interval_ns);
    EXPECT_EQ(text_of(data_full()), harbour_texts()[1]);
}

TEST_F(DabServiceData, TextPacketLayoutIsToggleZeroCharactersAndOneTrailingByte) {
    start_harbour();
    auto &t = radio.timing();
    t.packet_interval_ns = 3600 * s; // texts only
    wait(t.first_text_ns);
    const auto first = data_full();
    ASSERT_FALSE(first.err());
    EXPECT_EQ(first.outcome.busy_ns, t.data_cts_ns);
    const std::string &text = harbour_texts()[0];
    ASSERT_EQ(first.le16_at(19), text.size() + 3);
    ASSERT_EQ(first.positions(), 25 + text.size() + 3);
    EXPECT_EQ(first.at(25), 0x80);
    EXPECT_EQ(first.at(26), 0x00);
    EXPECT_EQ(std::string(first.outcome.resp.begin() + 22, first.outcome.resp.end() - 1), text);
    EXPECT_EQ(first.le32_at(9), harbour);
    EXPECT_EQ(first.le32_at(13), harbour_audio);
    EXPECT_EQ(first.at(8) >> 6, 2) << "texts come from the programme-associated data";
    EXPECT_EQ(first.le16_at(21), 0);
    EXPECT_EQ(first.le16_at(23), 1);

    wait(t.text_interval_ns);
    EXPECT_EQ(data_full().at(25), 0x00) << "the toggle byte alternates";
    wait(t.text_interval_ns);
    EXPECT_EQ(data_full().at(25), 0x80);
}

TEST_F(DabServiceData, TextsCycleThroughTheServiceList) {
    start_harbour();
    auto &t = radio.timing();
    t.packet_interval_ns = 3600 * s;
    wait(t.first_text_ns);
    const auto &texts = harbour_texts();
    ASSERT_EQ(texts.size(), 3u);
    for (std::size_t k = 0; k < 7; ++k) {
        EXPECT_EQ(text_of(data_full()), texts[k % texts.size()]) << "text " << k;
        wait(t.text_interval_ns);
    }
}

TEST_F(DabServiceData, OtherPacketsCarryTheirOwnHeaderAndDoNotLookLikeText) {
    start_harbour();
    auto &t = radio.timing();
    t.text_interval_ns = 3600 * s;
    t.first_text_ns = 3600 * s;
    const auto &packets = sim::find_service(ensemble_at(radio.band(), 0), harbour)->packets;
    ASSERT_EQ(packets.size(), 3u);
    wait(t.packet_interval_ns);
    const auto r = data_full();
    ASSERT_EQ(r.at(5) & 0x01, 0x01);
    EXPECT_EQ(r.at(8), packets[0].data_src << 6 | packets[0].dscty);
    EXPECT_EQ(r.le16_at(19), packets[0].payload.size());
    EXPECT_EQ(r.le16_at(21), 0);
    EXPECT_EQ(r.le16_at(23), 3);
    EXPECT_EQ(std::vector<uint8_t>(r.outcome.resp.begin() + 20, r.outcome.resp.end()),
              packets[0].payload);
    EXPECT_FALSE((r.at(25) == 0x00 || r.at(25) == 0x80) && r.at(26) == 0x00);
    wait(t.packet_interval_ns);
    EXPECT_EQ(data_full().le16_at(21), 1) << "the next segment";
}

TEST_F(DabServiceData, StatusOnlyReadLeavesThePacketQueued) {
    start_harbour();
    wait(radio.timing().first_text_ns);
    const auto status = data_status();
    EXPECT_EQ(status.outcome.busy_ns, 0u);
    EXPECT_EQ(status.positions(), 25u) << "header only, no payload";
    EXPECT_EQ(data_status().at(6), 1);
    const auto full = data_full();
    EXPECT_EQ(full.at(5) & 0x01, 0x01);
    EXPECT_EQ(full.at(6), 0) << "nothing left after the one packet";
}

TEST_F(DabServiceData, AFullQueueOverflowsAndTheReportingReadClearsTheFlag) {
    start_harbour();
    auto &t = radio.timing();
    t.packet_interval_ns = 3600 * s;
    wait(t.first_text_ns + 20 * t.text_interval_ns); // 21 texts, room for 8
    const auto report = data_status();
    EXPECT_EQ(report.at(5), 0x03) << "overflow and packet ready";
    EXPECT_EQ(report.at(6), 8);
    const auto again = data_status();
    EXPECT_EQ(again.at(5), 0x01) << "reported once, then cleared";
    EXPECT_EQ(again.at(6), 8);
    // The queue holds the oldest texts: text 0 was the first to arrive.
    EXPECT_EQ(text_of(data_full()), harbour_texts()[0]);
}

TEST_F(DabServiceData, HoursWithoutPollingCostNoTimeAndKeepAFullQueue) {
    start_harbour();
    wait(1000ull * 3600 * s);
    const auto r = data_status();
    EXPECT_EQ(r.at(5), 0x03);
    EXPECT_EQ(r.at(6), 8);
    wait(radio.timing().text_interval_ns);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(data_full().at(5) & 0x01, 0x01);
    }
    EXPECT_EQ(data_status().at(6), 0);
}

TEST_F(DabServiceData, IntackClearsAPendingOverflow) {
    start_harbour();
    wait(radio.timing().first_text_ns + 20 * radio.timing().text_interval_ns);
    EXPECT_EQ(send({0x84, 0x11}).at(5) & 0x02, 0);
}

TEST_F(DabServiceData, StopAndRetuneEndTheFlow) {
    start_harbour();
    wait(radio.timing().first_text_ns);
    EXPECT_TRUE(stop(0xC301, 1).err()) << "not in this ensemble";
    EXPECT_FALSE(stop(harbour, harbour_audio).err());
    EXPECT_FALSE(radio.service_started(nullptr, nullptr));
    EXPECT_EQ(data_status().at(6), 0) << "stopping drops what waited";
    wait(60 * s);
    EXPECT_EQ(data_status().at(6), 0);

    ASSERT_FALSE(start(harbour, harbour_audio).err());
    ASSERT_FALSE(tune(7).err());
    EXPECT_FALSE(radio.service_started(nullptr, nullptr)) << "a tune stops the service";
    wait(60 * s);
    EXPECT_EQ(data_status().at(6), 0);
}

TEST_F(DabServiceData, StopOfAServiceNotStartedIsHarmless) {
    start_harbour();
    EXPECT_FALSE(stop(0xD211, 0x0005).err());
    EXPECT_TRUE(radio.service_started(nullptr, nullptr));
}

TEST_F(DabServiceData, DataFaultsShapeTheReplies) {
    start_harbour();
    wait(radio.timing().first_text_ns);

    fault("data-overflow");
    EXPECT_EQ(data_status().at(5), 0x03);
    EXPECT_EQ(data_status().at(5), 0x03) << "the fault holds while packets wait";

    fault("data-not-ready");
    const auto not_ready = data_status();
    EXPECT_EQ(not_ready.at(5), 0x00);
    EXPECT_EQ(not_ready.at(6), 1);

    fault("data-length=4097");
    auto r = data_status();
    EXPECT_EQ(r.le16_at(19), 4097);
    fault("data-length=4096");
    r = data_full();
    EXPECT_EQ(r.le16_at(19), 4096);
    EXPECT_EQ(r.positions(), 25u + 4096);

    wait(radio.timing().text_interval_ns);
    fault("data-no-cts");
    r = data_full();
    EXPECT_GE(r.outcome.busy_ns, UINT64_MAX / 4);
}

TEST_F(DabServiceData, DataFaultsLeaveAnEmptyQueueAlone) {
    tune_and_settle(0);
    fault("data-overflow,data-length=4097");
    const auto r = data_status();
    EXPECT_EQ(r.at(5), 0);
    EXPECT_EQ(r.le16_at(19), 0);
}

TEST_F(DabServiceData, ADataServiceDeliversItsPages) {
    tune_and_settle(0);
    ASSERT_FALSE(start(tide_tables, tide_pages, 1).err());
    wait(radio.timing().packet_interval_ns);
    const auto r = data_full();
    ASSERT_EQ(r.at(5) & 0x01, 0x01);
    EXPECT_EQ(r.le32_at(9), tide_tables);
    EXPECT_EQ(r.le32_at(13), tide_pages);
    EXPECT_EQ(r.at(8) & 0x3F, 44);
}

// Text entries with DL Plus and the clear-display command go out as a
// station sends them: the command right after its message, under its toggle;
// a band file written back keeps them.
TEST_F(DabServiceData, DlPlusFollowsItsMessageAndClearDisplayTakesItsTurn) {
    use_band(R"({"ensembles": [{"index": 0, "services": [{"id": 7, "components": [{"id": 1}],
        "texts": [{"text": "Now: Mara Voss - Paper Boats", "dl_plus": {"item_toggle": 1,
                   "tags": [{"type": 4, "start": 5, "length": 9}, {"type": 1, "start": 17, "length": 11}]}},
                  {"clear": true}, {"bytes": [1, 65], "charset": 6}]}]}]})");
    const sim::Band written = radio.band();
    sim::Band copy;
    std::string error;
    ASSERT_TRUE(sim::parse_band_json(sim::band_to_json(written), &copy, &error)) << error;
    EXPECT_EQ(copy, written);

    tune_and_settle(0);
    ASSERT_FALSE(start(7, 1).err());
    wait(radio.timing().first_text_ns + 2 * radio.timing().text_interval_ns);
    auto payload = [this] {
        const Reply r = send({0x84, 0x00});
        return std::vector<uint8_t>(r.outcome.resp.begin() + 20, r.outcome.resp.end());
    };
    std::vector<uint8_t> message = {0x80, 0x00};
    const std::string text = "Now: Mara Voss - Paper Boats";
    message.insert(message.end(), text.begin(), text.end());
    message.push_back(0x00);
    EXPECT_EQ(payload(), message);
    EXPECT_EQ(payload(),
              (std::vector<uint8_t>{0x92, 0x06, 0x0D, 0x04, 0x05, 0x08, 0x01, 0x11, 0x0A, 0x00}));
    EXPECT_EQ(payload(), (std::vector<uint8_t>{0x11, 0x00, 0x00})) << "clear display, toggle 0";
    EXPECT_EQ(payload(), (std::vector<uint8_t>{0x80, 0x60, 0x01, 0x41, 0x00})) << "UCS-2";
}

} // namespace
