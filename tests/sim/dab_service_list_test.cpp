// SPDX-License-Identifier: GPL-3.0-or-later
// Event status, the digital service list and the ensemble time.
#include "dab_receiver_fixture.h"

#include <algorithm>
#include <cstdio>

using namespace dabtest;

namespace {

class DabServiceList : public Receiver {
protected:
    // Reaches the moment the list is announced, polling without acknowledging.
    void tune_until_announced(uint8_t index) {
        ASSERT_FALSE(tune(index).err());
        const auto &t = radio.timing();
        wait(t.tune_ns + t.acquire_ns + t.list_ready_ns);
    }
};

// The records of a list reply walked as a host walks them.
struct Walked {
    std::vector<std::size_t> offsets;
    std::size_t end = 0;
};

Walked walk(const std::vector<uint8_t> &records, std::size_t count) {
    Walked walked;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < count && offset + 24 <= records.size(); ++i) {
        walked.offsets.push_back(offset);
        offset += 24 + 4 * (records[offset + 5] & 0x0F);
    }
    walked.end = offset;
    return walked;
}

TEST_F(DabServiceList, ListIsAnnouncedListReadyNsAfterAcquisition) {
    ASSERT_FALSE(tune(0).err());
    const auto &t = radio.timing();
    wait(t.tune_ns + t.acquire_ns);
    const auto acquired = events(0x00);
    EXPECT_EQ(acquired.at(5), 0);
    EXPECT_EQ(acquired.at(6), 0);
    EXPECT_EQ(acquired.le16_at(7), 0);

    wait(t.list_ready_ns - 1);
    EXPECT_EQ(events(0x00).at(6) & 0x01, 0);
    wait(1);
    const auto ready = events(0x00);
    EXPECT_EQ(ready.at(5) & 0x01, 0x01) << "new service list";
    EXPECT_EQ(ready.at(6) & 0x01, 0x01) << "service list available";
    EXPECT_EQ(ready.le16_at(7), ensemble_at(radio.band(), 0).list_version);
}

TEST_F(DabServiceList, AcknowledgeClearsTheNewFlagOnlyAfterReportingIt) {
    tune_until_announced(7);
    const uint16_t version = ensemble_at(radio.band(), 7).list_version;
    EXPECT_EQ(events(0x00).at(5) & 0x01, 0x01);
    EXPECT_EQ(events(0x00).at(5) & 0x01, 0x01) << "without acknowledge the flag stays";
    const auto acked = events(0x01);
    EXPECT_EQ(acked.at(5) & 0x01, 0x01) << "the acknowledging poll still reports it";
    const auto later = events(0x01);
    EXPECT_EQ(later.at(5) & 0x01, 0);
    EXPECT_EQ(later.at(6) & 0x01, 0x01);
    EXPECT_EQ(later.le16_at(7), version) << "a stable list keeps its version";
}

TEST_F(DabServiceList, ANewTuneAnnouncesTheListAgain) {
    tune_until_announced(0);
    events();
    ASSERT_EQ(events().at(5) & 0x01, 0);
    tune_until_announced(0);
    EXPECT_EQ(events().at(5) & 0x01, 0x01);
}

TEST_F(DabServiceList, ScanStyleWaitSeesAnnouncementThenTheSameVersion) {
    tune_until_announced(22);
    const auto first = events();
    const auto second = events();
    ASSERT_EQ(first.at(5) & 0x01, 0x01);
    ASSERT_EQ(second.at(6) & 0x01, 0x01);
    EXPECT_EQ(first.le16_at(7), second.le16_at(7));
}

TEST_F(DabServiceList, ListUnstableChangesTheVersionAtEveryPollOnItsIndexOnly) {
    fault("list-unstable=0");
    tune_until_announced(0);
    uint16_t previous = events().le16_at(7);
    for (int poll = 0; poll < 5; ++poll) {
        const auto r = events();
        EXPECT_EQ(r.at(5) & 0x01, 0x01);
        EXPECT_NE(r.le16_at(7), previous);
        previous = r.le16_at(7);
    }
    EXPECT_EQ(service_list().le16_at(7), previous) << "the list carries the current version";

    tune_until_announced(7);
    EXPECT_EQ(events().le16_at(7), events().le16_at(7));
}

