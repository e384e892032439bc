// SPDX-License-Identifier: GPL-3.0-or-later
// The station list reader on files it did not write: counts beyond the
// database's room, overlong lines, truncation and noise. It never fails on
// them, never stores outside the database and keeps the file in step.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

// File text written line by line, as a hand editor might leave it.
std::string file_header(unsigned volume, unsigned num_ensembles) {
    return "Automatically generated and machine read file, do not change!\n"
           "Volume: " +
           std::to_string(volume) +
           "\nDate of scan (YYYY-MM-DD, HH:MM:SS): 2020-1-2, 3:4:5\n"
           "Num. Ensembles: " +
           std::to_string(num_ensembles) + "\n";
}

std::string ensemble_lines(unsigned index, unsigned version, unsigned freq_index,
                           unsigned num_services) {
    return "Ensemble No. " + std::to_string(index) + "\nList version: " + std::to_string(version) +
           "\nFreq. Index: " + std::to_string(freq_index) +
           "\nNum services: " + std::to_string(num_services) + "\n";
}

// A service claiming `claimed` components, followed by `groups` component
// groups whose ids count up from `first_comp_id`.
std::string service_lines(unsigned index, unsigned long service_id, unsigned claimed,
                          unsigned groups, const std::string &label_line = "Label Lark",
                          unsigned first_comp_id = 1) {
    std::string text =
        "Service No. " + std::to_string(index) + "\nService ID. " + std::to_string(service_id) +
        "\nSrv ref. 0\nCountry ID 0\nECC. 0\nPD Flag 0\nPTY 1\n"
        "SRV linking info flag 0\nnumber components " +
        std::to_string(claimed) + "\nCA ID 0\nlocal 0\nSI charset 0\n" + label_line + "\n";
    for (unsigned c = 0; c < groups; ++c) {
        text += "Comp No. " + std::to_string(c) + "\nComp ID " + std::to_string(first_comp_id + c) +
                "\nSubChId 0\ntmid 0\nFIDCId 0\nSCId 0\nDG_flag 0\nCA_flag 0\nps 0\n"
                "ASCTyDSCTy 2\nmuA_info_valid 1\n";
    }
    return text;
}

// The second ensemble of every file below, read only if the file stayed in
// step up to it.
std::string sentinel_ensemble(unsigned index) {
    return ensemble_lines(index, 4242, 33, 1) +
           service_lines(0, 3788948001ul, 1, 1, "Label End", 77);
}

void expect_sentinel(const DAB_Ensemble &ensemble) {
    EXPECT_EQ(ensemble.list_version, 4242);
    EXPECT_EQ(ensemble.freq_index, 33);
    ASSERT_EQ(ensemble.num_services, 1);
    ASSERT_EQ(ensemble.data_length, 28);
    Si468x_Service service{};
    ASSERT_EQ(Si468x_get_digital_service(&ensemble, 0, &service), 0);
    EXPECT_EQ(service.service_id, 3788948001u);
    EXPECT_EQ(std::string(service.label, 3), "End");
    Si468x_Component component{};
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 0, &component), 0);
    EXPECT_EQ(component.comp_id, 77u);
}

// Every service of every stored ensemble decodes within its ensemble's bytes.
void expect_within_bounds(const DAB_ScanResults &results) {
    ASSERT_LE(results.num_ensembles, DAB_MAX_ENSEMBLES);
    for (int e = 0; e < results.num_ensembles; ++e) {
        const DAB_Ensemble &ensemble = results.ensembles[e];
        ASSERT_LE(ensemble.data_length, SI468X_SERVICE_DATA_SIZE);
        uint16_t end = 0;
        for (uint8_t s = 0; s < ensemble.num_services; ++s) {
            Si468x_Service service{};
            ASSERT_EQ(Si468x_get_digital_service(&ensemble, s, &service), 0)
                << "ensemble " << e << " service " << int(s);
            end = static_cast<uint16_t>(end + 24 + 4 * service.num_components);
        }
        EXPECT_EQ(end, ensemble.data_length) << "ensemble " << e;
    }
}

class StationListReader : public testing::Test {
protected:
    int16_t read_text(const std::string &text) {
        station_test::write_file(path_, text);
        int16_t status = 0;
        station_test::captured_stdout(
            [&] { status = DAB_read_scan_results(results_.get(), path_.c_str(), &volume_); });
        return status;
    }

    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
    std::unique_ptr<DAB_ScanResults> results_ = station_test::make_results();
    uint8_t volume_ = 0;
};

