// SPDX-License-Identifier: GPL-3.0-or-later
// Band files: the example file, defaults, round trips and every kind of refusal.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>

#include "Band.h"
#include "Clock.h"
#include "DabRadio.h"
#include "Faults.h"

namespace {

const std::string example_path = std::string(TUNELARK_SOURCE_DIR) + "/sim/bands/example.json";

sim::Band parse_ok(const std::string &json) {
    sim::Band band;
    std::string error;
    EXPECT_TRUE(sim::parse_band_json(json, &band, &error)) << error;
    return band;
}

std::string refusal(const std::string &json) {
    sim::Band band;
    std::string error;
    EXPECT_FALSE(sim::parse_band_json(json, &band, &error)) << json;
    return error;
}

TEST(BandJson, ExampleFileLoadsWithWhatItSays) {
    sim::Clock clock;
    sim::Faults faults;
    std::map<uint16_t, uint16_t> properties;
    sim::DabRadio radio(clock, faults, properties);
    std::string error;
    ASSERT_TRUE(radio.load_band_file(example_path, &error)) << error;
    const auto &band = radio.band();
    EXPECT_EQ(band.frequencies, sim::band_iii_frequencies());
    ASSERT_EQ(band.ensembles.size(), 3u);

    const auto &first = band.ensembles[0];
    EXPECT_EQ(first.frequency_khz, 180064u);
    EXPECT_EQ(first.id, 0x20A1);
    EXPECT_EQ(first.label, sim::make_label("Example Mux"));
    ASSERT_TRUE(first.time.has_value());
    EXPECT_EQ(*first.time, (sim::DateTime{2025, 3, 7, 9, 5, 0}));
    ASSERT_EQ(first.services.size(), 3u);
    const auto &pop = first.services[0];
    EXPECT_EQ(pop.id, 0xC0A1u);
    ASSERT_EQ(pop.components.size(), 1u);
    EXPECT_TRUE(pop.components[0].ps) << "a first component is primary unless told";
    ASSERT_EQ(pop.components[0].user_applications.size(), 2u);
    EXPECT_EQ(pop.components[0].user_applications[1].type, 0x044A);
    EXPECT_EQ(first.services[1].label[0], 0);
    EXPECT_EQ(first.services[1].label[1], 'H');
    EXPECT_EQ(first.services[2].id, 0xE100C0A3u) << "the ECC goes into the top byte";
    EXPECT_EQ(first.services[2].packets[0].payload.size(), 8u);

    EXPECT_EQ(band.ensembles[1].frequency_khz, 227360u);
    EXPECT_EQ(band.ensembles[1].services[0].label[0], ' ');
    EXPECT_FALSE(band.ensembles[2].reception.acquires);
}

TEST(BandJson, OmittedFieldsTakeTheirDefaults) {
    const auto band = parse_ok(R"({"ensembles": [{"index": 40, "services": [{"id": 7}]}]})");
    EXPECT_EQ(band.frequencies.size(), 41u);
    const auto &e = band.ensembles.at(0);
    EXPECT_EQ(e.frequency_khz, 239200u);
    EXPECT_EQ(e.list_version, 1);
    EXPECT_EQ(e.reception, sim::Reception{});
    EXPECT_FALSE(e.time.has_value());
    EXPECT_TRUE(e.time_runs);
    const auto &s = e.services.at(0);
    EXPECT_FALSE(s.data);
    EXPECT_EQ(s.label, sim::make_label(""));
    EXPECT_TRUE(s.components.empty());
    EXPECT_TRUE(s.texts.empty());
}

TEST(BandJson, DefaultBandSurvivesARoundTrip) {
    const sim::Band original = sim::default_band();
    const auto copy = parse_ok(sim::band_to_json(original));
    EXPECT_TRUE(copy == original);
}

TEST(BandJson, ManyEnsemblesAndALongFrequencyListAreDescribable) {
    std::string frequencies;
    std::string ensembles;
    for (int i = 0; i < 100; ++i) {
        frequencies += (i ? "," : "") + std::to_string(170000 + i * 250);
    }
    for (int i = 0; i < 20; ++i) {
        ensembles += std::string(i ? "," : "") + R"({"index": )" + std::to_string(i * 5) +
                     R"(, "services": [{"id": )" + std::to_string(0xC000 + i) +
                     R"(, "components": [{"id": 1}]}]})";
    }
    const auto band =
        parse_ok(R"({"frequencies": [)" + frequencies + R"(], "ensembles": [)" + ensembles + "]}");
    EXPECT_EQ(band.frequencies.size(), 100u);
    EXPECT_EQ(band.ensembles.size(), 20u);
    EXPECT_EQ(band.ensembles.back().frequency_khz, 170000u + 95 * 250);
}

TEST(BandJson, NumbersMayBeHexOrDecimalTextAndTimesObjects) {
    const auto band = parse_ok(R"({"ensembles": [{"frequency": "174928", "id": "0xffff",
        "time": {"year": 0, "month": 0, "day": 0, "hour": 25}, "time_runs": false,
        "services": [{"id": "0xFFFFFFFF"}]}]})");
    const auto &e = band.ensembles.at(0);
    EXPECT_EQ(e.frequency_khz, 174928u);
    EXPECT_EQ(e.id, 0xFFFF);
    EXPECT_EQ(e.time->hour, 25) << "an implausible time is the band's to give";
    EXPECT_EQ(e.services[0].id, 0xFFFFFFFFu);
}

