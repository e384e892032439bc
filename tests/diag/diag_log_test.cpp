// SPDX-License-Identifier: GPL-3.0-or-later
// Logging a service component's record and data packets to a file.
#include <cstdio>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DiagBand.h"
#include "DiagRun.h"
#include "SimBoard.h"

namespace {

using diagtest::band_env;
using diagtest::occurrences;
using diagtest::read_file;
using diagtest::SimBoardDir;
using diagtest::TraceFrame;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

constexpr uint8_t START_DIGITAL_SERVICE = 0x81;
constexpr const char *component_heading = "Start logging component";
constexpr const char *packet_heading = "New data package logged";

constexpr uint8_t log_index = 2;
constexpr uint32_t talker_id = 0xC9A1;
constexpr uint16_t talker_component = 3;
constexpr uint32_t quiet_id = 0xC9A2;
constexpr uint16_t quiet_component = 4;
constexpr uint32_t data_id = 0xE1D0C9A3;
constexpr uint16_t data_component = 0xC9A3;
const std::vector<uint8_t> data_payload{0x01, 0x02, 0x03, 0x04, 0x05, 0xF0, 0xF1};
constexpr const char *talker_text = "Hello diag";

// One ensemble: a talking audio service, a silent one and a data service
// whose one packet is not a text.
sim::Band log_band() {
    sim::Band band;
    band.frequencies = sim::band_iii_frequencies();
    sim::Ensemble ensemble;
    ensemble.frequency_khz = band.frequencies[log_index];
    ensemble.id = 0x1D1A;
    ensemble.label = sim::make_label("Diag Mux");
    ensemble.list_version = 4;

    sim::Service talker;
    talker.id = talker_id;
    talker.label = sim::make_label("Diag Talker");
    sim::Component voice;
    voice.id = talker_component;
    voice.ps = true;
    voice.label = talker.label;
    voice.language = 9;
    voice.user_applications = {{0x0002, {0x0C, 0x0D}}};
    talker.components.push_back(voice);
    talker.texts = {talker_text};
    ensemble.services.push_back(talker);

    sim::Service quiet;
    quiet.id = quiet_id;
    quiet.label = sim::make_label("Diag Quiet");
    sim::Component silence;
    silence.id = quiet_component;
    quiet.components.push_back(silence);
    ensemble.services.push_back(quiet);

    sim::Service data;
    data.id = data_id;
    data.data = true;
    data.label = sim::make_label("Diag Data");
    sim::Component pages;
    pages.id = data_component;
    pages.ascty_dscty = 44;
    data.components.push_back(pages);
    sim::Packet packet;
    packet.payload = data_payload;
    data.packets.push_back(packet);
    ensemble.services.push_back(data);

    band.ensembles.push_back(ensemble);
    return band;
}

std::string hex_of(const std::string &text) {
    std::string hex;
    for (const unsigned char c : text) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02x ", c);
        hex += digits;
    }
    return hex;
}

std::vector<std::string> log_args(uint32_t service, uint16_t component, unsigned packets,
                                  const std::string &file) {
    return {"log",
            std::to_string(log_index),
            std::to_string(service),
            std::to_string(component),
            std::to_string(packets),
            file};
}

class DiagLog : public testing::Test {
protected:
    SimBoardDir board;
    std::map<std::string, std::string> env = band_env(board, log_band());
    std::string log_file = board.file("service.log");
};

TEST_F(DiagLog, WritesTheComponentRecordAndTheRequestedPackets) {
    const auto result = board.run(log_args(talker_id, talker_component, 3, log_file), env);
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_EQ(occurrences(result.out, std::string("text \"") + talker_text + "\""), 3U);
    EXPECT_THAT(result.out, HasSubstr("Logged the component record and 3 packets to " + log_file));

    const std::string log = read_file(log_file);
    EXPECT_EQ(occurrences(log, component_heading), 1U);
    EXPECT_EQ(occurrences(log, packet_heading), 3U);
    EXPECT_THAT(log, HasSubstr("Label: Diag Talker"));
    EXPECT_THAT(log, HasSubstr("Number user application types: 1\n"));
    EXPECT_EQ(occurrences(log, "Service ID: " + std::to_string(talker_id) + "\n"), 3U);
    EXPECT_EQ(occurrences(log, hex_of(talker_text)), 3U);
    // The component record comes first.
    EXPECT_LT(log.find(component_heading), log.find(packet_heading));

    // The service keeps playing for the radio to take over.
    sim::reset_for_test();
    sim::use_directory(board.path());
    sim::load_state();
    uint32_t service = 0;
    uint32_t component = 0;
    EXPECT_TRUE(sim::service_started(&service, &component));
    EXPECT_EQ(service, talker_id);
    EXPECT_EQ(component, talker_component);
    EXPECT_EQ(sim::tuned_index(), log_index);
    sim::reset_for_test();
}