TEST_F(StationListReader, EnsemblesBeyondTwelveAreNotStored) {
    std::string text = file_header(20, 14);
    for (unsigned e = 0; e < 14; ++e) {
        text += ensemble_lines(e, e, e + 1, 1) + service_lines(0, 1000 + e, 1, 1);
    }
    ASSERT_EQ(read_text(text), 0);
    EXPECT_EQ(volume_, 20);
    ASSERT_EQ(results_->num_ensembles, 12);
    for (unsigned e = 0; e < 12; ++e) {
        EXPECT_EQ(results_->ensembles[e].freq_index, e + 1);
        Si468x_Service service{};
        ASSERT_EQ(Si468x_get_digital_service(&results_->ensembles[e], 0, &service), 0);
        EXPECT_EQ(service.service_id, 1000 + e);
    }
}

TEST_F(StationListReader, ServiceWithMoreThanFifteenComponentsEndsItsEnsemble) {
    const std::string text = file_header(1, 2) + ensemble_lines(0, 1, 2, 3) +
                             service_lines(0, 11, 2, 2) + service_lines(1, 12, 16, 16) +
                             service_lines(2, 13, 1, 1) + sentinel_ensemble(1);
    ASSERT_EQ(read_text(text), 0);
    ASSERT_EQ(results_->num_ensembles, 2);
    EXPECT_EQ(results_->ensembles[0].num_services, 1);
    EXPECT_EQ(results_->ensembles[0].data_length, 32);
    expect_sentinel(results_->ensembles[1]);
    expect_within_bounds(*results_);
}

TEST_F(StationListReader, ServiceWithFifteenComponentsIsStored) {
    const std::string text = file_header(1, 2) + ensemble_lines(0, 1, 2, 1) +
                             service_lines(0, 11, 15, 15) + sentinel_ensemble(1);
    ASSERT_EQ(read_text(text), 0);
    EXPECT_EQ(results_->ensembles[0].num_services, 1);
    EXPECT_EQ(results_->ensembles[0].data_length, 24 + 60);
    Si468x_Service service{};
    ASSERT_EQ(Si468x_get_digital_service(&results_->ensembles[0], 0, &service), 0);
    Si468x_Component last{};
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 14, &last), 0);
    EXPECT_EQ(last.comp_id, 15u);
    expect_sentinel(results_->ensembles[1]);
}

TEST_F(StationListReader, ServicesFillingExactly2048BytesAreStoredAndTheNextIsDropped) {
    // 84 services of 24 bytes and one of 32 fill the 2048 bytes exactly.
    std::string text = file_header(1, 2) + ensemble_lines(0, 1, 2, 86);
    for (unsigned s = 0; s < 84; ++s) {
        text += service_lines(s, s, 0, 0);
    }
    text += service_lines(84, 84, 2, 2) + service_lines(85, 85, 0, 0) + sentinel_ensemble(1);
    ASSERT_EQ(read_text(text), 0);
    EXPECT_EQ(results_->ensembles[0].num_services, 85);
    EXPECT_EQ(results_->ensembles[0].data_length, 2048);
    expect_sentinel(results_->ensembles[1]);
    expect_within_bounds(*results_);
}

TEST_F(StationListReader, ServiceThatWouldEndBeyond2048BytesEndsItsEnsemble) {
    // 84 services of 24 bytes leave 32; one of 36 bytes does not fit, and the
    // 24-byte one after it, which would, is dropped with it.
    std::string text = file_header(1, 2) + ensemble_lines(0, 1, 2, 86);
    for (unsigned s = 0; s < 84; ++s) {
        text += service_lines(s, s, 0, 0);
    }
    text += service_lines(84, 84, 3, 3) + service_lines(85, 85, 0, 0) + sentinel_ensemble(1);
    ASSERT_EQ(read_text(text), 0);
    EXPECT_EQ(results_->ensembles[0].num_services, 84);
    EXPECT_EQ(results_->ensembles[0].data_length, 2016);
    expect_sentinel(results_->ensembles[1]);
    expect_within_bounds(*results_);
}

TEST_F(StationListReader, OverlongLabelLineIsCutWithoutShiftingTheFollowingLines) {
    const std::string text =
        file_header(1, 2) + ensemble_lines(0, 1, 2, 1) +
        service_lines(0, 11, 1, 1,
                      "Label ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789" + std::string(300, '!'), 500) +
        sentinel_ensemble(1);
    ASSERT_EQ(read_text(text), 0);
    Si468x_Service service{};
    ASSERT_EQ(Si468x_get_digital_service(&results_->ensembles[0], 0, &service), 0);
    EXPECT_EQ(std::string(service.label, 16), "ABCDEFGHIJKLMNOP");
    Si468x_Component component{};
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 0, &component), 0);
    EXPECT_EQ(component.comp_id, 500u);
    expect_sentinel(results_->ensembles[1]);
}

