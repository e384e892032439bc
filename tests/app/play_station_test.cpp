// SPDX-License-Identifier: GPL-3.0-or-later
// play_station against the simulated board: the status lines with their
// exact trailing blanks, the retune rule, the waits, and each way it fails.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "CorvaneRadio.h"
#include "SimBoard.h"
#include "stdout_capture.h"
#include "support/curses_screen.h"
#include "support/test_bands.h"

namespace {

using namespace tunelark::test;

constexpr uint8_t DAB_TUNE_FREQ = 0xB0;
constexpr uint8_t START_DIGITAL_SERVICE = 0x81;

class PlayStation : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        ASSERT_TRUE(sim::load_band_json(sim::band_to_json(band)));
        sim::set_chip_running();
        ASSERT_EQ(Si468x_bus_init(), 0);
        StdoutCapture quiet; // the scan reports its progress
        DAB_set_properties_max_stations();
        DAB_set_properties_output();
        uint8_t count = 0;
        Si468x_DAB_get_freq_list(frequencies, SI468X_MAX_FREQ_LIST, &count);
        DAB_do_full_scan(&results, frequencies, count);
        quiet.take();
        ASSERT_EQ(results.num_ensembles, 2);
        ASSERT_EQ(results.ensembles[0].freq_index, 3);
        ASSERT_EQ(results.ensembles[1].freq_index, 9);
    }
    void TearDown() override { Si468x_power_down(); }

    // Fills a row with a mark, so that what the status line leaves of an
    // earlier, longer line shows.
    static void fill_row(int row) { mvprintw(row, 0, "%s", std::string(80, '#').c_str()); }

    int play(uint8_t ensemble, uint8_t service) {
        return play_station(radio.get(), ensemble, service);
    }

    static uint64_t tunes() { return sim::stats().commands[DAB_TUNE_FREQ]; }

    sim::Band band = two_ensemble_band();
    CursesScreen screen;
    uint32_t frequencies[SI468X_MAX_FREQ_LIST] = {};
    // The engine's record, made as the program makes it: nothing tuned.
    std::unique_ptr<DAB_Radio> radio = [] {
        auto made = std::make_unique<DAB_Radio>();
        DAB_radio_init(made.get());
        return made;
    }();
    DAB_ScanResults &results = radio->stations;
    uint8_t &last_index = radio->last_tuned_index;
};

std::string padded(const std::string &text, std::size_t blanks, std::size_t width = 80) {
    std::string line = text + std::string(blanks, ' ');
    return line + std::string(width - line.size(), '#');
}

TEST_F(PlayStation, StartsTheServiceAndWritesBothLines) {
    fill_row(LINES - 1);
    fill_row(LINES - 2);
    ASSERT_EQ(play(0, 0), 0);
    EXPECT_EQ(last_index, 3);
    EXPECT_EQ(CursesScreen::row(LINES - 1), padded("Playing: Alpha One       ", 21));
    EXPECT_EQ(CursesScreen::row(LINES - 2),
              padded("Freq. Idx 3 Service ID 1234 Component ID 1", 21));
    uint32_t service = 0;
    uint32_t component = 0;
    ASSERT_TRUE(sim::service_started(&service, &component));
    EXPECT_EQ(service, 1234u);
    EXPECT_EQ(component, 1u);
    EXPECT_EQ(sim::tuned_index(), 3);
}

TEST_F(PlayStation, TunesOnlyWhenTheEnsembleChanges) {
    const uint64_t before = tunes();
    double start = sim::now_ms();
    ASSERT_EQ(play(0, 0), 0);
    // 500 ms after the tune, 200 ms after the acquiring poll.
    const double first = sim::now_ms() - start;
    EXPECT_GE(first, 700.0);
    EXPECT_LT(first, 2500.0 + 500.0);
    EXPECT_EQ(tunes(), before + 1);

    start = sim::now_ms();
    ASSERT_EQ(play(0, 1), 0);
    const double second = sim::now_ms() - start;
    EXPECT_GE(second, 200.0);
    EXPECT_LT(second, 500.0);
    EXPECT_EQ(tunes(), before + 1);
    EXPECT_EQ(CursesScreen::trimmed_row(LINES - 1), "Playing: Bravo Two");

    ASSERT_EQ(play(1, 0), 0);
    EXPECT_EQ(tunes(), before + 2);
    EXPECT_EQ(last_index, 9);
    EXPECT_EQ(CursesScreen::trimmed_row(LINES - 2),
              "Freq. Idx 9 Service ID " + std::to_string(0xD101) + " Component ID 4");
}

TEST_F(PlayStation, DataServiceIsRefusedAndTheAudioKeepsPlaying) {
    ASSERT_EQ(play(0, 0), 0);
    fill_row(LINES - 1);
    const uint64_t starts = sim::stats().commands[START_DIGITAL_SERVICE];
    EXPECT_EQ(play(0, 2), -1);
    EXPECT_EQ(CursesScreen::row(LINES - 1), padded("No audio service: Data Three      ", 26));
    EXPECT_EQ(sim::stats().commands[START_DIGITAL_SERVICE], starts);
    uint32_t service = 0;
    uint32_t component = 0;
    ASSERT_TRUE(sim::service_started(&service, &component));
    EXPECT_EQ(service, 1234u);
}

TEST_F(PlayStation, TuneFailureKeepsTheLastIndexSoTheNextStartTunesAgain) {
    ASSERT_EQ(play(0, 0), 0);
    // The second ensemble fades after the scan.
    sim::Band faded = band;
    faded.ensembles[1].reception.acquires = false;
    ASSERT_TRUE(sim::load_band_json(sim::band_to_json(faded)));

    fill_row(LINES - 1);
    const uint64_t before = tunes();
    const double start = sim::now_ms();
    EXPECT_EQ(play(1, 0), -1);
    // 500 ms after the tune, then ten polls with 200 ms after each.
    EXPECT_GE(sim::now_ms() - start, 2500.0);
    EXPECT_EQ(CursesScreen::row(LINES - 1), padded("Tune failed", 28));
    EXPECT_EQ(last_index, 3);
    EXPECT_EQ(tunes(), before + 1);

    EXPECT_EQ(play(1, 0), -1);
    EXPECT_EQ(tunes(), before + 2);
}

TEST_F(PlayStation, RejectedStartShowsStationFailed) {
    ASSERT_TRUE(sim::set_faults("start-fail"));
    fill_row(LINES - 1);
    EXPECT_EQ(play(1, 0), -1);
    EXPECT_EQ(CursesScreen::row(LINES - 1), padded("Station failed", 27));
    // The ensemble was acquired: it counts as tuned.
    EXPECT_EQ(last_index, 9);
}

TEST_F(PlayStation, EnsembleBeyondTheDatabaseFailsWithoutTuning) {
    fill_row(LINES - 1);
    // An ensemble beyond the database's room fails at once, leaving the
    // "Tuning..." line replaced and the chip untouched.
    const uint64_t before = tunes();
    EXPECT_EQ(play(DAB_MAX_ENSEMBLES, 0), -1);
    EXPECT_EQ(CursesScreen::row(LINES - 1), padded("Tune failed", 28));
    EXPECT_EQ(tunes(), before);
}

} // namespace
