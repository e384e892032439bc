// SPDX-License-Identifier: GPL-3.0-or-later
#include "Reference.h"

#include <algorithm>

#include "Chip.h"
#include "CorvaneRadio.h"
#include "DABUtils.h"
#include "Firmware.h"
#include "Si468x_commands.h"

namespace bench {

namespace {

// ---- the prescribed algorithm's constants ------------------------------------
// Every wait, poll count and threshold is the one the radio's code names
// (driver, station management, application); only the arithmetic is the
// model's own.

// Clear-to-send: at most CTS_POLL_COUNT status reads, the wait after read i
// is i x step + first microseconds.
constexpr uint64_t cts_wait_ns(uint32_t i) {
    return (uint64_t{i} * CTS_POLL_WAIT_STEP_US + CTS_POLL_WAIT_FIRST_US) * 1000;
}

// The receiver's commands (those of the DAB image) answer at once on the model;
// the chip core's own have the busy times of its table.
uint64_t model_busy_ns(uint8_t opcode) {
    return opcode >= 0x80 ? 0 : sim::Chip::default_busy_ns(opcode);
}

} // namespace

Split &Split::operator+=(const Split &other) {
    fixed_ns += other.fixed_ns;
    wire_ns += other.wire_ns;
    chip_ns += other.chip_ns;
    polling_ns += other.polling_ns;
    return *this;
}

bool scan_accepts(const sim::Ensemble *ensemble) {
    if (ensemble == nullptr) {
        return false;
    }
    const bool valid = ensemble->reception.rssi_valid.value_or(ensemble->reception.rssi >=
                                                               DAB_SCAN_RSSI_THRESHOLD);
    return valid && ensemble->reception.fic_quality >= DAB_MIN_FIC_QUALITY;
}

// ---- transport ------------------------------------------------------------------

void Reference::frame(uint32_t bytes) {
    const uint64_t ns = uint64_t{bytes} * BYTE_NS;
    now_ns_ += ns;
    split_.wire_ns += ns;
    ++traffic_.frames;
    traffic_.bytes += bytes;
}

void Reference::fixed_wait_ms(uint32_t ms) {
    const uint64_t ns = uint64_t{ms} * 1'000'000;
    now_ns_ += ns;
    split_.fixed_ns += ns;
}

void Reference::attribute_waits(uint64_t begin_ns, uint64_t event_ns, uint64_t waited_ns) {
    const uint64_t chip = std::min(waited_ns, event_ns > begin_ns ? event_ns - begin_ns : 0);
    split_.chip_ns += chip;
    split_.polling_ns += waited_ns - chip;
}

uint64_t Reference::exchange(uint8_t opcode, uint32_t command_bytes, uint32_t reply_bytes) {
    frame(command_bytes);
    const uint64_t command_end = now_ns_;
    const uint64_t busy = model_busy_ns(opcode);
    busy_ns_ += busy;
    await_cts(command_end + busy);
    if (reply_bytes > 0) {
        frame(reply_bytes);
    }
    return command_end;
}

void Reference::await_cts(uint64_t cts_at_ns) {
    const uint64_t begin = now_ns_;
    uint64_t waited = 0;
    for (uint32_t i = 0; i < CTS_POLL_COUNT; ++i) {
        // The chip latches its status as the read's opcode byte comes in.
        const bool cts = now_ns_ + BYTE_NS >= cts_at_ns;
        frame(CTS_POLL_LENGTH);
        if (cts) {
            break;
        }
        now_ns_ += cts_wait_ns(i);
        waited += cts_wait_ns(i);
    }
    attribute_waits(begin, cts_at_ns, waited);
}

uint64_t Reference::status_read() {
    frame(CTS_POLL_LENGTH);
    return now_ns_;
}

// ---- commands -----------------------------------------------------------------------

void Reference::set_property() {
    exchange(SET_PROPERTY, SET_PROPERTY_LENGTH, 0);
    exchange(GET_PROPERTY, GET_PROPERTY_LENGTH, GET_PROPERTY_REPLY_LENGTH); // the read-back
}

void Reference::set_properties_max_stations() {
    for (uint32_t k = 0; k < DAB_RECEPTION_PROPERTIES; ++k) {
        set_property();
    }
}

void Reference::set_properties_output() {
    for (uint32_t k = 0; k < DAB_OUTPUT_PROPERTIES; ++k) {
        set_property();
    }
}

void Reference::upload(uint32_t image_bytes) {
    for (uint32_t sent = 0; sent < image_bytes;) {
        const uint32_t chunk = std::min<uint32_t>(HOST_LOAD_CHUNK, image_bytes - sent);
        exchange(HOST_LOAD, HOST_LOAD_HEADER_LENGTH + chunk, 0);
        sent += chunk;
    }
}

void Reference::tune(bool acquires) {
    // The receiver's phases count from the command's arrival.
    const uint64_t command_end = exchange(DAB_TUNE_FREQ, DAB_TUNE_FREQ_LENGTH, 0);
    stc_at_ns_ = command_end + timing_.tune_ns;
    acquired_at_ns_.reset();
    list_at_ns_.reset();
    if (acquires) {
        acquired_at_ns_ = stc_at_ns_ + timing_.acquire_ns;
        list_at_ns_ = *acquired_at_ns_ + timing_.list_ready_ns;
    }

    const uint64_t begin = now_ns_;
    uint64_t waited = 0;
    for (uint32_t poll = 0; poll < TUNE_POLL_COUNT; ++poll) {
        // STCINT is a live bit: the read sees it when its frame ends after it.
        if (status_read() >= stc_at_ns_) {
            break;
        }
        now_ns_ += uint64_t{TUNE_POLL_WAIT_MS} * 1'000'000;
        waited += uint64_t{TUNE_POLL_WAIT_MS} * 1'000'000;
    }
    attribute_waits(begin, stc_at_ns_, waited);
}

bool Reference::digrad_shows_acquired() {
    const uint64_t command_end =
        exchange(DAB_DIGRAD_STATUS, DAB_DIGRAD_STATUS_LENGTH, DAB_DIGRAD_STATUS_REPLY_LENGTH);
    return acquired_at_ns_ && *acquired_at_ns_ <= command_end;
}

bool Reference::await_service_list() {
    const uint64_t begin = now_ns_;
    uint64_t waited = 0;
    bool version_remembered = false;
    bool stable = false;
    for (int poll = 0; poll < DAB_LIST_POLLS && !stable; ++poll) {
        const uint64_t command_end = exchange(DAB_GET_EVENT_STATUS, DAB_GET_EVENT_STATUS_LENGTH,
                                              DAB_GET_EVENT_STATUS_REPLY_LENGTH);
        const bool available = list_at_ns_ && *list_at_ns_ <= command_end;
        // One poll announces the list and its version, a later one finds the
        // same version again.
        if (available && version_remembered) {
            stable = true;
        } else {
            version_remembered = version_remembered || available;
            if (poll + 1 < DAB_LIST_POLLS) {
                now_ns_ += uint64_t{DAB_LIST_POLL_WAIT_MS} * 1'000'000;
                waited += uint64_t{DAB_LIST_POLL_WAIT_MS} * 1'000'000;
            }
        }
    }
    attribute_waits(begin, list_at_ns_.value_or(begin), waited);
    return stable;
}

// ---- paths ------------------------------------------------------------------------------

void Reference::running_chip_test_fails() {
    status_read();
}

void Reference::take_over_running_chip() {
    status_read();
    exchange(GET_PROPERTY, GET_PROPERTY_LENGTH, GET_PROPERTY_REPLY_LENGTH); // the volume
}

void Reference::bringup_full() {
    fixed_wait_ms(RESET_LOW_MS);
    fixed_wait_ms(RESET_SETTLE_MS);
    status_read(); // the chip answers after the reset
    exchange(POWER_UP, POWER_UP_LENGTH, POWER_UP_REPLY_LENGTH);
    exchange(GET_PART_INFO, INFO_COMMAND_LENGTH, GET_PART_INFO_REPLY_LENGTH);
    exchange(GET_SYS_STATE, INFO_COMMAND_LENGTH, GET_SYS_STATE_REPLY_LENGTH);
    exchange(LOAD_INIT, LOAD_INIT_LENGTH, 0);
    upload(FW_ROM00_PATCH016_SIZE);
    fixed_wait_ms(DAB_BRINGUP_PATCH_TO_IMAGE_MS);
    exchange(LOAD_INIT, LOAD_INIT_LENGTH, 0);
    upload(FW_DAB_RADIO_6_0_6_SIZE);
    fixed_wait_ms(DAB_BRINGUP_IMAGE_TO_BOOT_MS);
    exchange(BOOT, BOOT_LENGTH, BOOT_REPLY_LENGTH);
    exchange(GET_PART_INFO, INFO_COMMAND_LENGTH, GET_PART_INFO_REPLY_LENGTH);
    exchange(GET_SYS_STATE, INFO_COMMAND_LENGTH, GET_SYS_STATE_REPLY_LENGTH);
    exchange(GET_FUNC_INFO, INFO_COMMAND_LENGTH, GET_FUNC_INFO_REPLY_LENGTH);
    set_properties_max_stations();
    set_properties_output();
}

void Reference::scan_band(const sim::Band &band) {
    const auto count = static_cast<uint32_t>(band.frequencies.size());
    exchange(DAB_GET_FREQ_LIST, DAB_GET_FREQ_LIST_LENGTH, DAB_GET_FREQ_LIST_COUNT_REPLY_LENGTH);
    exchange(DAB_GET_FREQ_LIST, DAB_GET_FREQ_LIST_LENGTH,
             FREQ_LIST_ENTRY_LENGTH * count + FREQ_LIST_FIRST);
    full_scan(band);
}

void Reference::full_scan(const sim::Band &band) {
    set_properties_max_stations();
    for (const uint32_t khz : band.frequencies) {
        const sim::Ensemble *ensemble = band.on_frequency(khz);
        const bool accepted = scan_accepts(ensemble);
        tune(accepted && ensemble->reception.acquires);
        digrad_shows_acquired(); // the reception status the scan judges
        if (!accepted || !await_service_list()) {
            continue;
        }
        const auto size = static_cast<uint32_t>(SERVICE_LIST_HEADER +
                                                sim::service_list_records(*ensemble).size());
        exchange(GET_DIGITAL_SERVICE_LIST, GET_DIGITAL_SERVICE_LIST_LENGTH,
                 SERVICE_LIST_SIZE_REPLY_LENGTH);
        exchange(GET_DIGITAL_SERVICE_LIST, GET_DIGITAL_SERVICE_LIST_LENGTH,
                 size + SERVICE_LIST_SIZE_OFFSET);
        fixed_wait_ms(DAB_TIME_WAIT_MS);
        exchange(DAB_GET_TIME, DAB_GET_TIME_LENGTH, DAB_GET_TIME_REPLY_LENGTH);
    }
}

void Reference::play_station(bool retune, bool acquires) {
    if (retune) {
        tune(acquires);
        fixed_wait_ms(DAB_AFTER_TUNE_MS);
    } else if (acquires) {
        acquired_at_ns_ = 0; // the ensemble has been held for a while
    }
    const uint64_t begin = now_ns_;
    uint64_t waited = 0;
    bool acquired = false;
    for (uint32_t poll = 0; poll < DAB_ACQUIRE_POLLS && !acquired; ++poll) {
        acquired = digrad_shows_acquired();
        if (!acquired) {
            now_ns_ += uint64_t{DAB_ACQUIRE_POLL_WAIT_MS} * 1'000'000;
            waited += uint64_t{DAB_ACQUIRE_POLL_WAIT_MS} * 1'000'000;
        }
    }
    attribute_waits(begin, acquired_at_ns_.value_or(begin), waited);
    if (!acquired) {
        return;
    }
    fixed_wait_ms(CORVANE_RADIO_ACQUIRED_TO_START_MS);
    exchange(START_DIGITAL_SERVICE, DIGITAL_SERVICE_LENGTH, 0);
}

} // namespace bench
