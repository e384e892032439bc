// SPDX-License-Identifier: GPL-3.0-or-later
// Receiver timings from the board's settings: a test of the radio's binary
// can make texts come in seconds instead of waiting out a real station's
// rhythm.
#include <array>
#include <cstdint>
#include <cstdlib>

#include "DabRadio.h"
#include "Settings.h"

namespace sim {

namespace {

struct TimingField {
    const char *name;
    uint64_t DabRadio::Timing::*field;
};

constexpr std::array<TimingField, 7> timing_fields{{
    {"tune", &DabRadio::Timing::tune_ns},
    {"acquire", &DabRadio::Timing::acquire_ns},
    {"list-ready", &DabRadio::Timing::list_ready_ns},
    {"data-cts", &DabRadio::Timing::data_cts_ns},
    {"first-text", &DabRadio::Timing::first_text_ns},
    {"text-interval", &DabRadio::Timing::text_interval_ns},
    {"packet-interval", &DabRadio::Timing::packet_interval_ns},
}};

constexpr unsigned long max_timing_ms = 24UL * 60 * 60 * 1000;
constexpr uint64_t ns_per_ms = 1'000'000;

} // namespace

bool parse_timing(const std::string &list, DabRadio::Timing *timing, std::string *error) {
    DabRadio::Timing changed = *timing;
    const bool parsed =
        for_each_setting(list, [&](const std::string &name, const std::string &value) {
            const TimingField *known = nullptr;
            for (const auto &field : timing_fields) {
                if (name == field.name) {
                    known = &field;
                }
            }
            if (known == nullptr) {
                *error = "unknown timing '" + name + "'";
                return false;
            }
            const bool digits =
                !value.empty() && value.find_first_not_of("0123456789") == std::string::npos;
            const unsigned long ms = digits ? std::strtoul(value.c_str(), nullptr, 10) : 0;
            if (!digits || ms > max_timing_ms) {
                *error = "timing '" + name + "' needs whole milliseconds up to a day, got '" +
                         value + "'";
                return false;
            }
            changed.*(known->field) = ms * ns_per_ms;
            return true;
        });
    if (parsed) {
        *timing = changed;
    }
    return parsed;
}

} // namespace sim
