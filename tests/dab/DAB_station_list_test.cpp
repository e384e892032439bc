// SPDX-License-Identifier: GPL-3.0-or-later
// The station list file: the exact text the writer produces, the raw bytes the
// reader rebuilds from it, and the database surviving a save and a read.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

using station_test::RawComponent;
using station_test::RawService;

constexpr char kHeader[] = "Automatically generated and machine read file, do not change!\n";

Si468x_EnsembleTime march_7_2019() {
    Si468x_EnsembleTime date{};
    date.year = 2019;
    date.month = 3;
    date.day = 7;
    date.hour = 9;
    date.minute = 5;
    date.second = 0;
    return date;
}

// A database that uses every field of the file: audio and data services,
// every TMID, the widest values of each bit field, a service without
// components and one with the most a service can have.
std::unique_ptr<DAB_ScanResults> varied_database() {
    auto results = station_test::make_results();
    std::vector<RawComponent> fifteen;
    for (uint16_t c = 0; c < 15; ++c) {
        fifteen.push_back({static_cast<uint16_t>(0x4000 * (c % 4) + 0x101 * c),
                           static_cast<uint8_t>(c & 1), static_cast<uint8_t>((c >> 1) & 1),
                           static_cast<uint8_t>(4 * c + 3), static_cast<uint8_t>((c >> 2) & 1)});
    }
    results->ensembles[0] = station_test::make_ensemble(
        1, 0,
        {{0xE1D6C221, 0, 10, 1, 0, 0, 0, "Tunelark One    ", {{0x0005, 1, 0, 5, 1}}},
         {0xE15C221, 1, 31, 0, 7, 1, 15, "Lark Data Svc 16", {{0xC305, 0, 1, 63, 0}}},
         {0x0000C0FF, 0, 0, 0, 0, 0, 0, "No Components AB", {}},
         {0xFFFFFFFF, 1, 1, 1, 1, 0, 1, "Fifteen Parts XY", fifteen}});
    results->ensembles[1] = station_test::make_ensemble(
        65535, 40,
        {{0x0000C301, 0, 4, 0, 3, 1, 2, "Second Ensemble1", {{0x8012, 1, 1, 1, 1}, {0x0001}}}});
    results->ensembles[2] = station_test::make_ensemble(
        9, 255, {{0x12345678, 0, 21, 1, 2, 0, 6, "Last Of Three  Z", {}}});
    results->num_ensembles = 3;
    results->scan_date = march_7_2019();
    return results;
}

class StationListFile : public testing::Test {
protected:
    std::string save(const DAB_ScanResults &results, uint8_t volume) {
        EXPECT_EQ(DAB_save_scan_results(&results, path_.c_str(), volume), 0);
        return station_test::read_file(path_);
    }
    int16_t read(DAB_ScanResults &results, uint8_t &volume) {
        int16_t status = 0;
        printed_ = station_test::captured_stdout(
            [&] { status = DAB_read_scan_results(&results, path_.c_str(), &volume); });
        return status;
    }
    int16_t read_text(const std::string &text, DAB_ScanResults &results, uint8_t &volume) {
        station_test::write_file(path_, text);
        return read(results, volume);
    }

    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
    std::string printed_;
};

TEST_F(StationListFile, EmptyDatabaseIsFourLinesWithTheDateWithoutLeadingZeros) {
    auto results = station_test::make_results();
    results->scan_date = march_7_2019();
    const std::string text = save(*results, 40);
    EXPECT_EQ(text, std::string(kHeader) + "Volume: 40\n"
                                           "Date of scan (YYYY-MM-DD, HH:MM:SS): 2019-3-7, 9:5:0\n"
                                           "Num. Ensembles: 0\n");
}

