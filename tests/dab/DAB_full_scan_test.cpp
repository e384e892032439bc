// SPDX-License-Identifier: GPL-3.0-or-later
// The band scan over the simulated band: which ensembles reach the database
// and where, the date of the scan, what a failing frequency costs, and the
// time a scan takes.
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

// One ensemble on a frequency-list index, with one audio service.
std::string ensemble_at(unsigned index, const std::string &extra = "") {
    return "{\"index\": " + std::to_string(index) +
           ", \"list_version\": " + std::to_string(index + 1) + extra +
           ", \"services\": [{\"id\": " + std::to_string(0xC000 + index) +
           ", \"label\": \"Station " + std::to_string(index) +
           "\", \"components\": [{\"id\": " + std::to_string(index + 1) + "}]}]}";
}

std::string band_of(const std::vector<std::string> &ensembles,
                    const std::string &frequencies = "") {
    std::string json = "{";
    if (!frequencies.empty()) {
        json += "\"frequencies\": " + frequencies + ", ";
    }
    json += "\"ensembles\": [";
    for (std::size_t k = 0; k < ensembles.size(); ++k) {
        json += (k ? ", " : "") + ensembles[k];
    }
    return json + "]}";
}

constexpr char kFixedTime[] = ", \"time\": \"2019-03-07 09:05:00\", \"time_runs\": false";

Si468x_EnsembleTime date(uint16_t year, uint8_t month, uint8_t day, uint8_t hour = 0,
                         uint8_t minute = 0, uint8_t second = 0) {
    return Si468x_EnsembleTime{year, month, day, hour, minute, second};
}

bool same_date(const Si468x_EnsembleTime &a, const Si468x_EnsembleTime &b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second;
}

