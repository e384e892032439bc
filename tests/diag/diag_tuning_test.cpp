// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency list, tuning, the service list and component information,
// against the bands the simulated board receives.
#include <cstdio>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DiagBand.h"
#include "DiagRun.h"
#include "SimBoard.h"

namespace {

using diagtest::band_env;
using diagtest::count_commands;
using diagtest::index_of;
using diagtest::label_text;
using diagtest::printed_value;
using diagtest::printed_values;
using diagtest::SimBoardDir;
using diagtest::TraceFrame;
using testing::ElementsAreArray;
using testing::HasSubstr;
using testing::Not;
using testing::Optional;

constexpr uint8_t DAB_TUNE_FREQ = 0xB0;
constexpr uint8_t DAB_SET_FREQ_LIST = 0xB8;

// The "Index  Frequency" table of freqs.
std::vector<uint32_t> printed_frequencies(const std::string &out) {
    std::vector<uint32_t> frequencies;
    unsigned expected_index = 0;
    for (const auto &line : diagtest::lines_of(out)) {
        unsigned index = 0;
        unsigned long khz = 0;
        char unit[4] = {};
        if (std::sscanf(line.c_str(), "%u %lu %3s", &index, &khz, unit) == 3 &&
            std::string(unit) == "kHz") {
            EXPECT_EQ(index, expected_index++);
            frequencies.push_back(static_cast<uint32_t>(khz));
        }
    }
    return frequencies;
}

// The first index of the list that carries no ensemble.
uint8_t empty_index(const sim::Band &band) {
    for (uint8_t i = 0;; ++i) {
        if (band.on_frequency(band.frequencies.at(i)) == nullptr) {
            return i;
        }
    }
}

// An acquirable ensemble with the best signal: its figures are the test's
// expectations.
const sim::Ensemble &strong_ensemble(const sim::Band &band) {
    const sim::Ensemble *best = nullptr;
    for (const auto &ensemble : band.ensembles) {
        if (ensemble.reception.acquires &&
            (best == nullptr || ensemble.reception.rssi > best->reception.rssi)) {
            best = &ensemble;
        }
    }
    return *best;
}

TEST(DiagFreqs, PrintsTheChipsFrequencyList) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto result = board.run({"freqs"});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("Frequency list: " + std::to_string(band.frequencies.size()) +
                                      " entries"));
    EXPECT_THAT(printed_frequencies(result.out), ElementsAreArray(band.frequencies));
}

TEST(DiagFreqs, WriteBand3ReplacesTheListAndPrintsItBack) {
    SimBoardDir board;
    sim::Band band;
    band.frequencies = {174928, 201072, 239200};
    const auto env = band_env(board, band);
    const auto before = board.run({"freqs"}, env);
    ASSERT_EQ(before.exit_status, 0) << before.all();
    EXPECT_THAT(printed_frequencies(before.out), ElementsAreArray(band.frequencies));

    std::vector<TraceFrame> frames;
    const auto after = board.run_traced({"freqs", "--write-band3"}, frames, env);
    ASSERT_EQ(after.exit_status, 0) << after.all();
    EXPECT_THAT(after.out, HasSubstr("Band III list written (41 entries)."));
    EXPECT_THAT(printed_frequencies(after.out), ElementsAreArray(sim::band_iii_frequencies()));
    ASSERT_EQ(count_commands(frames, DAB_SET_FREQ_LIST), 1U);
    for (const auto &frame : frames) {
        if (!frame.out.empty() && frame.out[0] == DAB_SET_FREQ_LIST) {
            EXPECT_EQ(frame.out.size(), 168U);
        }
    }
}