TEST_F(StationListFile, ServiceAndComponentAreWrittenFieldByField) {
    auto results = station_test::make_results();
    results->ensembles[0] = station_test::make_ensemble(
        7, 3, {{0xE1D6C221, 0, 10, 1, 0, 0, 0, "Tunelark One    ", {{0x0005, 1, 0, 5, 1}}}});
    results->num_ensembles = 1;
    results->scan_date = march_7_2019();
    // The audio service's ECC and the component's FIDCId, SCId and DG_flag are
    // not decoded for their kind and are written as 0.
    EXPECT_EQ(save(*results, 40), std::string(kHeader) +
                                      "Volume: 40\n"
                                      "Date of scan (YYYY-MM-DD, HH:MM:SS): 2019-3-7, 9:5:0\n"
                                      "Num. Ensembles: 1\n"
                                      "Ensemble No. 0\n"
                                      "List version: 7\n"
                                      "Freq. Index: 3\n"
                                      "Num services: 1\n"
                                      "Service No. 0\n"
                                      "Service ID. 3788948001\n"
                                      "Srv ref. 545\n"
                                      "Country ID 12\n"
                                      "ECC. 0\n"
                                      "PD Flag 0\n"
                                      "PTY 10\n"
                                      "SRV linking info flag 1\n"
                                      "number components 1\n"
                                      "CA ID 0\n"
                                      "local 0\n"
                                      "SI charset 0\n"
                                      "Label Tunelark One    \n"
                                      "Comp No. 0\n"
                                      "Comp ID 5\n"
                                      "SubChId 5\n"
                                      "tmid 0\n"
                                      "FIDCId 0\n"
                                      "SCId 0\n"
                                      "DG_flag 0\n"
                                      "CA_flag 1\n"
                                      "ps 0\n"
                                      "ASCTyDSCTy 5\n"
                                      "muA_info_valid 1\n");
}

TEST_F(StationListFile, ServiceWithoutComponentsIsFollowedByTheNextServiceOrEnsemble) {
    auto results = station_test::make_results();
    results->ensembles[0] = station_test::make_ensemble(
        1, 2, {{1, 0, 0, 0, 0, 0, 0, "A", {}}, {2, 0, 0, 0, 0, 0, 0, "B", {}}});
    results->ensembles[1] = station_test::make_ensemble(1, 5, {{3, 0, 0, 0, 0, 0, 0, "C", {}}});
    results->num_ensembles = 2;
    const auto lines = station_test::split_lines(save(*results, 0));
    ASSERT_EQ(lines.size(), 4u + 4 + 13 + 13 + 4 + 13);
    EXPECT_EQ(lines[20], "Label A");
    EXPECT_EQ(lines[21], "Service No. 1");
    EXPECT_EQ(lines[33], "Label B");
    EXPECT_EQ(lines[34], "Ensemble No. 1");
}

TEST_F(StationListFile, ServiceIdAndComponentFlagsAreRebuiltIntoTheRawBytes) {
    auto results = station_test::make_results();
    results->ensembles[0] = station_test::make_ensemble(
        1, 0, {{0xE1D6C221, 0, 0, 0, 0, 0, 0, "X", {{0x0005, 1, 0, 5, 0}}}});
    results->num_ensembles = 1;
    save(*results, 0);

    auto back = station_test::make_results();
    uint8_t volume = 0;
    ASSERT_EQ(read(*back, volume), 0);
    const uint8_t *raw = back->ensembles[0].service_data;
    EXPECT_EQ(raw[0], 0x21);
    EXPECT_EQ(raw[1], 0xC2);
    EXPECT_EQ(raw[2], 0xD6);
    EXPECT_EQ(raw[3], 0xE1);
    EXPECT_EQ(raw[24 + 2], 0x15);
}

TEST_F(StationListFile, DataLengthSumsTheServicesRead) {
    auto results = station_test::make_results();
    results->ensembles[0] = station_test::make_ensemble(
        1, 0, {{1, 0, 0, 0, 0, 0, 0, "A", {{1}, {2}}}, {2, 0, 0, 0, 0, 0, 0, "B", {{3}}}});
    results->num_ensembles = 1;
    save(*results, 0);
    auto back = station_test::make_results();
    uint8_t volume = 0;
    ASSERT_EQ(read(*back, volume), 0);
    EXPECT_EQ(back->ensembles[0].data_length, 60);
    EXPECT_EQ(back->ensembles[0].num_services, 2);
}