std::size_t count_of(const std::string &text, const std::string &what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class BandScan : public station_test::SimulatedReceiver {
protected:
    int16_t scan() { return scan(chip_frequencies()); }
    int16_t scan(const std::vector<uint32_t> &frequencies) {
        forget();
        int16_t status = 0;
        output_ = station_test::captured_stdout([&] {
            status = DAB_do_full_scan(results_.get(), frequencies.data(),
                                      static_cast<uint8_t>(frequencies.size()));
        });
        return status;
    }

    std::unique_ptr<DAB_ScanResults> results_ = station_test::make_results();
    std::string output_;
};

TEST_F(BandScan, DefaultBandIsStoredInScanOrderWithTheChipsLists) {
    band_ = sim::default_band();
    const auto frequencies = chip_frequencies();
    ASSERT_EQ(frequencies.size(), 41u);
    ASSERT_EQ(scan(frequencies), 0);

    // Every ensemble but the one too weak to be acquired, in index order.
    std::vector<const sim::Ensemble *> receivable;
    for (uint32_t khz : frequencies) {
        const sim::Ensemble *e = band_.on_frequency(khz);
        if (e != nullptr && e->reception.acquires) {
            receivable.push_back(e);
        }
    }
    ASSERT_EQ(receivable.size(), 6u);
    ASSERT_EQ(results_->num_ensembles, receivable.size());
    for (std::size_t k = 0; k < receivable.size(); ++k) {
        SCOPED_TRACE("entry " + std::to_string(k));
        const DAB_Ensemble &entry = results_->ensembles[k];
        EXPECT_EQ(frequencies[entry.freq_index], receivable[k]->frequency_khz);
        EXPECT_EQ(entry.list_version, receivable[k]->list_version);
        EXPECT_TRUE(station_test::holds_records(entry, *receivable[k]));
    }
    EXPECT_EQ(results_->ensembles[0].freq_index, 0);
    EXPECT_EQ(results_->ensembles[5].freq_index, 40);

    EXPECT_EQ(count_of(output_, "Scanning Freq. "), 41u);
    EXPECT_EQ(count_of(output_, "signal strength: "), 41u);
    EXPECT_EQ(count_of(output_, "Digrad status ------------------------ \n"), 6u);
    EXPECT_EQ(output_.substr(0, 24), "Scanning Freq. 174928: \n");
}

TEST_F(BandScan, DefaultBandTakesAtLeastTheWaitsOfTheAlgorithmAndNotMuchMore) {
    ASSERT_EQ(scan(), 0);
    ASSERT_EQ(results_->num_ensembles, 6);
    // Each accepted ensemble waits 200 ms between its event polls at least
    // once and 1000 ms before its time read; each tune polls for completion
    // 100 ms apart.
    EXPECT_EQ(call_count("bcm2835_delay(1000)"), 6u);
    EXPECT_EQ(commands(0xB0), 41u);
    const double floor_ms = 41 * 100.0 + 6 * (200.0 + 1000.0);
    EXPECT_GE(elapsed_ms(), floor_ms);
    // The chip's own times (list 1.5 s after the tune) bound the rest: a
    // scan that waited more than it must would show here.
    EXPECT_LE(elapsed_ms(), floor_ms + 6 * 2000.0 + 41 * 50.0) << elapsed_ms();
    RecordProperty("default_band_scan_ms", std::to_string(elapsed_ms()));
}

TEST_F(BandScan, BandWithoutEnsemblesStoresNothingAndPrintsTheBars) {
    load_band(band_of({"{\"index\": 0, \"reception\": {\"rssi\": 3, \"rssi_valid\": false}, "
                       "\"services\": []}",
                       "{\"index\": 1, \"reception\": {\"rssi\": 12, \"rssi_valid\": false}, "
                       "\"services\": []}"},
                      "[174928, 239200]"));
    results_->num_ensembles = 4;
    ASSERT_EQ(scan(), 0);
    EXPECT_EQ(results_->num_ensembles, 0);
    EXPECT_EQ(output_, "Scanning Freq. 174928: \nsignal strength: ---\n"
                       "Scanning Freq. 239200: \nsignal strength: ------------\n");
}

TEST_F(BandScan, EmptyFrequencyListScansNothingButStillAppliesTheSettings) {
    results_->num_ensembles = 4;
    const auto writes_before = sim::property_writes().size();
    ASSERT_EQ(scan({}), 0);
    EXPECT_EQ(results_->num_ensembles, 0);
    EXPECT_EQ(commands(0xB0), 0u);
    EXPECT_EQ(output_, "");
    EXPECT_EQ(sim::property_writes().size(), writes_before + 8);
}

TEST_F(BandScan, SettingsThatFailLeaveTheDatabaseAlone) {
    results_->num_ensembles = 4;
    fault("errcmd=0x13");
    EXPECT_EQ(scan(), -2);
    EXPECT_EQ(DABUtils_ErrorCode, 10);
    EXPECT_EQ(results_->num_ensembles, 4);
    EXPECT_EQ(commands(0xB0), 0u);
}

TEST_F(BandScan, EnsemblesAreStoredFromTheFrontWithTheirIndex) {
    load_band(band_of({ensemble_at(3), ensemble_at(17)}));
    ASSERT_EQ(scan(), 0);
    ASSERT_EQ(results_->num_ensembles, 2);
    EXPECT_EQ(results_->ensembles[0].freq_index, 3);
    EXPECT_EQ(results_->ensembles[1].freq_index, 17);
    EXPECT_TRUE(station_test::holds_records(results_->ensembles[0], band_.ensembles[0]));
    EXPECT_TRUE(station_test::holds_records(results_->ensembles[1], band_.ensembles[1]));
}

TEST_F(BandScan, RescanRefillsFromTheFrontAndKeepsTheDateWhenNoneIsBroadcast) {
    load_band(band_of({ensemble_at(3, kFixedTime), ensemble_at(17)}));
    ASSERT_EQ(scan(), 0);
    ASSERT_TRUE(same_date(results_->scan_date, date(2019, 3, 7, 9, 5, 0)));
    load_band(band_of({ensemble_at(20)}));
    ASSERT_EQ(scan(), 0);
    EXPECT_EQ(results_->num_ensembles, 1);
    EXPECT_EQ(results_->ensembles[0].freq_index, 20);
    EXPECT_TRUE(same_date(results_->scan_date, date(2019, 3, 7, 9, 5, 0)));
}

TEST_F(BandScan, AcceptanceNeedsAValidSignalAndFicQualityOfThirty) {
    struct Case {
        const char *reception;
        bool taken;
    };
    const Case cases[] = {
        {"{\"rssi_valid\": true, \"fic_quality\": 29}", false},
        {"{\"rssi_valid\": true, \"fic_quality\": 30}", true},
        {"{\"rssi_valid\": false, \"fic_quality\": 100}", false},
        {"{\"rssi_valid\": true, \"fic_quality\": 255, \"rssi\": 0}", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reception);
        load_band(
            band_of({ensemble_at(0, std::string(", \"reception\": ") + c.reception)}, "[174928]"));
        ASSERT_EQ(scan(), 0);
        EXPECT_EQ(results_->num_ensembles, c.taken ? 1 : 0);
        // A rejected frequency prints its bar and nothing else.
        EXPECT_EQ(output_.find("Digrad status") != std::string::npos, c.taken);
        EXPECT_EQ(commands(0xB3) > 0, c.taken);
    }
}

TEST_F(BandScan, DateComesFromTheLastEnsembleWithAPlausibleDate) {
    struct Case {
        const char *second_time;
        const char *faults;
        Si468x_EnsembleTime expected;
    };
    const Si468x_EnsembleTime first = date(2019, 3, 7, 9, 5, 0);
    const Case cases[] = {
        {", \"time\": \"2021-12-31 23:59:58\", \"time_runs\": false", "",
         date(2021, 12, 31, 23, 59, 58)},
        {", \"time\": {\"year\": 0, \"month\": 1, \"day\": 1}, \"time_runs\": false", "", first},
        {", \"time\": {\"year\": 2020, \"month\": 0, \"day\": 1}, \"time_runs\": false", "", first},
        {", \"time\": {\"year\": 2020, \"month\": 1, \"day\": 0}, \"time_runs\": false", "", first},
        {"", "", first}, // no time broadcast: zeros
        {", \"time\": \"2021-12-31 23:59:58\", \"time_runs\": false", "no-time=2", first},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.second_time) + " " + c.faults);
        sim::clear_faults();
        load_band(band_of({ensemble_at(1, kFixedTime), ensemble_at(2, c.second_time)},
                          "[174928, 176640, 178352]"));
        if (*c.faults != '\0') {
            fault(c.faults);
        }
        results_->scan_date = date(1999, 1, 1);
        const int16_t status = scan();
        // The ensemble is stored whatever its time read gave.
        ASSERT_EQ(results_->num_ensembles, 2);
        EXPECT_EQ(results_->ensembles[1].freq_index, 2);
        EXPECT_TRUE(same_date(results_->scan_date, c.expected));
        // A failed time read on the last frequency is the scan's result.
        if (*c.faults != '\0') {
            EXPECT_EQ(status, -2);
            EXPECT_EQ(DABUtils_ErrorCode, 110);
        } else {
            EXPECT_EQ(status, 0);
        }
    }
}

