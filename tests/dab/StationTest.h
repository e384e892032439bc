// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the station-management tests: service lists built field by field
// in the chip's raw layout, scratch directories, files as strings and the
// console output of a call.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Band.h"
#include "DABUtils.h"
#include "Si468x_SPI.h"
#include "SimBoard.h"
#include "scratch_dir.h"
#include "stdout_capture.h"

namespace station_test {

struct RawComponent {
    uint16_t comp_id = 0; // TMID in bits 14-15
    uint8_t ca_flag = 0;
    uint8_t ps = 0;
    uint8_t ascty_dscty = 0;
    uint8_t mua_info_valid = 0;
};

struct RawService {
    uint32_t service_id = 0;
    uint8_t pd_flag = 0;
    uint8_t pty = 0;
    uint8_t linking_info = 0;
    uint8_t ca_id = 0;
    uint8_t local = 0;
    uint8_t si_charset = 0;
    std::string label; // the first 16 bytes, zero-filled
    std::vector<RawComponent> components;
};

// Appends one service record to the list's raw bytes, through the driver's
// encoder, and counts it.
inline void append_service(Si468x_ServiceList &list, const RawService &service) {
    ASSERT_LE(service.components.size(), SI468X_MAX_COMPONENTS);
    Si468x_Service record{};
    record.service_id = service.service_id;
    record.pd_flag = service.pd_flag;
    record.pty = service.pty;
    record.linking_info = service.linking_info;
    record.num_components = static_cast<uint8_t>(service.components.size());
    record.ca_id = service.ca_id;
    record.local = service.local;
    record.si_charset = service.si_charset;
    std::memcpy(record.label, service.label.data(),
                std::min(sizeof record.label, service.label.size()));
    for (std::size_t c = 0; c < service.components.size(); ++c) {
        const RawComponent &raw = service.components[c];
        Si468x_Component component{};
        component.comp_id = raw.comp_id;
        component.ca_flag = raw.ca_flag;
        component.ps = raw.ps;
        component.ascty_dscty = raw.ascty_dscty;
        component.mua_info_valid = raw.mua_info_valid;
        ASSERT_EQ(
            Si468x_encode_digital_service_component(&component, static_cast<uint8_t>(c), &record),
            0);
    }
    // Byte 7 of the record is not written: the list is zeroed where it grows.
    const std::size_t size =
        SI468X_SERVICE_HEADER_LENGTH + SI468X_COMPONENT_LENGTH * service.components.size();
    ASSERT_LE(list.data_length + size, sizeof list.service_data);
    std::memset(&list.service_data[list.data_length], 0, size);
    ASSERT_EQ(Si468x_encode_digital_service(&record, &list), 0);
}

inline DAB_Ensemble make_ensemble(uint16_t list_version, uint8_t freq_index,
                                  const std::vector<RawService> &services) {
    DAB_Ensemble ensemble{};
    ensemble.list_version = list_version;
    ensemble.freq_index = freq_index;
    for (const RawService &service : services) {
        append_service(ensemble, service);
    }
    return ensemble;
}

// The database is large (about 25 kB): tests keep it on the heap, zeroed as
// the program zeroes its own, where the address sanitiser sees its bounds.
inline std::unique_ptr<DAB_ScanResults> make_results() {
    return std::make_unique<DAB_ScanResults>();
}

inline std::string read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::filesystem::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

using tunelark::test::captured_stdout;
using tunelark::test::ScratchDir;

// A simulated board whose chip already runs the DAB firmware, with the link
// open and the receiver properties set as the program sets them at start.
class SimulatedReceiver : public testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        sim::set_chip_running();
        ASSERT_EQ(Si468x_bus_init(), 0);
        ASSERT_EQ(DAB_set_properties_max_stations(), 0);
        DABUtils_ErrorCode = 0;
    }
    void TearDown() override { Si468x_SPI_shutdown(); }

    // Loads a band given as JSON; the parsed band is kept for the test's
    // expectations.
    void load_band(const std::string &json) {
        std::string error;
        ASSERT_TRUE(sim::load_band_json(json, &error)) << error;
        ASSERT_TRUE(sim::parse_band_json(json, &band_, &error)) << error;
    }
    void fault(const std::string &list) {
        std::string error;
        ASSERT_TRUE(sim::set_faults(list, &error)) << error;
    }

    // The chip's frequency list, as the program reads it before a scan.
    std::vector<uint32_t> chip_frequencies() {
        std::vector<uint32_t> frequencies(SI468X_MAX_FREQ_LIST);
        uint8_t count = 0;
        EXPECT_EQ(Si468x_DAB_get_freq_list(frequencies.data(), SI468X_MAX_FREQ_LIST, &count), 0);
        frequencies.resize(count);
        return frequencies;
    }

    // How often the host sent a command with this opcode / made this exact
    // bcm2835 call (e.g. "bcm2835_delay(200)") since the last forget().
    uint64_t commands(uint8_t opcode) const {
        return sim::stats().commands[opcode] - command_base_[opcode];
    }
    static std::size_t call_count(const std::string &call) {
        std::size_t n = 0;
        for (const auto &entry : sim::calls()) {
            n += entry == call ? 1 : 0;
        }
        return n;
    }
    void forget() {
        std::copy(std::begin(sim::stats().commands), std::end(sim::stats().commands),
                  command_base_);
        sim::clear_calls();
        start_ms_ = sim::now_ms();
    }
    double elapsed_ms() const { return sim::now_ms() - start_ms_; }

    sim::Band band_;

private:
    uint64_t command_base_[256] = {};
    double start_ms_ = 0;
};

// The names of the entries of a directory.
inline std::set<std::string> names_in(const std::filesystem::path &directory) {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The raw service records the simulated chip sends for an ensemble.
inline bool holds_records(const DAB_Ensemble &entry, const sim::Ensemble &ensemble) {
    const std::vector<uint8_t> records = sim::service_list_records(ensemble);
    return entry.num_services == ensemble.services.size() && entry.data_length == records.size() &&
           std::equal(records.begin(), records.end(), entry.service_data);
}

} // namespace station_test