TEST(DiagTune, AcquiresTheEnsembleAndPrintsItsReceptionFigures) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto &ensemble = strong_ensemble(band);
    const uint8_t index = index_of(band, ensemble);
    const auto result = board.run({"tune", std::to_string(index)});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out,
                HasSubstr("Tuned index " + std::to_string(index) + " (" +
                          std::to_string(ensemble.frequency_khz) + " kHz): ensemble acquired"));
    EXPECT_THAT(printed_value(result.out, "Ensemble acquired:"), Optional(std::string("1")));
    EXPECT_THAT(printed_value(result.out, "Tune index:"), Optional(std::to_string(index)));
    EXPECT_THAT(printed_value(result.out, "Tune Freq.:"),
                Optional(std::to_string(ensemble.frequency_khz)));
    EXPECT_THAT(printed_value(result.out, "RSSI:"),
                Optional(std::to_string(ensemble.reception.rssi)));
    EXPECT_THAT(printed_value(result.out, "SNR:"),
                Optional(std::to_string(ensemble.reception.snr)));
    EXPECT_THAT(result.out, HasSubstr("Event status ------------------------- "));
    EXPECT_TRUE(printed_value(result.out, "Service list version:").has_value());

    // The chip stays tuned there for the radio.
    sim::reset_for_test();
    sim::use_directory(board.path());
    sim::load_state();
    EXPECT_EQ(sim::tuned_index(), index);
    sim::reset_for_test();
}

TEST(DiagTune, IndexesAreDecimalOrHex) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const uint8_t last = static_cast<uint8_t>(band.frequencies.size() - 1);
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%X", last);
    const auto result = board.run({"tune", hex});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(printed_value(result.out, "Tune index:"), Optional(std::to_string(last)));
}

TEST(DiagTune, FrequencyWithoutEnsembleFailsAfterShowingTheStatus) {
    SimBoardDir board;
    const auto band = sim::default_band();
    // An empty frequency, and one whose weak signal is never acquired.
    std::vector<uint8_t> indexes{empty_index(band)};
    for (const auto &ensemble : band.ensembles) {
        if (!ensemble.reception.acquires) {
            indexes.push_back(index_of(band, ensemble));
        }
    }
    ASSERT_EQ(indexes.size(), 2U) << "the default band has no unacquirable ensemble any more";
    for (const uint8_t index : indexes) {
        const auto result = board.run({"tune", std::to_string(index)});
        EXPECT_EQ(result.exit_status, 1) << result.all();
        EXPECT_THAT(result.err,
                    HasSubstr("tune: no ensemble acquired at index " + std::to_string(index)));
        EXPECT_THAT(printed_value(result.out, "Ensemble acquired:"), Optional(std::string("0")));
        EXPECT_THAT(printed_value(result.out, "Tune index:"), Optional(std::to_string(index)));
    }
}

TEST(DiagTune, IndexBeyondTheChipsListIsRefusedWithoutTuning) {
    SimBoardDir board;
    const auto count = sim::default_band().frequencies.size();
    for (const std::string &index : {std::to_string(count), std::string("255")}) {
        std::vector<TraceFrame> frames;
        const auto result = board.run_traced({"tune", index}, frames);
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_THAT(result.err,
                    HasSubstr("tune: index " + index + " is not in the chip's frequency list (" +
                              std::to_string(count) + " entries)"));
        EXPECT_EQ(count_commands(frames, DAB_TUNE_FREQ), 0U);
    }
}

TEST(DiagTune, TuneThatNeverCompletesGivesTheDriversTimeOut) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const uint8_t index = index_of(band, strong_ensemble(band));
    const auto result = board.run({"tune", std::to_string(index)},
                                  {{"SI468X_SIM_FAULTS", "tune-timeout=" + std::to_string(index)}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("tune: failed with status -3 at location 121"));
    EXPECT_THAT(result.out, Not(HasSubstr("Digrad status")));
}

