// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real radio binary on the simulated board: a fresh board directory
// and working directory per run, the virtual clock, faults and a band of the
// test's choosing, a wire trace, and the board's state read back afterwards.
#pragma once

#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <stdlib.h>

#include "Band.h"
#include "SimBoard.h"
#include "Trace.h"
#include "run_program.h"
#include "scratch_dir.h"

namespace tunelark::test {

inline std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

// The wire trace, read by the simulated board's own reader.
using sim::parse_trace;
using sim::TraceFrame;

// Chip commands, as the programming guide names them.
namespace opcode {
constexpr uint8_t RD_REPLY = 0x00;
constexpr uint8_t POWER_UP = 0x01;
constexpr uint8_t HOST_LOAD = 0x04;
constexpr uint8_t LOAD_INIT = 0x06;
constexpr uint8_t BOOT = 0x07;
constexpr uint8_t GET_PART_INFO = 0x08;
constexpr uint8_t GET_SYS_STATE = 0x09;
constexpr uint8_t SET_PROPERTY = 0x13;
constexpr uint8_t GET_PROPERTY = 0x14;
constexpr uint8_t START_DIGITAL_SERVICE = 0x81;
constexpr uint8_t GET_DIGITAL_SERVICE_DATA = 0x84;
constexpr uint8_t DAB_TUNE_FREQ = 0xB0;
constexpr uint8_t DAB_GET_FREQ_LIST = 0xB9;
} // namespace opcode

// GPIO of the chip's reset line (active low).
constexpr uint8_t reset_pin = 23;

// The first lines every root run prints.
inline const std::string start_line = "Starting...Corvane Software v0.16.5\n";

// The board's frequency list: 41 Band III frequencies, 5A first.
inline uint32_t band_frequency(std::size_t index) {
    return sim::band_iii_frequencies().at(index);
}

class RadioRun {
public:
    std::vector<std::string> args;
    std::string faults;
    std::string pi;                // which Pi the board is (SI468X_SIM_PI); empty: a Pi 4
    std::optional<sim::Band> band; // default band when unset
    std::optional<std::string> term;
    std::optional<uid_t> uid;
    std::chrono::milliseconds limit = std::chrono::seconds(90);

    ScratchDir board{"tunelark_board"};
    ScratchDir work{"tunelark_work"};

    std::string station_list_path() const { return work.file("stationlist.txt"); }
    std::string trace_path() const { return board.file("trace"); }

    ProgramOptions options() const {
        ProgramOptions o;
        o.program = TUNELARK_PROGRAM;
        o.argv0 = "./Tunelark";
        o.args = args;
        o.cwd = work.path();
        o.env = {{"SI468X_SIM_BOARD", board.path()},
                 {"SI468X_SIM_CLOCK", "virtual"},
                 {"SI468X_SIM_TRACE", trace_path()}};
        if (!faults.empty()) {
            o.env.emplace_back("SI468X_SIM_FAULTS", faults);
        }
        if (!pi.empty()) {
            o.env.emplace_back("SI468X_SIM_PI", pi);
        }
        if (band) {
            const std::string path = board.file("band.json");
            write_file(path, sim::band_to_json(*band));
            o.env.emplace_back("SI468X_SIM_BAND", path);
        }
        if (term) {
            o.env.emplace_back("TERM", *term);
        }
        if (uid) {
            o.uid = *uid;
            o.gid = static_cast<gid_t>(*uid);
        }
        return o;
    }

    ProgramResult run(const std::string &input = {}) {
        return run_program(options(), input, limit);
    }

    std::vector<TraceFrame> trace() const { return parse_trace(read_file(trace_path())); }

    // The board's counters at the end of the run ("name=value" lines).
    std::map<std::string, std::string> stats() const {
        std::map<std::string, std::string> values;
        std::istringstream lines(read_file(board.file("stats")));
        for (std::string line; std::getline(lines, line);) {
            const auto equals = line.find('=');
            if (equals != std::string::npos) {
                values[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
        return values;
    }
    uint64_t stat(const std::string &name) const {
        const auto values = stats();
        const auto found = values.find(name);
        return found == values.end() ? 0 : std::stoull(found->second);
    }

    // The board as the run left it, loaded into this process's model.
    void load_board() const {
        sim::reset_for_test();
        sim::use_directory(board.path());
        sim::load_state();
    }

    // As if an earlier run had booted the chip and left it playing.
    void leave_chip_running(std::optional<uint16_t> volume = std::nullopt) const {
        sim::reset_for_test();
        sim::use_directory(board.path());
        sim::set_chip_running();
        if (volume) {
            sim::set_property(0x0300, *volume);
        }
        sim::save_state();
        sim::reset_for_test();
    }
};

// Frames whose first byte is the given command.
inline std::vector<TraceFrame> commands(const std::vector<TraceFrame> &frames, uint8_t code) {
    std::vector<TraceFrame> found;
    for (const auto &frame : frames) {
        if (frame.opcode() == code) {
            found.push_back(frame);
        }
    }
    return found;
}

// The property identifier of a SET_PROPERTY frame (bytes 2-3, little-endian).
inline uint16_t property_id(const TraceFrame &frame) {
    return static_cast<uint16_t>(frame.out.at(2) | (frame.out.at(3) << 8));
}
inline uint16_t property_value(const TraceFrame &frame) {
    return static_cast<uint16_t>(frame.out.at(4) | (frame.out.at(5) << 8));
}

} // namespace tunelark::test
