// SPDX-License-Identifier: GPL-3.0-or-later
// The DAB receiver inside the simulated chip: the band it receives, tuning,
// reception and event status, service lists, ensemble time, service start and
// stop, data-service packets and component information. The chip core owns
// the transport (CTS, RD_REPLY, status bytes, power-up states) and hands the
// DAB firmware's commands to this class once the DAB image is running.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Clock.h"
#include "Faults.h"

namespace sim {

struct Band; // sim/Band.h

// What a command does, as the chip core needs to know it.
struct Outcome {
    bool err_cmd = false;      // the command is rejected: ERR_CMD in STATUS0
    uint64_t busy_ns = 0;      // CTS comes this long after the command's last byte
    std::vector<uint8_t> resp; // response bytes RESP4, RESP5, ... (reply position 5 on)
};

class DabRadio {
public:
    // The properties are the chip core's store (id -> value), read live.
    DabRadio(const Clock &clock, const Faults &faults,
             const std::map<uint16_t, uint16_t> &properties);
    ~DabRadio();
    DabRadio(const DabRadio &) = delete;
    DabRadio &operator=(const DabRadio &) = delete;

    // Opcodes this class answers (0x80 to 0xBF as the DAB image has them).
    static bool handles(uint8_t opcode);

    // Executes one command written at the clock's current time.
    Outcome execute(const uint8_t *command, std::size_t length);

    // Live STATUS0 bits owned by the receiver: STCINT (0x01) once a tune has
    // completed, DSRVINT (0x10) while data-service packets wait.
    uint8_t status0_bits() const;

    // The chip was reset or powered up again: tuning, started service and
    // queued packets are gone. The band stays.
    void chip_reset();

    // The band received. The built-in default band is received until another
    // is loaded. A malformed band fails with a message in *error and leaves
    // the current band in place.
    void use_default_band();
    bool load_band_json(const std::string &json, std::string *error);
    bool load_band_file(const std::string &path, std::string *error);
    const Band &band() const;

    // State that survives the process when the chip is left running: tuned
    // index, started service. Keys are the receiver's own.
    void save(std::map<std::string, std::string> &state) const;
    void load(const std::map<std::string, std::string> &state);

    // For tests: the tuned frequency index (-1 when none), the started service.
    int tuned_index() const;
    bool service_started(uint32_t *service_id, uint32_t *component_id) const;

    // Busy time of the full GET_DIGITAL_SERVICE_DATA read and of the receiver's
    // phases; defaults resemble a real chip.
    struct Timing {
        uint64_t tune_ns = 30'000'000;     // DAB_TUNE_FREQ until STCINT
        uint64_t acquire_ns = 300'000'000; // after STCINT until the ensemble is acquired
        uint64_t list_ready_ns =
            1'200'000'000;                // after acquisition until the service list is announced
        uint64_t data_cts_ns = 2'000'000; // 0x84 0x00 until CTS in the full read
        uint64_t text_interval_ns = 4'000'000'000; // between broadcast texts of a started service
        uint64_t first_text_ns = 1'500'000'000;    // service start until its first text
        uint64_t packet_interval_ns =
            9'000'000'000; // between its other packets (first one after this)
    };
    Timing &timing();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Changes timings from a list as in SI468X_SIM_TIMING, milliseconds by phase:
// "first-text=200,text-interval=500". Names: tune, acquire, list-ready,
// data-cts, first-text, text-interval, packet-interval. An unknown name or a
// value that is not a whole number of milliseconds up to a day fails with
// *error saying which, and leaves *timing as it was.
bool parse_timing(const std::string &list, DabRadio::Timing *timing, std::string *error);

} // namespace sim