TEST_F(DiagLog, ASecondRunAppendsToTheFile) {
    ASSERT_EQ(board.run(log_args(talker_id, talker_component, 2, log_file), env).exit_status, 0);
    const std::string first = read_file(log_file);
    const auto result = board.run(log_args(talker_id, talker_component, 1, log_file), env);
    ASSERT_EQ(result.exit_status, 0) << result.all();
    const std::string both = read_file(log_file);
    EXPECT_THAT(both, StartsWith(first));
    EXPECT_EQ(occurrences(both, component_heading), 2U);
    EXPECT_EQ(occurrences(both, packet_heading), 3U);
}

TEST_F(DiagLog, DataServiceIsStartedAsDataAndItsPacketsLoggedRaw) {
    std::vector<TraceFrame> frames;
    const auto result =
        board.run_traced(log_args(data_id, data_component, 1, log_file), frames, env);
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, Not(HasSubstr("text \"")));
    std::size_t starts = 0;
    for (const auto &frame : frames) {
        if (!frame.out.empty() && frame.out[0] == START_DIGITAL_SERVICE) {
            ASSERT_EQ(frame.out.size(), 12U);
            EXPECT_EQ(frame.out[1], 1) << "a data service starts with service type 1";
            ++starts;
        }
    }
    EXPECT_EQ(starts, 1U);
    std::string hex;
    for (const uint8_t byte : data_payload) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02x ", byte);
        hex += digits;
    }
    EXPECT_THAT(read_file(log_file), HasSubstr("Payload:\n" + hex + "\n"));
}

TEST_F(DiagLog, SilentServiceRunsIntoTheTimeLimit) {
    const auto args = [&] {
        auto a = log_args(quiet_id, quiet_component, 1, log_file);
        a.insert(a.end(), {"--time-limit", "2"});
        return a;
    }();
    const auto result = board.run(args, env);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("log: only 0 of 1 packets within 2 s"));
    const std::string log = read_file(log_file);
    EXPECT_EQ(occurrences(log, component_heading), 1U);
    EXPECT_EQ(occurrences(log, packet_heading), 0U);
}

TEST_F(DiagLog, ComponentNotInTheListIsRefusedBeforeTheFileIsOpened) {
    const auto result = board.run(log_args(talker_id, quiet_component, 1, log_file), env);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("is not in the service list at index 2"));
    EXPECT_TRUE(read_file(log_file).empty());
}

TEST_F(DiagLog, FileThatCannotBeCreatedGivesTheLoggersStatus) {
    const std::string path = board.file("no/such/dir/service.log");
    const auto result = board.run(log_args(talker_id, talker_component, 1, path), env);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("log: writing the component record to " + path +
                                      ": failed with status -6 at location 14"));
    EXPECT_THAT(result.out, HasSubstr("DABUtils error No: 14, returned retval: -6"));
}

TEST_F(DiagLog, ChipFailuresAreReportedWithTheirLocations) {
    struct Case {
        const char *faults;
        const char *message;
    };
    const Case cases[] = {
        {"start-fail", "log: starting the service: failed with status -2 at location 32"},
        {"data-overflow", "packet fetches failed, the last with status -2 at location 134"},
        {"data-not-ready", "packet fetches failed, the last with status -3 at location 234"},
    };
    for (const auto &c : cases) {
        SimBoardDir fresh;
        auto fault_env = band_env(fresh, log_band());
        fault_env["SI468X_SIM_FAULTS"] = c.faults;
        auto args = log_args(talker_id, talker_component, 1, fresh.file("service.log"));
        args.insert(args.end(), {"--time-limit", "10"});
        const auto result = fresh.run(args, fault_env);
        EXPECT_EQ(result.exit_status, 1) << c.faults << "\n" << result.all();
        EXPECT_THAT(result.err, HasSubstr(c.message)) << c.faults;
    }
}

} // namespace