TEST_F(DabServiceList, ListUnannouncedIsAvailableButNeverNew) {
    fault("list-unannounced=0");
    tune_until_announced(0);
    for (int poll = 0; poll < 3; ++poll) {
        const auto r = events();
        EXPECT_EQ(r.at(5) & 0x01, 0);
        EXPECT_EQ(r.at(6) & 0x01, 0x01);
    }
    EXPECT_FALSE(service_list().err());
}

TEST_F(DabServiceList, ListIsRefusedUntilAvailable) {
    EXPECT_TRUE(service_list().err()) << "nothing tuned";
    ASSERT_FALSE(tune(0).err());
    const auto &t = radio.timing();
    wait(t.tune_ns + t.acquire_ns + t.list_ready_ns - 1);
    EXPECT_TRUE(service_list().err());
    wait(1);
    EXPECT_FALSE(service_list().err());
    tune_and_settle(1);
    EXPECT_TRUE(service_list().err()) << "an empty channel has no list";
}

TEST_F(DabServiceList, ListLayoutMatchesTheEnsemble) {
    tune_and_settle(0);
    const auto &e = ensemble_at(radio.band(), 0);
    const auto r = service_list();
    ASSERT_FALSE(r.err());
    const uint16_t size = r.le16_at(5);
    // The host reads SIZE + 7 bytes: filler, four status bytes, SIZE, then SIZE bytes.
    ASSERT_EQ(r.positions(), size + 7u);
    EXPECT_EQ(r.le16_at(7), e.list_version);
    ASSERT_EQ(r.at(9), e.services.size());
    EXPECT_EQ(r.at(10), 0);
    EXPECT_EQ(r.at(11), 0);
    EXPECT_EQ(r.at(12), 0);

    const std::vector<uint8_t> records(r.outcome.resp.begin() + 8, r.outcome.resp.end());
    const auto walked = walk(records, e.services.size());
    EXPECT_EQ(walked.end, records.size()) << "records fill exactly SIZE - 6 bytes";
    ASSERT_EQ(walked.offsets.size(), e.services.size());
    for (std::size_t i = 0; i < e.services.size(); ++i) {
        const auto &service = e.services[i];
        const std::size_t o = walked.offsets[i];
        SCOPED_TRACE("service " + std::to_string(i));
        EXPECT_EQ(le32(records, o), service.id);
        EXPECT_EQ(records[o + 4] & 0x01, service.data ? 1 : 0);
        EXPECT_EQ((records[o + 4] >> 1) & 0x1F, service.pty);
        EXPECT_EQ(records[o + 5] & 0x0F, service.components.size());
        EXPECT_TRUE(
            std::equal(service.label.begin(), service.label.end(), records.begin() + o + 8));
        for (std::size_t c = 0; c < service.components.size(); ++c) {
            const std::size_t co = o + 24 + 4 * c;
            EXPECT_EQ(le16(records, co), service.components[c].id);
            EXPECT_EQ(records[co + 2] >> 2, service.components[c].ascty_dscty);
        }
    }
}

TEST_F(DabServiceList, RecordBitsPackEveryServiceAndComponentFlag) {
    use_band(R"({"ensembles": [{"index": 0, "services": [
        {"id": "0xE1D0A215", "data": true, "pty": 31, "linking": true, "ca_id": 7,
         "local": true, "si_charset": 15, "label": "ABCDEFGHIJKLMNOP",
         "components": [{"id": "0xC305", "ca_flag": true, "ps": true, "ascty_dscty": 63,
                         "mua_info_valid": true},
                        {"id": 5, "ps": false, "ascty_dscty": 5}]}]}]})");
    tune_and_settle(0);
    const auto r = service_list();
    ASSERT_EQ(r.le16_at(5), 6 + 24 + 8);
    const std::vector<uint8_t> expected{0x15,
                                        0xA2,
                                        0xD0,
                                        0xE1,
                                        0x01 | 31 << 1 | 0x40,
                                        0x02 | 7 << 4 | 0x80,
                                        0x0F,
                                        0x00,
                                        'A',
                                        'B',
                                        'C',
                                        'D',
                                        'E',
                                        'F',
                                        'G',
                                        'H',
                                        'I',
                                        'J',
                                        'K',
                                        'L',
                                        'M',
                                        'N',
                                        'O',
                                        'P',
                                        0x05,
                                        0xC3,
                                        0x01 | 0x02 | 63 << 2,
                                        0x01,
                                        0x05,
                                        0x00,
                                        5 << 2,
                                        0x00};
    EXPECT_EQ(std::vector<uint8_t>(r.outcome.resp.begin() + 8, r.outcome.resp.end()), expected);
}