struct Malformed {
    const char *what;
    std::string json;
    std::string names; // part of the message
};

class BandJsonRefuses : public ::testing::TestWithParam<Malformed> {};

TEST_P(BandJsonRefuses, WithAMessageNamingTheFault) {
    const auto error = refusal(GetParam().json);
    EXPECT_NE(error.find(GetParam().names), std::string::npos) << error;
}

std::string one_service(const std::string &service) {
    return R"({"ensembles": [{"index": 0, "services": [)" + service + "]}]}";
}

std::string components(int n) {
    std::string list;
    for (int i = 0; i < n; ++i) {
        list += std::string(i ? "," : "") + R"({"id": )" + std::to_string(i) + "}";
    }
    return one_service(R"({"id": 1, "components": [)" + list + "]}");
}

std::string ua_bytes(int entries, int length) {
    std::string data;
    for (int i = 0; i < length; ++i) {
        data += std::string(i ? "," : "") + "1";
    }
    std::string list;
    for (int i = 0; i < entries; ++i) {
        list += std::string(i ? "," : "") + R"({"type": 2, "data": [)" + data + "]}";
    }
    return one_service(R"({"id": 1, "components": [{"id": 1, "user_applications": [)" + list +
                       "]}]}");
}

std::string services(int n) {
    std::string list;
    for (int i = 0; i < n; ++i) {
        list += std::string(i ? "," : "") + R"({"id": )" + std::to_string(i) + "}";
    }
    return R"({"ensembles": [{"index": 0, "services": [)" + list + "]}]}";
}