TEST_F(BandScan, FailingFrequencyCostsOnlyItselfUnlessItIsTheLast) {
    struct Case {
        const char *faults;
        int16_t status;
        int32_t location;
    };
    // Ensembles on 1, 2 and 3; the faulty frequency is 2 (the middle) or 3
    // (the last).
    const Case cases[] = {
        {"list-unstable=2", 0, 304},  {"list-unannounced=2", 0, 304}, {"tune-timeout=2", 0, 4},
        {"list-unstable=3", -2, 110}, {"tune-timeout=3", -3, 110},    {"no-time=3", -2, 110},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.faults);
        sim::clear_faults();
        load_band(band_of({ensemble_at(1), ensemble_at(2), ensemble_at(3)},
                          "[174928, 176640, 178352, 180064]"));
        fault(c.faults);
        EXPECT_EQ(scan(), c.status);
        EXPECT_EQ(DABUtils_ErrorCode, c.location);
        const bool last = std::string(c.faults).back() == '3';
        const bool lost = std::string(c.faults).rfind("no-time", 0) != 0;
        std::vector<int> stored;
        for (int k = 0; k < results_->num_ensembles; ++k) {
            stored.push_back(results_->ensembles[k].freq_index);
        }
        std::vector<int> expected{1, 2, 3};
        if (lost) {
            expected.erase(expected.begin() + (last ? 2 : 1));
        }
        EXPECT_EQ(stored, expected);
    }
}

TEST_F(BandScan, DatabaseNeverHoldsMoreThanTwelveEnsembles) {
    std::vector<std::string> ensembles;
    for (unsigned index = 0; index < 14; ++index) {
        ensembles.push_back(ensemble_at(index));
    }
    load_band(band_of(ensembles));
    ASSERT_EQ(scan(), 0);
    ASSERT_EQ(results_->num_ensembles, DAB_MAX_ENSEMBLES);
    for (int k = 0; k < DAB_MAX_ENSEMBLES; ++k) {
        EXPECT_EQ(results_->ensembles[k].freq_index, k);
        EXPECT_TRUE(station_test::holds_records(results_->ensembles[k], band_.ensembles[k]));
    }
    // A full database ends the scan: the frequencies after the twelfth
    // ensemble are not tuned.
    EXPECT_EQ(commands(0xB0), 12u);
    EXPECT_EQ(count_of(output_, "Scanning Freq. "), 12u);
}

} // namespace
