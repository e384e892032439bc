// SPDX-License-Identifier: GPL-3.0-or-later
// The inside of the simulated DAB receiver (DabRadio), shared by the files
// that implement it, one concern each:
//
//   DabRadio.cpp           the public class: construction, dispatch, reset,
//                          what tests ask
//   DabRadioCommands.cpp   the commands: tune, reception and event status,
//                          frequency lists, service list, time, service
//                          start and stop, component information
//   DabRadioPackets.cpp    the packet queue of a started service: texts,
//                          other packets, overflow, GET_DIGITAL_SERVICE_DATA
//   DabRadioBand.cpp       the band: what is on the tuned frequency, and when
//                          a tune completes, acquires and lists its services
//   DabRadioSavedState.cpp what survives the process (save, load)
//
// The receiver is a function of time: a tune, a service start and the
// acknowledgements record when they happened, and every reply is computed
// from the clock at the moment the command arrives. There are no threads and
// no timers; packets that fell due since the last command are queued lazily.
//
// Private to the receiver's own sources: it opens the protocol's namespace.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Band.h"
#include "ChipProtocol.h"
#include "DabRadio.h"

namespace sim {

namespace receiver {

inline constexpr uint16_t default_rssi_threshold = 12;

// What the chip buffers of a started service before it drops packets.
inline constexpr std::size_t packet_queue_capacity = 8;

// Text packets: PAD-carried dynamic label.
inline constexpr uint8_t text_data_src = 2;
inline constexpr uint8_t text_dscty = 0;
// The dynamic label's prefix: toggle, C flag (a command), the commands.
inline constexpr uint8_t dls_toggle = 0x80;
inline constexpr uint8_t dls_command = 0x10;
inline constexpr uint8_t dls_clear_display = 0x01;
inline constexpr uint8_t dls_dl_plus = 0x02;
inline constexpr uint8_t srv_state_running = 1;

inline constexpr uint64_t never = UINT64_MAX;
inline constexpr uint64_t no_cts_busy_ns = UINT64_MAX / 4;

inline uint64_t later(uint64_t at, uint64_t delay) {
    return at > never - delay ? never : at + delay;
}

inline void put_le16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void put_le32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

inline uint32_t le32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline Outcome rejected() {
    Outcome outcome;
    outcome.err_cmd = true;
    return outcome;
}

struct QueuedPacket {
    uint8_t data_src = 0;
    uint8_t dscty = 0;
    uint32_t service_id = 0;
    uint32_t component_id = 0;
    uint16_t segment = 0;
    uint16_t segments = 0;
    std::vector<uint8_t> payload;
};

struct Started {
    uint32_t service_id = 0;
    uint32_t component_id = 0;
    uint64_t at_ns = 0;
    uint64_t texts_sent = 0;
    uint64_t packets_sent = 0;
};

} // namespace receiver

using namespace receiver;
using namespace si468x;

struct DabRadio::Impl {
    Impl(const Clock &c, const Faults &f, const std::map<uint16_t, uint16_t> &p)
        : clock(c), faults(f), properties(p), band(default_band()) {}

    const Clock &clock;
    const Faults &faults;
    const std::map<uint16_t, uint16_t> &properties;
    Band band;
    Timing timing;

    // The list written by DAB_SET_FREQ_LIST; unset: the band's own.
    std::optional<std::vector<uint32_t>> chip_list;

    bool tuned = false;
    uint8_t index = 0;
    uint32_t frequency = 0;
    uint64_t tuned_at = 0;
    bool settled = false; // tuned in an earlier process: every phase is long complete
    bool stc_acked = false;
    // stcint-sticky: STCINT of an earlier tune, never acknowledged, still set.
    bool stc_carried = false;
    std::optional<uint64_t> digrad_acked_at;
    bool list_reported = false;
    uint16_t unstable_polls = 0;

    std::optional<Started> started;
    std::deque<QueuedPacket> queue;
    bool overflow = false;
    // packet-needs-ack: the front packet went out in a full read and waits
    // for its acknowledgement.
    bool front_delivered = false;

    const std::vector<uint32_t> &list() const { return chip_list ? *chip_list : band.frequencies; }

    void untune() {
        tuned = false;
        settled = false;
        stc_acked = false;
        digrad_acked_at.reset();
        list_reported = false;
        unstable_polls = 0;
        stop_service();
    }

    void stop_service() {
        started.reset();
        queue.clear();
        overflow = false;
        front_delivered = false;
    }

    // ---- phases of a tune --------------------------------------------------

    // A fault given for the tuned index, or for every index ("always").
    bool on_this_index(Fault fault) const;

    const Ensemble *ensemble() const;

    bool signal_valid(const Ensemble &e) const;

    uint64_t stc_at() const;

    uint64_t acquired_at() const;

    uint64_t list_at() const;

    bool acquired(uint64_t now) const { return acquired_at() <= now; }

    // An interrupt raised at `at` is pending until acknowledged after it.
    bool pending(uint64_t at, uint64_t now) const;

    // ---- packets of a started service ------------------------------------

    uint64_t text_time(uint64_t k) const;

    uint64_t packet_time(uint64_t k) const;

    // Events due by `now` that have not been sent, given the time of event k.
    template <typename TimeOf> uint64_t due(uint64_t sent, uint64_t now, TimeOf time_of) const {
        if (time_of(sent) > now) {
            return 0;
        }
        // Find the first event after now by doubling, then bisecting.
        uint64_t low = sent; // due
        uint64_t step = 1;
        uint64_t high = sent + step;
        while (time_of(high) <= now) {
            low = high;
            step *= 2;
            high = sent + step;
        }
        while (high - low > 1) {
            const uint64_t middle = low + (high - low) / 2;
            (time_of(middle) <= now ? low : high) = middle;
        }
        return high - sent;
    }

    // Text k's message, or (with `command`) the DL Plus command after it.
    QueuedPacket text_packet(const Service &service, uint64_t k, bool command) const;
    bool has_dl_plus_command(const Service &service, uint64_t k) const;

    QueuedPacket other_packet(const Service &service, uint64_t k) const;

    const Service *started_service() const;

    void advance(uint64_t now);

    // ---- commands ---------------------------------------------------------

    Outcome get_freq_list() const;

    Outcome set_freq_list(const uint8_t *command, std::size_t length);

    Outcome tune(const uint8_t *command, uint64_t now);

    uint16_t antenna_cap(const Ensemble *e) const;

    Outcome digrad_status(const uint8_t *command, std::size_t length, uint64_t now);

    uint16_t list_version();

    Outcome event_status(const uint8_t *command, std::size_t length, uint64_t now);

    Outcome service_list(uint64_t now);

    Outcome get_time(uint64_t now) const;
    Outcome ensemble_info(uint64_t now) const;

    // The service and component a 12-byte frame names, in the acquired ensemble.
    bool lookup(const uint8_t *command, std::size_t length, uint64_t now, const Service **service,
                const Component **component) const;

    Outcome start_service(const uint8_t *command, std::size_t length, uint64_t now);

    Outcome stop_digital_service(const uint8_t *command, std::size_t length, uint64_t now);

    Outcome service_data(const uint8_t *command, std::size_t length, uint64_t now);

    Outcome component_info(const uint8_t *command, std::size_t length, uint64_t now) const;

    Outcome execute(const uint8_t *command, std::size_t length);

    uint8_t status0_bits();
};

} // namespace sim