std::string frequencies(int n) {
    std::string list;
    for (int i = 0; i < n; ++i) {
        list += std::string(i ? "," : "") + std::to_string(100000 + i);
    }
    return R"({"frequencies": [)" + list + "]}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BandJsonRefuses,
    ::testing::Values(
        Malformed{"not json", "{\"ensembles\": [", "not valid JSON"},
        Malformed{"text entry with neither text nor bytes",
                  one_service(R"({"id": 1, "texts": [{"charset": 15}]})"), "give text or bytes"},
        Malformed{"clear display with a text",
                  one_service(R"({"id": 1, "texts": [{"clear": true, "text": "x"}]})"),
                  "texts[0]: a clear-display command has no text"},
        Malformed{
            "DL Plus with five tags",
            one_service(
                R"({"id": 1, "texts": [{"text": "x", "dl_plus": {"tags": [{}, {}, {}, {}, {}]}}]})"),
            "5 tags, DL Plus sends 1 to 4"},
        Malformed{
            "DL Plus tag of no characters",
            one_service(
                R"({"id": 1, "texts": [{"text": "x", "dl_plus": {"tags": [{"length": 0}]}}]})"),
            "tags[0].length: a tag marks at least one character"},
        Malformed{"empty text", "", "not valid JSON"},
        Malformed{"top level array", "[]", "expected an object"},
        Malformed{"unknown key", R"({"ensembles": [], "bandwidth": 1})", "bandwidth: unknown key"},
        Malformed{"misspelt nested key", one_service(R"({"id": 1, "lable": "x"})"),
                  "ensembles[0].services[0].lable"},
        Malformed{"string for a number", R"({"ensembles": [{"index": "three"}]})", "not a number"},
        Malformed{"float", R"({"ensembles": [{"index": 1.5}]})", "expected a whole number"},
        Malformed{"negative", R"({"ensembles": [{"index": -1}]})", "negative"},
        Malformed{"number for a bool", one_service(R"({"id": 1, "data": 1})"), "true or false"},
        Malformed{"wrong container", R"({"ensembles": {"index": 1}})", "expected an array"},
        Malformed{"index beyond list", R"({"ensembles": [{"index": 41}]})", "beyond the 41"},
        Malformed{"both index and frequency",
                  R"({"ensembles": [{"index": 1, "frequency": 176640}]})",
                  "either an index or a frequency"},
        Malformed{"neither index nor frequency", R"({"ensembles": [{}]})", "either an index"},
        Malformed{"frequency off the list", R"({"ensembles": [{"frequency": 175000}]})",
                  "not in the frequency list"},
        Malformed{"two ensembles on one channel",
                  R"({"ensembles": [{"index": 3}, {"frequency": 180064}]})", "second ensemble"},
        Malformed{"rssi above a byte",
                  R"({"ensembles": [{"index": 0, "reception": {"rssi": 256}}]})", "above 255"},
        Malformed{"label of 17 bytes", one_service(R"({"id": 1, "label": "ABCDEFGHIJKLMNOPQ"})"),
                  "a label holds 16"},
        Malformed{"label of 17 bytes in UTF-8",
                  one_service(R"({"id": 1, "label": "ABCDEFGHIJKLMNO\u00e9"})"), "17 bytes"},
        Malformed{"label and label_bytes",
                  one_service(R"({"id": 1, "label": "a", "label_bytes": [65]})"), "not both"},
        Malformed{"label byte above 255", one_service(R"({"id": 1, "label_bytes": [256]})"),
                  "label_bytes[0]"},
        Malformed{"16 components", components(16), "15 at most"},
        Malformed{"component id twice",
                  one_service(R"({"id": 1, "components": [{"id": 3}, {"id": 3}]})"), "used twice"},
        Malformed{"component without id", one_service(R"({"id": 1, "components": [{}]})"),
                  "needs an id"},
        Malformed{"service without id", one_service(R"({"label": "x"})"), "needs an id"},
        Malformed{"pty of 6 bits", one_service(R"({"id": 1, "pty": 32})"), "above 31"},
        Malformed{"ascty of 7 bits",
                  one_service(R"({"id": 1, "components": [{"id": 1, "ascty_dscty": 64}]})"),
                  "above 63"},
        Malformed{"ecc on audio", one_service(R"({"id": 1, "ecc": 225})"), "only a data service"},
        Malformed{"ecc against the id",
                  one_service(R"({"id": "0xE2000001", "data": true, "ecc": "0xE1"})"), "differs"},
        Malformed{"service id above 32 bits", one_service(R"({"id": 4294967296})"), "above"},
        Malformed{"ua data of 256 bytes", ua_bytes(1, 256), "more than 255"},
        Malformed{"ua fields beyond 255 bytes", ua_bytes(2, 126), "do not fit"},
        Malformed{"ua without type",
                  one_service(R"({"id": 1, "components": [{"id": 1, "user_applications": [{}]}]})"),
                  "needs a type"},
        Malformed{"text of the wrong type", one_service(R"({"id": 1, "texts": [5]})"),
                  "expected a string"},
        Malformed{"text byte above 255", one_service(R"({"id": 1, "texts": [[71, 256]]})"),
                  "above 255"},
        Malformed{"text too long",
                  one_service(R"({"id": 1, "texts": [")" + std::string(4094, 'x') + R"("]})"),
                  "longer than 4093"},
        Malformed{"packet payload too long",
                  one_service(R"({"id": 1, "packets": [{"payload_text": ")" +
                              std::string(4097, 'x') + R"("}]})"),
                  "longer than 4096"},
        Malformed{"packet data source of 3 bits",
                  one_service(R"({"id": 1, "packets": [{"data_src": 4}]})"), "above 3"},
        Malformed{"time text malformed", R"({"ensembles": [{"index": 0, "time": "2024-05-17"}]})",
                  "YYYY-MM-DD"},
        Malformed{"time year too large",
                  R"({"ensembles": [{"index": 0, "time": "70000-01-01 00:00:00"}]})",
                  "beyond what the chip reports"},
        Malformed{"256 services", services(256), "more than 255 services"},
        Malformed{"empty frequency list", R"({"frequencies": []})", "empty"},
        Malformed{"256 frequencies", frequencies(256), "at most 255"},
        Malformed{"duplicate frequency", R"({"frequencies": [174928, 174928]})", "listed twice"},
        Malformed{"zero frequency", R"({"frequencies": [0]})", "0 kHz"}),
    [](const ::testing::TestParamInfo<Malformed> &info) {
        std::string name;
        for (const char *c = info.param.what; *c != '\0'; ++c) {
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        }
        return name;
    });

