// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic label decoder: messages in each character set, clear display,
// and DL Plus tags held to the message they follow and to its characters.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "DAB_dl_plus.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes message(uint8_t toggle, uint8_t charset, const std::string &text) {
    Bytes packet = {static_cast<uint8_t>(toggle << 7), static_cast<uint8_t>(charset << 4)};
    packet.reserve(text.size() + 3); // spares GCC 12 a false -Warray-bounds on the insert
    packet.insert(packet.end(), text.begin(), text.end());
    packet.push_back(0x00); // the chip's byte after the message
    return packet;
}

// A DL Plus command: IT, IR and the tags as {type, start, characters}.
Bytes tags(uint8_t toggle, uint8_t it, uint8_t ir, const std::vector<std::array<int, 3>> &list) {
    Bytes field = {static_cast<uint8_t>(it << 3 | ir << 2 | (list.size() - 1))};
    for (const auto &t : list) {
        field.insert(field.end(), {uint8_t(t[0]), uint8_t(t[1]), uint8_t(t[2] - 1)});
    }
    Bytes packet = {static_cast<uint8_t>(toggle << 7 | 0x12),
                    static_cast<uint8_t>(field.size() - 1)};
    packet.insert(packet.end(), field.begin(), field.end());
    packet.push_back(0x00);
    return packet;
}

struct DlsTest : ::testing::Test {
    std::unique_ptr<DAB_Dls> dls = std::make_unique<DAB_Dls>(); // zeroed
    uint8_t feed(const Bytes &packet) {
        return DAB_dls_feed(dls.get(), packet.data(), static_cast<uint16_t>(packet.size()));
    }
    const DAB_NowPlaying &np() const { return dls->now_playing; }
};

TEST_F(DlsTest, WorkedExampleGivesArtistAndTitleOnceAndRepeatsChangeNothing) {
    const Bytes text = message(1, 0, "Now: Mara Voss - Paper Boats");
    const Bytes command = {0x92, 0x06, 0x0D, 0x04, 0x05, 0x08, 0x01, 0x11, 0x0A, 0x00};
    EXPECT_EQ(feed(text), DAB_DLS_TEXT_CHANGED);
    EXPECT_EQ(feed(command), DAB_DLS_NOW_PLAYING_CHANGED);
    EXPECT_STREQ(dls->text, "Now: Mara Voss - Paper Boats");
    EXPECT_STREQ(np().artist, "Mara Voss");
    EXPECT_STREQ(np().title, "Paper Boats");
    EXPECT_EQ(np().item_running, 1);
    EXPECT_EQ(feed(text), 0);
    EXPECT_EQ(feed(command), 0);
}

TEST_F(DlsTest, OneToFourTagsFillTheirFieldsAndDummyNone) {
    feed(message(0, 0, "ABCDEFGHIJKL"));
    EXPECT_EQ(feed(tags(0, 0, 1, {{1, 0, 2}})), DAB_DLS_NOW_PLAYING_CHANGED);
    EXPECT_STREQ(np().title, "AB");
    feed(tags(0, 0, 1, {{1, 0, 1}, {4, 1, 2}, {2, 3, 3}, {33, 6, 6}}));
    EXPECT_STREQ(np().title, "A");
    EXPECT_STREQ(np().artist, "BC");
    EXPECT_STREQ(np().album, "DEF");
    EXPECT_STREQ(np().programme_now, "GHIJKL");
    feed(tags(0, 0, 1, {{0, 0, 12}, {32, 2, 2}, {12, 4, 1}}));
    EXPECT_EQ(DAB_now_playing_field(&np(), DAB_DL_PLUS_DUMMY), nullptr);
    EXPECT_STREQ(np().other[0], "");
    EXPECT_STREQ(np().station_name_long, "CD");
    EXPECT_STREQ(DAB_now_playing_field(&np(), 12), "E"); // INFO.NEWS
    EXPECT_STREQ(np().title, "A") << "the item goes on: its fields stay";
}

TEST_F(DlsTest, ANewItemOrOneThatStopsClearsTheItemFieldsOnly) {
    feed(message(0, 0, "Mara Voss - Paper Boats"));
    feed(tags(0, 0, 1, {{4, 0, 9}, {1, 12, 11}}));
    feed(message(1, 0, "Harbour FM"));
    feed(tags(1, 0, 1, {{32, 0, 10}}));
    EXPECT_STREQ(np().artist, "Mara Voss") << "a later message of the same item";
    EXPECT_STREQ(np().station_name_long, "Harbour FM");

    feed(message(0, 0, "Low Hum"));
    EXPECT_EQ(feed(tags(0, 1, 1, {{1, 0, 7}})), DAB_DLS_NOW_PLAYING_CHANGED);
    EXPECT_STREQ(np().title, "Low Hum");
    EXPECT_STREQ(np().artist, "") << "the new item has no artist";

    feed(message(1, 0, "News at nine"));
    EXPECT_EQ(feed(tags(1, 1, 0, {{1, 0, 4}, {33, 0, 12}})), DAB_DLS_NOW_PLAYING_CHANGED);
    EXPECT_EQ(np().item_running, 0);
    EXPECT_STREQ(np().title, "") << "no item plays: its tags describe nothing";
    EXPECT_STREQ(np().programme_now, "News at nine");
    EXPECT_STREQ(np().station_name_long, "Harbour FM");
}