TEST(DiagServices, PrintsTheEnsemblesServiceList) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto &ensemble = band.ensembles.front();
    const auto result = board.run({"services", std::to_string(index_of(band, ensemble))});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("Digital Service List ----------------- "));
    EXPECT_THAT(printed_value(result.out, "Service list version:"),
                Optional(std::to_string(ensemble.list_version)));
    EXPECT_THAT(printed_value(result.out, "Number services:"),
                Optional(std::to_string(ensemble.services.size())));
    std::vector<std::string> labels;
    std::vector<std::string> component_counts;
    for (const auto &service : ensemble.services) {
        labels.push_back(label_text(service.label));
        component_counts.push_back(std::to_string(service.components.size()) + " ");
    }
    // Labels are printed raw, zero bytes and leading blanks included.
    EXPECT_THAT(printed_values(result.out, "Label:"), ElementsAreArray(labels));
    EXPECT_THAT(printed_values(result.out, "Number components:"),
                ElementsAreArray(component_counts));
}

TEST(DiagServices, FrequencyWithoutEnsembleFails) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const uint8_t index = empty_index(band);
    const auto result = board.run({"services", std::to_string(index)});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("services: no ensemble at index " + std::to_string(index) +
                                      " (" + std::to_string(band.frequencies[index]) + " kHz)"));
    EXPECT_THAT(result.out, Not(HasSubstr("Digital Service List")));
}

TEST(DiagServices, ListThatNeverSettlesGivesTheScansLocation) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const uint8_t index = index_of(band, band.ensembles.front());
    const auto result =
        board.run({"services", std::to_string(index)},
                  {{"SI468X_SIM_FAULTS", "list-unstable=" + std::to_string(index)}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("services: failed with status -1 at location 304"));
}

// A component with two user applications of even and odd data lengths.
TEST(DiagComponent, PrintsTheComponentsInformationAndUserApplications) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const sim::Ensemble *ensemble = nullptr;
    const sim::Service *service = nullptr;
    for (const auto &e : band.ensembles) {
        for (const auto &s : e.services) {
            if (service == nullptr && !s.components.empty() &&
                s.components[0].user_applications.size() >= 2) {
                ensemble = &e;
                service = &s;
            }
        }
    }
    ASSERT_NE(service, nullptr);
    const auto &component = service->components[0];
    const auto result = board.run({"component", std::to_string(index_of(band, *ensemble)),
                                   std::to_string(service->id), std::to_string(component.id)});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("DAB component info ------------------- "));
    EXPECT_THAT(printed_value(result.out, "Global ID:"),
                Optional(std::to_string(component.global_id)));
    EXPECT_THAT(printed_value(result.out, "Language:"),
                Optional(std::to_string(component.language)));
    EXPECT_THAT(printed_value(result.out, "Label:"), Optional(label_text(component.label)));
    EXPECT_THAT(printed_value(result.out, "Number user application data:"),
                Optional(std::to_string(component.user_applications.size())));
    std::vector<std::string> types;
    std::vector<std::string> data;
    for (const auto &ua : component.user_applications) {
        types.push_back(std::to_string(ua.type));
        std::string hex;
        for (const uint8_t byte : ua.data) {
            char digits[4];
            std::snprintf(digits, sizeof digits, "%02x ", byte);
            hex += digits;
        }
        data.push_back(hex);
    }
    EXPECT_THAT(printed_values(result.out, "User application type:"), ElementsAreArray(types));
    EXPECT_THAT(printed_values(result.out, "  User application data:"), ElementsAreArray(data));
}

TEST(DiagComponent, UnknownComponentIsAskedAnywayAndTheChipsAnswerReported) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto &ensemble = band.ensembles.front();
    const auto result = board.run({"component", std::to_string(index_of(band, ensemble)),
                                   std::to_string(ensemble.services.front().id), "0x3FFF"});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("is not in the service list; asking the chip anyway"));
    EXPECT_THAT(result.err, HasSubstr("component: failed with status -2 at location 30"));
}

TEST(DiagComponent, OverlongUserApplicationFieldsAreRefused) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto &ensemble = band.ensembles.front();
    const auto &service = ensemble.services.front();
    const auto result =
        board.run({"component", std::to_string(index_of(band, ensemble)),
                   std::to_string(service.id), std::to_string(service.components.front().id)},
                  {{"SI468X_SIM_FAULTS", "ua-length=228"}});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("component: failed with status -4 at location 23830"));
}

} // namespace
