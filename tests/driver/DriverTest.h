// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the driver tests: a fresh simulated board, the link open,
// the bytes on the wire recorded, and helpers to script replies and read the
// wire and standard output back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Si468x.h"
#include "Si468x_SPI.h"
#include "SimBoard.h"
#include "stdout_capture.h"

namespace driver_test {

using Bytes = std::vector<uint8_t>;

// A scripted reply: STATUS0, STATUS1, STATUS2, STATUS3, then RESP4 onwards.
inline Bytes reply(uint8_t status0, uint8_t status3, const Bytes &resp = {}) {
    Bytes bytes{status0, 0x00, 0x00, status3};
    bytes.insert(bytes.end(), resp.begin(), resp.end());
    return bytes;
}

// STATUS0 to STATUS3 alone. A list, not reply(): g++ 12 takes reply()'s
// insert of an empty range for an overrun in some inlined uses
// (-Warray-bounds).
inline Bytes status_bytes(uint8_t status0, uint8_t status3) {
    return Bytes{status0, 0x00, 0x00, status3};
}

// The usual answer of a running chip: CTS, application running, no error.
inline Bytes ok_reply(const Bytes &resp = {}) {
    return reply(0x80, 0xC0, resp);
}

inline void put_u16(Bytes &bytes, std::size_t at, uint16_t value) {
    bytes.at(at) = static_cast<uint8_t>(value);
    bytes.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

inline void put_u32(Bytes &bytes, std::size_t at, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
    }
}

using tunelark::test::captured_stdout;

// A board whose chip already runs the DAB firmware, with the link open.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        prepare_chip();
        ASSERT_EQ(Si468x_bus_init(), 0);
        settle();
    }

    void TearDown() override { Si468x_SPI_shutdown(); }

    virtual void prepare_chip() { sim::set_chip_running(); }

    // Forget the traffic so far: what a test asserts starts here.
    void settle() {
        sim::record_frames(true);
        sim::clear_frames();
        sim::clear_calls();
        delay_calls_base_ = sim::stats().delay_calls;
        delay_ns_base_ = sim::stats().delay_ns;
        Si468x_ErrorCode = 0;
    }

    // Bytes the host sent, one entry per chip-select frame.
    static std::vector<Bytes> sent() {
        std::vector<Bytes> out;
        for (const auto &frame : sim::frames()) {
            out.push_back(frame.out);
        }
        return out;
    }

    // Frames that carried a command: every read starts with RD_REPLY, 0x00.
    static std::vector<Bytes> commands() {
        std::vector<Bytes> out;
        for (const auto &frame : sim::frames()) {
            if (!frame.out.empty() && frame.out[0] != 0x00) {
                out.push_back(frame.out);
            }
        }
        return out;
    }

    // Sizes of the read frames (RD_REPLY and zeros).
    static std::vector<std::size_t> read_sizes() {
        std::vector<std::size_t> out;
        for (const auto &frame : sim::frames()) {
            if (!frame.out.empty() && frame.out[0] == 0x00) {
                out.push_back(frame.out.size());
            }
        }
        return out;
    }

    uint64_t delay_calls() const { return sim::stats().delay_calls - delay_calls_base_; }
    uint64_t delay_ns() const { return sim::stats().delay_ns - delay_ns_base_; }

    // How often the host called a bcm2835 function exactly so, e.g.
    // "bcm2835_delay(100)".
    static std::size_t call_count(const std::string &call) {
        std::size_t n = 0;
        for (const auto &entry : sim::calls()) {
            n += entry == call ? 1 : 0;
        }
        return n;
    }

private:
    uint64_t delay_calls_base_ = 0;
    uint64_t delay_ns_base_ = 0;
};

// A freshly reset chip taken to its boot loader: POWER_UP done, link open.
class BootLoaderTest : public DriverTest {
protected:
    void prepare_chip() override {}

    void SetUp() override {
        DriverTest::SetUp();
        if (HasFatalFailure()) {
            return;
        }
        Si468x_reset();
        ASSERT_EQ(Si468x_power_up(), 0);
        ASSERT_EQ(Si468x_load_init(), 0);
        settle();
    }
};

} // namespace driver_test