TEST_F(DabServiceList, ListSizeFaultForcesTheSizeFieldOnly) {
    tune_and_settle(0);
    const auto honest = service_list();
    fault("list-size=2042");
    const auto forced = service_list();
    EXPECT_EQ(forced.le16_at(5), 2042);
    EXPECT_EQ(forced.outcome.resp.size(), honest.outcome.resp.size());
    fault("list-size=5");
    EXPECT_EQ(service_list().le16_at(5), 5);
}

TEST_F(DabServiceList, AListLargerThanTheHostRecordIsSentAsItIs) {
    // 90 services of one component: 90 * 28 + 6 = 2526 bytes, beyond 2041.
    std::string services;
    for (int i = 0; i < 90; ++i) {
        services += std::string(i ? "," : "") + R"({"id": )" + std::to_string(0xC000 + i) +
                    R"(, "components": [{"id": 1}]})";
    }
    use_band(R"({"ensembles": [{"index": 4, "services": [)" + services + "]}]}");
    tune_and_settle(4);
    const auto r = service_list();
    EXPECT_EQ(r.le16_at(5), 2526);
    EXPECT_EQ(r.at(9), 90);
}

TEST_F(DabServiceList, TimeRunsOnFromTheBroadcastDateAcrossMidnightAndMonths) {
    use_band(R"({"ensembles": [{"index": 0, "time": "2024-02-28 23:59:58"}]})");
    tune_and_settle(0);
    ASSERT_EQ(clock.now_ns() / s, 1u) << "the board clock has run one whole second";
    auto date = [this] {
        const auto r = send({0xBC, 0x01});
        EXPECT_FALSE(r.err());
        EXPECT_EQ(r.positions(), 12u);
        char text[32];
        std::snprintf(text, sizeof text, "%u-%u-%u %u:%u:%u", r.le16_at(5), r.at(7), r.at(8),
                      r.at(9), r.at(10), r.at(11));
        return std::string(text);
    };
    EXPECT_EQ(date(), "2024-2-28 23:59:59");
    wait(1 * s);
    EXPECT_EQ(date(), "2024-2-29 0:0:0") << "2024 is a leap year";
    wait(86400 * s);
    EXPECT_EQ(date(), "2024-3-1 0:0:0");
    wait(306ull * 86400 * s);
    EXPECT_EQ(date(), "2025-1-1 0:0:0");
}

TEST_F(DabServiceList, TimeOfYearZeroStandsStillAndNoTimeIsZeros) {
    tune_and_settle(12); // the default band's ensemble with a year-0 clock
    wait(5 * s);
    auto r = send({0xBC, 0x01});
    ASSERT_FALSE(r.err());
    EXPECT_EQ(r.le16_at(5), 0);
    EXPECT_EQ(r.at(7), 1);
    EXPECT_EQ(r.at(8), 1);
    EXPECT_EQ(r.at(9), 12);
    EXPECT_EQ(r.at(11), 0);

    tune_and_settle(29); // the one that broadcasts no time
    r = send({0xBC, 0x01});
    ASSERT_FALSE(r.err());
    EXPECT_EQ(r.outcome.resp, std::vector<uint8_t>(7, 0));
}

TEST_F(DabServiceList, TimeNeedsAnAcquiredEnsembleAndFailsUnderNoTime) {
    EXPECT_TRUE(send({0xBC, 0x01}).err());
    ASSERT_FALSE(tune(0).err());
    wait(radio.timing().tune_ns);
    EXPECT_TRUE(send({0xBC, 0x01}).err()) << "tuned, not yet acquired";
    wait(radio.timing().acquire_ns);
    EXPECT_FALSE(send({0xBC, 0x01}).err());
    fault("no-time=0");
    EXPECT_TRUE(send({0xBC, 0x01}).err());
    tune_and_settle(7);
    EXPECT_FALSE(send({0xBC, 0x01}).err());
}

} // namespace
