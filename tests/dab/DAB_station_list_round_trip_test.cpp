// SPDX-License-Identifier: GPL-3.0-or-later
// A station list read back and saved again is the list that was saved: the
// database of a real scan comes back byte for byte, and its file changes
// only in the volume line.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

class ScannedList : public station_test::SimulatedReceiver {
protected:
    std::string save(const DAB_ScanResults &results, uint8_t volume) {
        EXPECT_EQ(DAB_save_scan_results(&results, path_.c_str(), volume), 0);
        return station_test::read_file(path_);
    }

    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
};

TEST_F(ScannedList, ReadAndSavedAgainOnlyTheVolumeLineDiffers) {
    const auto frequencies = chip_frequencies();
    auto scanned = station_test::make_results();
    station_test::captured_stdout([&] {
        DAB_do_full_scan(scanned.get(), frequencies.data(),
                         static_cast<uint8_t>(frequencies.size()));
    });
    ASSERT_GT(scanned->num_ensembles, 0);
    const std::string first = save(*scanned, 40);
    // What the round trip must carry: a broadcast date and a label that
    // starts with blanks.
    ASSERT_EQ(first.find("Date of scan (YYYY-MM-DD, HH:MM:SS): 0-0-0"), std::string::npos);
    ASSERT_NE(first.find("\nLabel   Lantern Talk  \n"), std::string::npos);

    auto back = station_test::make_results();
    uint8_t volume = 0;
    DAB_ListCheck check{};
    station_test::captured_stdout(
        [&] { EXPECT_EQ(DAB_read_station_list(back.get(), path_.c_str(), &volume, &check), 0); });
    EXPECT_EQ(check.whole, 1) << "line " << check.line;
    EXPECT_EQ(volume, 40);

    // read(write(db)) = db: every field of the record, every raw byte, but
    // for the label bytes after a first zero byte, which the file has never
    // held (the band has a service whose label starts with one).
    for (unsigned e = 0; e < scanned->num_ensembles; ++e) {
        DAB_Ensemble &ensemble = scanned->ensembles[e];
        for (unsigned at = 0; at + 24 <= ensemble.data_length;
             at += 24 + 4 * (ensemble.service_data[at + 5] & 0x0F)) {
            uint8_t *label = ensemble.service_data + at + 8;
            uint8_t *zero = std::find(label, label + 16, 0);
            std::fill(zero, label + 16, 0);
        }
    }
    EXPECT_EQ(back->num_ensembles, scanned->num_ensembles);
    // Field by field: a copied record need not carry its padding byte.
    const auto date = [](const Si468x_EnsembleTime &t) {
        return std::array<unsigned, 6>{t.year, t.month, t.day, t.hour, t.minute, t.second};
    };
    EXPECT_EQ(date(back->scan_date), date(scanned->scan_date));
    for (unsigned e = 0; e < scanned->num_ensembles; ++e) {
        SCOPED_TRACE("ensemble " + std::to_string(e));
        const DAB_Ensemble &a = scanned->ensembles[e];
        const DAB_Ensemble &b = back->ensembles[e];
        EXPECT_EQ(b.list_version, a.list_version);
        EXPECT_EQ(b.freq_index, a.freq_index);
        EXPECT_EQ(b.num_services, a.num_services);
        EXPECT_EQ(b.data_length, a.data_length);
        for (unsigned k = 0; k < a.data_length; ++k) {
            EXPECT_EQ(b.service_data[k], a.service_data[k]) << "byte " << k;
        }
    }

    const std::string second = save(*back, 21);
    std::vector<std::string> expected = station_test::split_lines(first);
    ASSERT_EQ(expected[1], "Volume: 40");
    expected[1] = "Volume: 21";
    EXPECT_EQ(station_test::split_lines(second), expected);
    EXPECT_EQ(second.size(), first.size());
}

} // namespace