TEST_F(StationListFile, EveryStoredFieldSurvivesASaveAndARead) {
    auto results = varied_database();
    const std::string text = save(*results, 63);

    auto back = station_test::make_results();
    uint8_t volume = 0;
    ASSERT_EQ(read(*back, volume), 0);
    EXPECT_EQ(printed_, "Reading station list: " + path_ + "\n");
    EXPECT_EQ(volume, 63);
    ASSERT_EQ(back->num_ensembles, 3);
    for (int e = 0; e < 3; ++e) {
        SCOPED_TRACE("ensemble " + std::to_string(e));
        const DAB_Ensemble &saved = results->ensembles[e];
        const DAB_Ensemble &read_back = back->ensembles[e];
        EXPECT_EQ(read_back.list_version, saved.list_version);
        EXPECT_EQ(read_back.freq_index, saved.freq_index);
        EXPECT_EQ(read_back.num_services, saved.num_services);
        ASSERT_EQ(read_back.data_length, saved.data_length);
        // The built lists leave byte 7 and the reserved bits zero, as the
        // reader does: every raw byte comes back.
        EXPECT_EQ(0, std::memcmp(read_back.service_data, saved.service_data, saved.data_length));

        for (uint8_t s = 0; s < saved.num_services; ++s) {
            Si468x_Service a{};
            Si468x_Service b{};
            ASSERT_EQ(Si468x_get_digital_service(&saved, s, &a), 0);
            ASSERT_EQ(Si468x_get_digital_service(&read_back, s, &b), 0);
            EXPECT_EQ(b.service_id, a.service_id);
            EXPECT_EQ(b.pd_flag, a.pd_flag);
            EXPECT_EQ(b.pty, a.pty);
            EXPECT_EQ(b.linking_info, a.linking_info);
            EXPECT_EQ(b.num_components, a.num_components);
            EXPECT_EQ(b.ca_id, a.ca_id);
            EXPECT_EQ(b.local, a.local);
            EXPECT_EQ(b.si_charset, a.si_charset);
            EXPECT_EQ(std::string(b.label, 16), std::string(a.label, 16));
            for (uint8_t c = 0; c < a.num_components; ++c) {
                Si468x_Component x{};
                Si468x_Component y{};
                ASSERT_EQ(Si468x_get_digital_service_component(&a, c, &x), 0);
                ASSERT_EQ(Si468x_get_digital_service_component(&b, c, &y), 0);
                EXPECT_EQ(y.comp_id, x.comp_id);
                EXPECT_EQ(y.ca_flag, x.ca_flag);
                EXPECT_EQ(y.ps, x.ps);
                EXPECT_EQ(y.ascty_dscty, x.ascty_dscty);
                EXPECT_EQ(y.mua_info_valid, x.mua_info_valid);
            }
        }
    }

    // The reader keeps the date the record held; with the same date the
    // database read back writes the very same file.
    back->scan_date = results->scan_date;
    EXPECT_EQ(save(*back, volume), text);
}

TEST_F(StationListFile, ReadingRestoresTheDateAndClearsWhatTheFileDoesNotHold) {
    save(*varied_database(), 1);
    auto back = station_test::make_results();
    back->scan_date.year = 1999;
    back->ensembles[0].service_data[7] = 0xA5;
    back->ensembles[1].service_data[2000] = 0x5A;
    uint8_t volume = 0;
    ASSERT_EQ(read(*back, volume), 0);
    const Si468x_EnsembleTime date = back->scan_date;
    EXPECT_EQ(date.year, 2019);
    EXPECT_EQ(date.month, 3);
    EXPECT_EQ(date.day, 7);
    EXPECT_EQ(date.hour, 9);
    EXPECT_EQ(date.minute, 5);
    EXPECT_EQ(date.second, 0);
    EXPECT_EQ(back->ensembles[0].service_data[7], 0);
    EXPECT_EQ(back->ensembles[1].service_data[2000], 0);
}

TEST_F(StationListFile, MissingFileFailsAndLeavesDatabaseAndVolumeAlone) {
    auto results = varied_database();
    const auto before = *results;
    uint8_t volume = 17;
    path_ = (dir_ / "absent.txt").string();
    const int16_t status = read(*results, volume);
    EXPECT_EQ(status, -6);
    EXPECT_EQ(DABUtils_ErrorCode, 12);
    EXPECT_EQ(printed_, "Reading station list: " + path_ +
                            "\nCould not open file for reading\n"
                            "DABUtils error No: 12, returned retval: -6\n");
    EXPECT_EQ(volume, 17);
    EXPECT_EQ(0, std::memcmp(&before, results.get(), sizeof before));
}