TEST_F(StationListReader, FileThatEndsEarlyHoldsWhatItHas) {
    // Three ensembles claimed, one and a half present: the second claims five
    // services and holds two.
    const std::string text = file_header(5, 3) + sentinel_ensemble(0) + ensemble_lines(1, 9, 8, 5) +
                             service_lines(0, 21, 2, 2) + service_lines(1, 22, 1, 1);
    ASSERT_EQ(read_text(text), 0);
    ASSERT_EQ(results_->num_ensembles, 2);
    expect_sentinel(results_->ensembles[0]);
    EXPECT_EQ(results_->ensembles[1].num_services, 2);
    EXPECT_EQ(results_->ensembles[1].data_length, 32 + 28);
    expect_within_bounds(*results_);
}

// Cut at every byte: only the services whose last line is there whole are
// stored, each exactly as in the whole file; a service cut short is never
// stored zero-filled or with the start of a label or number.
TEST_F(StationListReader, FileCutInsideAServiceStoresOnlyTheWholeServicesBeforeIt) {
    const std::string head = file_header(5, 1) + ensemble_lines(0, 9, 8, 3);
    const std::string services[] = {service_lines(0, 21, 3, 3, "Label Lark", 40),
                                    service_lines(1, 22, 0, 0, "Label Wren Song"),
                                    service_lines(2, 23, 1, 1, "Label End", 77)};
    const std::string whole = head + services[0] + services[1] + services[2];
    ASSERT_EQ(read_text(whole), 0);
    const auto complete = std::make_unique<DAB_ScanResults>(*results_);
    ASSERT_EQ(complete->ensembles[0].num_services, 3);

    std::size_t ends[3] = {};
    std::size_t at = head.size();
    for (int s = 0; s < 3; ++s) {
        at += services[s].size();
        ends[s] = at;
    }
    for (std::size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE("cut at " + std::to_string(length));
        results_ = station_test::make_results();
        ASSERT_EQ(read_text(whole.substr(0, length)), 0);
        const uint8_t expected = static_cast<uint8_t>((length >= ends[0]) + (length >= ends[1]));
        if (length < head.size()) {
            EXPECT_EQ(results_->num_ensembles, 0);
            continue;
        }
        ASSERT_EQ(results_->num_ensembles, 1);
        const DAB_Ensemble &ensemble = results_->ensembles[0];
        ASSERT_EQ(ensemble.num_services, expected);
        // The stored bytes are those of the whole file's first services, and
        // nothing of the one cut short is left after them.
        ASSERT_EQ(ensemble.data_length, expected == 0 ? 0 : expected == 1 ? 36 : 60);
        EXPECT_EQ(0, std::memcmp(ensemble.service_data, complete->ensembles[0].service_data,
                                 ensemble.data_length));
        const uint8_t *rest = ensemble.service_data + ensemble.data_length;
        EXPECT_EQ(std::count(rest, ensemble.service_data + SI468X_SERVICE_DATA_SIZE, 0),
                  SI468X_SERVICE_DATA_SIZE - ensemble.data_length);
    }
}

// A file cut at every byte: still status 0, and whatever was stored stays
// inside the database, service by service.
TEST_F(StationListReader, FileCutAnywhereStaysWithinTheDatabase) {
    const std::string text = file_header(9, 3) + ensemble_lines(0, 1, 2, 2) +
                             service_lines(0, 11, 2, 2) + service_lines(1, 12, 15, 15) +
                             ensemble_lines(1, 1, 2, 1) + service_lines(0, 13, 1, 1) +
                             sentinel_ensemble(2);
    for (std::size_t length = 0; length <= text.size(); length += 7) {
        SCOPED_TRACE("length " + std::to_string(length));
        results_ = station_test::make_results();
        ASSERT_EQ(read_text(text.substr(0, length)), 0);
        expect_within_bounds(*results_);
    }
    ASSERT_EQ(read_text(text), 0);
    expect_sentinel(results_->ensembles[2]);
}

TEST_F(StationListReader, NoiseAndHugeCountsStayWithinTheDatabase) {
    std::mt19937 random(20240601);
    for (int round = 0; round < 40; ++round) {
        std::string noise(2000, '\0');
        for (char &c : noise) {
            // Mostly digits, blanks and line ends, so numbers get matched.
            const char alphabet[] = "0123456789 \n\n\tLabelNo.:-,";
            c = alphabet[random() % (sizeof alphabet - 1)];
        }
        const std::string text = file_header(7, 255) + ensemble_lines(0, 99999, 999, 4000000255u) +
                                 service_lines(0, 99999999999ul, 255, 3) + noise;
        results_ = station_test::make_results();
        ASSERT_EQ(read_text(text), 0);
        expect_within_bounds(*results_);
    }
}

} // namespace
