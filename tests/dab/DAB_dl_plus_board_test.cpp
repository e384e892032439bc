// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board's stations, heard through the driver: each packet the
// chip delivers is fed to the dynamic label decoder, as the radio's data
// poll feeds it. The default band's Upland Relay (index 40) carries DL Plus
// in EBU Latin and UTF-8, a UCS-2 text, a clear-display command and an item
// that stops between songs.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DABUtils.h"
#include "DAB_dl_plus.h"
#include "Si468x_SPI.h"
#include "SimBoard.h"

namespace {

constexpr uint8_t upland = 40;
constexpr uint32_t summit_fm = 0xC801, moorland_radio = 0xC802, ridgeway = 0xC806;

// What the record held after a packet that changed it.
struct Heard {
    std::string text, artist, title, programme, station;
    uint8_t running;
    bool operator==(const Heard &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Heard &h) {
    return out << "{'" << h.text << "' artist '" << h.artist << "' title '" << h.title
               << "' programme '" << h.programme << "' station '" << h.station << "' running "
               << int(h.running) << "}";
}

struct DlPlusBoardTest : ::testing::Test {
    void SetUp() override {
        sim::reset_for_test();
        sim::set_chip_running();
        sim::receiver_timing().first_text_ns = 100'000'000;
        sim::receiver_timing().text_interval_ns = 500'000'000;
        ASSERT_EQ(Si468x_bus_init(), 0);
    }
    void TearDown() override { Si468x_SPI_shutdown(); }

    // Plays the service (its first component's id is its subchannel) and polls every 100 ms,
    // `polls` times: texts come 100 ms after the start and every 500 ms.
    std::vector<Heard> listen(uint32_t service, uint8_t subchannel, int polls) {
        std::vector<Heard> heard;
        Si468x_DigradStatus status{};
        EXPECT_EQ(DAB_tune_for_ensemble(upland), 0);
        EXPECT_EQ(DAB_await_ensemble(&status), 1);
        EXPECT_EQ(Si468x_start_digital_service(0, service, subchannel), 0);
        auto data = std::make_unique<Si468x_ServiceData>();
        auto dls = std::make_unique<DAB_Dls>();
        for (int poll = 0; poll < polls; ++poll) {
            bcm2835_delay(100);
            uint8_t ready = 0;
            if (Si468x_get_digital_service_data(data.get(), &ready) == 0 && ready != 0 &&
                DAB_dls_feed_packet(dls.get(), data.get()) != 0) {
                const DAB_NowPlaying &np = dls->now_playing;
                heard.push_back({dls->text, np.artist, np.title, np.programme_now,
                                 np.station_name_long, np.item_running});
            }
        }
        return heard;
    }
};

TEST_F(DlPlusBoardTest, SongsStationBreakAndClearedDisplayReachTheRecordInTurn) {
    const std::vector<Heard> heard = listen(summit_fm, 1, 23); // texts 0 to 3, then 0 again
    const Heard cairn = {"Now playing: Cairn - Above the Cloud", "", "", "", "", 0};
    const Heard tagged = {cairn.text, "Cairn", "Above the Cloud", "", "", 1};
    const Heard between = {"Summit FM: high ground radio", "", "", "", "Summit FM", 0};
    const Heard cleared = {"", "", "", "", "Summit FM", 0};
    const Heard tarn_text = {"Now playing: Tarn - Still Water", "", "", "", "Summit FM", 0};
    const Heard tarn = {tarn_text.text, "Tarn", "Still Water", "", "Summit FM", 1};
    const Heard again = {cairn.text, "Tarn", "Still Water", "", "Summit FM", 1};
    const Heard again_tagged = {cairn.text, "Cairn", "Above the Cloud", "", "Summit FM", 1};
    // The text of the stopped item changes both text and item state at once.
    const Heard between_text = {between.text, "Cairn", "Above the Cloud", "", "", 1};
    EXPECT_EQ(heard, (std::vector<Heard>{cairn, tagged, between_text, between, cleared, tarn_text,
                                         tarn, again, again_tagged}));
}

TEST_F(DlPlusBoardTest, Utf8AndUcs2StationsAreReadInTheirCharacterSets) {
    const std::vector<Heard> moorland = listen(moorland_radio, 2, 10);
    ASSERT_GE(moorland.size(), 2u);
    EXPECT_EQ(moorland[1], (Heard{"Now playing: Heather & Slate \xE2\x80\x93 Grey Skies",
                                  "Heather & Slate", "Grey Skies", "", "", 1}));
    const std::vector<Heard> ucs2 = listen(ridgeway, 7, 10);
    ASSERT_GE(ucs2.size(), 2u);
    EXPECT_EQ(ucs2[1].text, "Ridgeway: walkers\xE2\x80\x99 forecast");
    EXPECT_EQ(ucs2[1].programme, "walkers\xE2\x80\x99 forecast");
}

// The two behaviours of the chip the decoder relies on, and what it makes of
// a chip that does the opposite (sim/README.md, "What the radio relies on").
TEST_F(DlPlusBoardTest, ChipThatWithholdsDlPlusCommandsLeavesTheTextsWithoutNowPlaying) {
    sim::set_faults("dl-plus-withheld");
    const std::vector<Heard> heard = listen(summit_fm, 1, 23);
    ASSERT_EQ(heard.size(), 5u) << "three texts, the clear, a text: no command changes anything";
    EXPECT_EQ(heard[0].text, "Now playing: Cairn - Above the Cloud");
    for (const Heard &h : heard) {
        EXPECT_EQ(h.artist + h.title + h.station, "") << h;
    }
}

TEST_F(DlPlusBoardTest, ChipThatStripsThePrefixLeavesNoStationTextAndNothingPlaying) {
    sim::set_faults("dls-no-prefix");
    const std::vector<Heard> heard = listen(summit_fm, 1, 23);
    EXPECT_FALSE(heard.empty()) << "the packets still change the record";
    for (const Heard &h : heard) {
        EXPECT_EQ(h.text.find("Cairn"), std::string::npos) << h;
        EXPECT_EQ(h.text.find("Summit FM"), std::string::npos) << h;
        EXPECT_EQ(h.artist + h.title + h.station, "") << h;
    }
}

} // namespace