TEST_F(StationListFile, FileThatCannotBeCreatedFailsWithTheErrorLine) {
    auto results = varied_database();
    const std::string path = (dir_ / "no-such-dir" / "stationlist.txt").string();
    int16_t status = 0;
    const std::string printed = station_test::captured_stdout(
        [&] { status = DAB_save_scan_results(results.get(), path.c_str(), 5); });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(DABUtils_ErrorCode, 11);
    EXPECT_EQ(printed, "DABUtils error No: 11, returned retval: -6\n");
}

// ---------------------------------------------------------------------------
// Labels: the label line is the one line whose text comes from the air.

class StationListLabel : public StationListFile {
protected:
    // Saves one service with this raw label and one component, reads it back.
    std::string round_trip(const std::string &label, Si468x_Service &service) {
        auto results = station_test::make_results();
        results->ensembles[0] = station_test::make_ensemble(
            1, 0, {{0x1234, 0, 3, 0, 0, 0, 0, label, {{0x0042, 1, 1, 9, 1}}}});
        results->ensembles[1] =
            station_test::make_ensemble(2, 9, {{0x5678, 0, 0, 0, 0, 0, 0, "Z", {}}});
        results->num_ensembles = 2;
        const std::string text = save(*results, 0);
        auto back = station_test::make_results();
        uint8_t volume = 0;
        EXPECT_EQ(read(*back, volume), 0);
        EXPECT_EQ(back->num_ensembles, 2);
        EXPECT_EQ(Si468x_get_digital_service(&back->ensembles[0], 0, &service), 0);
        // Everything after the label still lands where it belongs.
        Si468x_Component component{};
        EXPECT_EQ(Si468x_get_digital_service_component(&service, 0, &component), 0);
        EXPECT_EQ(component.comp_id, 0x42u);
        EXPECT_EQ(component.ascty_dscty, 9);
        EXPECT_EQ(component.mua_info_valid, 1);
        EXPECT_EQ(back->ensembles[1].freq_index, 9);
        EXPECT_EQ(back->ensembles[1].data_length, 24);
        return station_test::split_lines(text)[20];
    }
};

TEST_F(StationListLabel, LineEndsInsideALabelAreWrittenAsBlanks) {
    Si468x_Service service{};
    EXPECT_EQ(round_trip(std::string("Line\nFeed\rBack16", 16), service), "Label Line Feed Back16");
    EXPECT_EQ(std::string(service.label, 16), "Line Feed Back16");
}

TEST_F(StationListLabel, LabelStopsAtAZeroByteAndReadsBackZeroFilled) {
    Si468x_Service service{};
    EXPECT_EQ(round_trip(std::string("AB\0CDEFGHIJKLMNO", 16), service), "Label AB");
    EXPECT_EQ(std::string(service.label, 16), std::string("AB\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
}

TEST_F(StationListLabel, LabelOfBlanksDoesNotSwallowTheNextLine) {
    Si468x_Service service{};
    EXPECT_EQ(round_trip(std::string(16, ' '), service), "Label " + std::string(16, ' '));
    EXPECT_EQ(std::string(service.label, 16), std::string(16, ' '));
}

TEST_F(StationListLabel, LeadingBlanksAreKept) {
    Si468x_Service service{};
    EXPECT_EQ(round_trip("  Lantern Talk  ", service), "Label   Lantern Talk  ");
    EXPECT_EQ(std::string(service.label, 16), "  Lantern Talk  ");
    round_trip(" ", service);
    EXPECT_EQ(std::string(service.label, 16), std::string(" \0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16));
}

TEST_F(StationListLabel, LabelFilledWithSixteenCharactersComesBackWhole) {
    Si468x_Service service{};
    EXPECT_EQ(round_trip("0123456789abcdef", service), "Label 0123456789abcdef");
    EXPECT_EQ(std::string(service.label, 16), "0123456789abcdef");
}

} // namespace