TEST(BandJson, FailedLoadsKeepTheBandReceivedAndNameTheFile) {
    sim::Clock clock;
    sim::Faults faults;
    std::map<uint16_t, uint16_t> properties;
    sim::DabRadio radio(clock, faults, properties);
    const sim::Band before = radio.band();

    std::string error;
    EXPECT_FALSE(radio.load_band_file("/nonexistent/band.json", &error));
    EXPECT_NE(error.find("/nonexistent/band.json"), std::string::npos) << error;

    const std::string path = std::string(TUNELARK_BINARY_DIR) + "/band_json_test_bad.json";
    {
        std::ofstream out(path);
        out << R"({"ensembles": [{"index": 99}]})";
    }
    EXPECT_FALSE(radio.load_band_file(path, &error));
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_NE(error.find("ensembles[0].index"), std::string::npos) << error;
    std::remove(path.c_str());

    EXPECT_FALSE(radio.load_band_json("{", nullptr)) << "no message wanted, no crash";
    EXPECT_TRUE(radio.band() == before);

    ASSERT_TRUE(radio.load_band_json(R"({"ensembles": []})", &error)) << error;
    EXPECT_TRUE(radio.band().ensembles.empty());
    radio.use_default_band();
    EXPECT_TRUE(radio.band() == before);
}

TEST(BandJson, CommentsAreAllowedAtEveryLevel) {
    const auto band = parse_ok(R"({"comment": "top", "ensembles": [{"comment": "e", "index": 0,
        "reception": {"comment": "r"}, "services": [{"comment": "s", "id": 1,
        "components": [{"comment": "c", "id": 1}]}]}]})");
    EXPECT_EQ(band.ensembles.at(0).services.at(0).components.size(), 1u);
}

TEST(BandJson, TextsMayBeTheBroadcastCharacterSetsOwnBytes) {
    const auto band = parse_ok(
        one_service(R"({"id": 1, "texts": ["Plain", [71, 114, 153, 141, 101, 0, 255], []]})"));
    const auto &texts = band.ensembles[0].services[0].texts;
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Plain");
    EXPECT_EQ(texts[1], std::string("Gr\x99\x8D"
                                    "e\0\xFF",
                                    7));
    EXPECT_EQ(texts[2], "");
    // Written back as bytes, so no byte is lost to a text encoding.
    const auto copy = parse_ok(sim::band_to_json(band));
    EXPECT_EQ(copy.ensembles[0].services[0].texts, texts);
}

} // namespace
