// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of a path: the prescribed algorithm played against the chip
// model's own timings with a host that costs nothing. Every exchange moves
// exactly the bytes the command table gives, every fixed wait is taken as
// prescribed, and every poll loop (clear-to-send with its growing wait, the
// tune wait's 100 ms steps, the 200 ms steps of the service-list and
// acquisition waits) takes exactly the polls that the model's times force.
// What the real code needs beyond this is overhead of the implementation.
#pragma once

#include <cstdint>
#include <optional>

#include "Band.h"
#include "Bench.h"
#include "DabRadio.h"

namespace bench {

class Reference {
public:
    explicit Reference(const sim::DabRadio::Timing &timing) : timing_(timing) {}

    uint64_t now_ns() const { return now_ns_; }
    const Split &split() const { return split_; }
    const Traffic &traffic() const { return traffic_; }
    uint64_t busy_ns() const { return busy_ns_; }

    // ---- the paths ----------------------------------------------------------
    // The running-chip test at start: one status read. A chip in reset answers
    // nothing, so the full bring-up follows.
    void running_chip_test_fails();
    // The shortcut taken: the status read and the volume property read.
    void take_over_running_chip();
    // One successful attempt of the full bring-up, chip information and the
    // receiver properties.
    void bringup_full();
    // The station set-up's scan: frequency list, full scan of the band.
    void scan_band(const sim::Band &band);
    // DAB_do_full_scan alone, on a chip that runs the DAB image.
    void full_scan(const sim::Band &band);
    void set_volume() { set_property(); }
    // play_station: with a retune when the ensemble differs from the last one;
    // without, the chip has held the ensemble for a while.
    void play_station(bool retune, bool acquires);

private:
    // ---- transport ------------------------------------------------------------
    void frame(uint32_t bytes);
    void fixed_wait_ms(uint32_t ms);
    // Si468x_send_cmd: write, clear-to-send polls, the reply read. Returns
    // the time the command's last byte was in, when the chip acts on it.
    uint64_t exchange(uint8_t opcode, uint32_t command_bytes, uint32_t reply_bytes);
    void await_cts(uint64_t cts_at_ns);
    // Si468x_rd_reply: one 7-byte status read; returns the time its last byte
    // was clocked, when the chip's live status bits are taken.
    uint64_t status_read();
    // Splits a poll loop's waiting between the chip (until `event_ns`) and the
    // poll periods beyond it.
    void attribute_waits(uint64_t begin_ns, uint64_t event_ns, uint64_t waited_ns);

    // ---- commands ---------------------------------------------------------------
    void set_property();
    void set_properties_max_stations();
    void set_properties_output();
    void upload(uint32_t image_bytes);
    // DAB_TUNE_FREQ and the tune-complete wait; sets the receiver's phase times.
    void tune(bool acquires);
    bool digrad_shows_acquired(); // one DAB_DIGRAD_STATUS
    // The scan's wait for a stable service list; false after DAB_LIST_POLLS polls.
    bool await_service_list();

    sim::DabRadio::Timing timing_;
    uint64_t now_ns_ = 0;
    Split split_;
    Traffic traffic_;
    uint64_t busy_ns_ = 0;
    // The receiver's phases after the last tune, in reference time.
    uint64_t stc_at_ns_ = 0;
    std::optional<uint64_t> acquired_at_ns_;
    std::optional<uint64_t> list_at_ns_;
};

// Whether the band scan takes the ensemble on this frequency: a valid signal
// (the band's own verdict, else the RSSI against the threshold the scan sets)
// and a FIC quality of at least DAB_MIN_FIC_QUALITY.
bool scan_accepts(const sim::Ensemble *ensemble);

} // namespace bench