TEST_F(DlsTest, TagsWithoutTheirMessageAreDropped) {
    EXPECT_EQ(feed(tags(1, 0, 1, {{1, 0, 3}})), 0) << "no message before it";
    feed(message(1, 0, "First message"));
    feed(message(0, 0, "Second"));
    EXPECT_EQ(feed(tags(1, 0, 1, {{1, 0, 5}})), 0) << "for the message replaced since";
    EXPECT_EQ(feed({0x10 | 0x01, 0x00, 0x00}), DAB_DLS_TEXT_CHANGED); // clear display
    EXPECT_EQ(feed(tags(0, 0, 1, {{1, 0, 3}})), 0) << "its message was cleared";
    EXPECT_STREQ(np().title, "");
}

TEST_F(DlsTest, MarkersReachTheLastCharacterAndNoFurther) {
    feed(message(0, 0, "ABCDEFGHIJ"));
    feed(tags(0, 0, 1, {{1, 9, 1}, {4, 9, 2}, {2, 10, 1}}));
    EXPECT_STREQ(np().title, "J");
    EXPECT_STREQ(np().artist, "");
    EXPECT_STREQ(np().album, "");
    // Two tags announced, one sent: nothing of it is taken, not even IT.
    EXPECT_EQ(feed({0x12, 0x03, 0x09, 0x01, 0x00, 0x00, 0x00}), 0);
    EXPECT_STREQ(np().title, "J");
    // A field longer than the packet.
    EXPECT_EQ(feed({0x12, 0x06, 0x00, 0x01, 0x00, 0x01}), 0);
}

TEST_F(DlsTest, Utf8AndUcs2MessagesCountCharacters) {
    // "Émile – Café ☕ 𝄞": markers count code points, not bytes.
    EXPECT_EQ(
        feed(message(0, 15, "\xC3\x89mile \xE2\x80\x93 Caf\xC3\xA9 \xE2\x98\x95 \xF0\x9D\x84\x9E")),
        DAB_DLS_TEXT_CHANGED);
    feed(tags(0, 0, 1, {{4, 0, 5}, {1, 8, 6}, {2, 15, 1}}));
    EXPECT_STREQ(np().artist, "\xC3\x89mile");
    EXPECT_STREQ(np().title, "Caf\xC3\xA9 \xE2\x98\x95");
    EXPECT_STREQ(np().album, "\xF0\x9D\x84\x9E");
    // An ill-formed byte is one character (U+FFFD), a cut one at the end none.
    feed(message(1, 15,
                 "a\xFF"
                 "b\xE2\x98"));
    EXPECT_STREQ(dls->text, "a\xEF\xBF\xBD"
                            "b");
    // UCS-2 big-endian: "Łódź" then a surrogate.
    feed(message(0, 6, std::string("\x01\x41\x00\xF3\x00\x64\x01\x7A\xD8\x00", 10)));
    EXPECT_STREQ(dls->text, "\xC5\x81\xC3\xB3\x64\xC5\xBA\xEF\xBF\xBD");
    feed(tags(0, 0, 1, {{1, 1, 3}}));
    EXPECT_STREQ(np().title, "\xC3\xB3\x64\xC5\xBA");
}

TEST_F(DlsTest, EbuLatinControlsReadAsTheRowShowsThemButCountAsCharacters) {
    // Character set 4 reads as EBU Latin: 0x97 is ö; a word break (0x1F)
    // disappears from the text but holds its position; a line break is a blank.
    feed(message(0, 4,
                 "K\x97ln\x1F"
                 "er\x0AWelle"));
    EXPECT_STREQ(dls->text, "K\xC3\xB6lner Welle");
    feed(tags(0, 0, 1, {{1, 5, 2}, {4, 8, 5}}));
    EXPECT_STREQ(np().title, "er");
    EXPECT_STREQ(np().artist, "Welle");
}

TEST_F(DlsTest, ClearDisplayEmptiesTheTextOnceAndOnlyTheDynamicLabelSourceIsRead) {
    feed(message(0, 0, "Hello"));
    EXPECT_EQ(feed({0x91, 0x00, 0x00}), DAB_DLS_TEXT_CHANGED);
    EXPECT_STREQ(dls->text, "");
    EXPECT_EQ(feed({0x11, 0x00, 0x00}), 0);
    auto data = std::make_unique<Si468x_ServiceData>();
    const Bytes slideshow = {0x06, 0x4D, 0x01, 0x00, 'x', 'y'};
    std::copy(slideshow.begin(), slideshow.end(), data->payload);
    data->byte_count = static_cast<uint16_t>(slideshow.size());
    data->data_src = 1;
    EXPECT_EQ(DAB_dls_feed_packet(dls.get(), data.get()), 0);
    data->data_src = DAB_DLS_DATA_SOURCE;
    EXPECT_EQ(DAB_dls_feed_packet(dls.get(), data.get()), DAB_DLS_TEXT_CHANGED);
}

} // namespace
