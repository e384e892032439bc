// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the simulated receiver directly: command bytes in, Outcome out, on a
// virtual clock that moves only when the test says so.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Band.h"
#include "Clock.h"
#include "DabRadio.h"
#include "Faults.h"

namespace dabtest {

constexpr uint64_t ms = 1'000'000;
constexpr uint64_t s = 1'000'000'000;

// Harbour FM on the default band's index 0, an audio service.
constexpr uint32_t harbour = 0xD210;
constexpr uint32_t harbour_audio = 0x0004;

inline uint16_t le16(const std::vector<uint8_t> &bytes, std::size_t at) {
    return static_cast<uint16_t>(bytes.at(at) | bytes.at(at + 1) << 8);
}

inline uint32_t le32(const std::vector<uint8_t> &bytes, std::size_t at) {
    return static_cast<uint32_t>(bytes.at(at)) | static_cast<uint32_t>(bytes.at(at + 1)) << 8 |
           static_cast<uint32_t>(bytes.at(at + 2)) << 16 |
           static_cast<uint32_t>(bytes.at(at + 3)) << 24;
}

inline void append_le32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

// A 12-byte frame naming a service and a component (start, stop, component info).
inline std::vector<uint8_t> frame12(uint8_t opcode, uint8_t arg, uint32_t service_id,
                                    uint32_t component_id) {
    std::vector<uint8_t> frame{opcode, arg, 0, 0};
    append_le32(frame, service_id);
    append_le32(frame, component_id);
    return frame;
}

class Receiver : public ::testing::Test {
protected:
    Receiver() { clock.set_mode(sim::ClockMode::Virtual); }

    sim::Clock clock;
    sim::Faults faults;
    std::map<uint16_t, uint16_t> properties;
    sim::DabRadio radio{clock, faults, properties};

    // The reply by host reply position: position 5 is RESP4, the first byte of
    // Outcome::resp; positions 0 to 4 (filler and status) are the core's.
    struct Reply {
        sim::Outcome outcome;
        uint8_t at(std::size_t position) const { return outcome.resp.at(position - 5); }
        uint16_t le16_at(std::size_t position) const { return le16(outcome.resp, position - 5); }
        uint32_t le32_at(std::size_t position) const { return le32(outcome.resp, position - 5); }
        bool err() const { return outcome.err_cmd; }
        std::size_t positions() const { return outcome.resp.size() + 5; }
    };

    Reply send(std::vector<uint8_t> command) {
        return Reply{radio.execute(command.data(), command.size())};
    }
    Reply send(std::initializer_list<uint8_t> command) {
        return send(std::vector<uint8_t>(command));
    }

    void wait(uint64_t ns) { clock.sleep_ns(ns); }

    void fault(const std::string &list) {
        std::string error;
        ASSERT_TRUE(faults.parse(list, &error)) << error;
    }

    Reply tune(uint8_t index) { return send({0xB0, 0x00, index, 0x00, 0x00, 0x00}); }
    Reply digrad() { return send({0xB2, 0x00}); }
    Reply events(uint8_t ack = 0x01) { return send({0xB3, ack}); }
    Reply service_list() { return send({0x80, 0x00}); }
    Reply data_status() { return send({0x84, 0x10}); }
    Reply data_full() { return send({0x84, 0x00}); }

    // Time from a tune until the service list is announced, with the defaults.
    uint64_t until_list() {
        const auto &t = radio.timing();
        return t.tune_ns + t.acquire_ns + t.list_ready_ns;
    }

    // Tunes and waits until the ensemble's list is out.
    void tune_and_settle(uint8_t index) {
        ASSERT_FALSE(tune(index).err());
        wait(until_list());
    }

    void use_band(const std::string &json) {
        std::string error;
        ASSERT_TRUE(radio.load_band_json(json, &error)) << error;
    }
};

// The default band's ensemble on a frequency index (test data lookups).
inline const sim::Ensemble &ensemble_at(const sim::Band &band, std::size_t index) {
    const sim::Ensemble *e = band.on_frequency(band.frequencies.at(index));
    if (e == nullptr) {
        throw std::runtime_error("no ensemble on index " + std::to_string(index));
    }
    return *e;
}

} // namespace dabtest
