// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver is a function of time: a tune, a service start and the
// acknowledgements record when they happened, and every reply is computed
// from the clock at the moment the command arrives. There are no threads and
// no timers; packets that fell due since the last command are queued lazily.
#include "DabRadio.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <sstream>

#include "Band.h"
#include "ChipProtocol.h"
#include "SavedState.h"

namespace sim {

using namespace si468x;

namespace {

// DAB_DIGRAD_STATUS RESP4 (interrupts) and RESP5 (states).
constexpr uint8_t RSSILINT = 0x02;
constexpr uint8_t RSSIHINT = 0x01;
constexpr uint8_t ACQINT = 0x04;
constexpr uint8_t FICERRINT = 0x08;
constexpr uint8_t HARDMUTE = 0x10;
constexpr uint8_t FICERR = 0x08;
constexpr uint8_t ACQ = 0x04;
constexpr uint8_t VALID = 0x01;

// DAB_GET_EVENT_STATUS RESP4 and RESP5.
constexpr uint8_t SVRLISTINT = 0x01;
constexpr uint8_t SVRLIST = 0x01;

// GET_DIGITAL_SERVICE_DATA RESP4.
constexpr uint8_t DSRVOVFLINT = 0x02;
constexpr uint8_t DSRVPCKTINT = 0x01;

constexpr uint16_t default_rssi_threshold = 12;

// What the chip buffers of a started service before it drops packets.
constexpr std::size_t packet_queue_capacity = 8;

// Text packets: PAD-carried dynamic label.
constexpr uint8_t text_data_src = 2;
constexpr uint8_t text_dscty = 0;
constexpr uint8_t srv_state_running = 1;

constexpr uint64_t never = UINT64_MAX;
constexpr uint64_t no_cts_busy_ns = UINT64_MAX / 4;

uint64_t later(uint64_t at, uint64_t delay) {
    return at > never - delay ? never : at + delay;
}

void put_le16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_le32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint32_t le32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

Outcome rejected() {
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

} // namespace

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
    bool on_this_index(Fault fault) const {
        return faults.matches(fault, index) || faults.matches(fault, -1);
    }

    const Ensemble *ensemble() const {
        if (!tuned || on_this_index(Fault::NoSignal)) {
            return nullptr;
        }
        return band.on_frequency(frequency);
    }

    bool signal_valid(const Ensemble &e) const {
        if (e.reception.rssi_valid) {
            return *e.reception.rssi_valid;
        }
        const auto threshold = properties.find(DAB_VALID_RSSI_THRESHOLD);
        return e.reception.rssi >=
               (threshold != properties.end() ? threshold->second : default_rssi_threshold);
    }

    uint64_t stc_at() const {
        if (!tuned || on_this_index(Fault::TuneTimeout)) {
            return never;
        }
        return settled ? 0 : later(tuned_at, timing.tune_ns);
    }

    uint64_t acquired_at() const {
        const Ensemble *e = ensemble();
        if (e == nullptr || !signal_valid(*e) || !e->reception.acquires) {
            return never;
        }
        const uint64_t stc = stc_at();
        return settled || stc == never ? stc : later(stc, timing.acquire_ns);
    }

    uint64_t list_at() const {
        const uint64_t acquired = acquired_at();
        return settled || acquired == never ? acquired : later(acquired, timing.list_ready_ns);
    }

    bool acquired(uint64_t now) const { return acquired_at() <= now; }

    // An interrupt raised at `at` is pending until acknowledged after it.
    bool pending(uint64_t at, uint64_t now) const {
        return at <= now && (!digrad_acked_at || at > *digrad_acked_at);
    }

    // ---- packets of a started service ------------------------------------

    uint64_t text_time(uint64_t k) const {
        const uint64_t interval = std::max<uint64_t>(timing.text_interval_ns, 1);
        if (k > (never - started->at_ns - timing.first_text_ns) / interval) {
            return never;
        }
        return started->at_ns + timing.first_text_ns + k * interval;
    }

    uint64_t packet_time(uint64_t k) const {
        const uint64_t interval = std::max<uint64_t>(timing.packet_interval_ns, 1);
        if (k + 1 > (never - started->at_ns) / interval) {
            return never;
        }
        return started->at_ns + (k + 1) * interval;
    }

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

    QueuedPacket text_packet(const Service &service, uint64_t k) const {
        QueuedPacket packet;
        packet.data_src = text_data_src;
        packet.dscty = text_dscty;
        packet.service_id = started->service_id;
        packet.component_id = started->component_id;
        packet.segments = 1;
        const std::string &text = service.texts[k % service.texts.size()];
        // The toggle byte alternates so that a receiver sees each text as new.
        packet.payload.push_back(k % 2 == 0 ? 0x80 : 0x00);
        packet.payload.push_back(0x00);
        packet.payload.insert(packet.payload.end(), text.begin(), text.end());
        packet.payload.push_back(0x00);
        return packet;
    }

    QueuedPacket other_packet(const Service &service, uint64_t k) const {
        const Packet &source = service.packets[k % service.packets.size()];
        QueuedPacket packet;
        packet.data_src = source.data_src;
        packet.dscty = source.dscty;
        packet.service_id = started->service_id;
        packet.component_id = started->component_id;
        packet.segment = source.segment;
        packet.segments = source.segments;
        packet.payload = source.payload;
        return packet;
    }

    const Service *started_service() const {
        if (!started) {
            return nullptr;
        }
        const Ensemble *e = ensemble();
        return e == nullptr ? nullptr : find_service(*e, started->service_id);
    }

    void advance(uint64_t now) {
        const Service *service = started_service();
        if (service == nullptr) {
            return;
        }
        auto text_at = [this](uint64_t k) { return text_time(k); };
        auto packet_at = [this](uint64_t k) { return packet_time(k); };
        const uint64_t texts_due =
            service->texts.empty() ? 0 : due(started->texts_sent, now, text_at);
        const uint64_t packets_due =
            service->packets.empty() ? 0 : due(started->packets_sent, now, packet_at);
        const uint64_t texts_end = started->texts_sent + texts_due;
        const uint64_t packets_end = started->packets_sent + packets_due;
        while (started->texts_sent < texts_end || started->packets_sent < packets_end) {
            if (queue.size() >= packet_queue_capacity) {
                // A full buffer drops what arrives: everything still due is lost.
                overflow = true;
                started->texts_sent = texts_end;
                started->packets_sent = packets_end;
                break;
            }
            const uint64_t next_text =
                started->texts_sent < texts_end ? text_at(started->texts_sent) : never;
            const uint64_t next_packet =
                started->packets_sent < packets_end ? packet_at(started->packets_sent) : never;
            if (next_text <= next_packet) {
                queue.push_back(text_packet(*service, started->texts_sent++));
            } else {
                queue.push_back(other_packet(*service, started->packets_sent++));
            }
        }
    }

    // ---- commands ---------------------------------------------------------

    Outcome get_freq_list() const {
        Outcome outcome;
        outcome.resp.push_back(static_cast<uint8_t>(list().size()));
        outcome.resp.insert(outcome.resp.end(), 3, 0);
        for (uint32_t khz : list()) {
            put_le32(outcome.resp, khz);
        }
        return outcome;
    }

    Outcome set_freq_list(const uint8_t *command, std::size_t length) {
        const std::size_t count = command[1];
        if (count == 0 || count > FREQ_LIST_MAX ||
            length != FREQ_LIST_HEADER + FREQ_LIST_ENTRY * count) {
            return rejected();
        }
        std::vector<uint32_t> frequencies;
        for (std::size_t i = 0; i < count; ++i) {
            const uint32_t khz = le32(command + FREQ_LIST_HEADER + FREQ_LIST_ENTRY * i);
            if (khz == 0) {
                return rejected();
            }
            frequencies.push_back(khz);
        }
        chip_list = std::move(frequencies);
        return {};
    }

    Outcome tune(const uint8_t *command, uint64_t now) {
        const uint16_t antcap =
            static_cast<uint16_t>(command[TUNE_ANTCAP] | command[TUNE_ANTCAP + 1] << 8);
        if ((command[1] & TUNE_INJECTION_MASK) > TUNE_INJECTION_MAX ||
            antcap > TUNE_ANTCAP_MAX || command[TUNE_INDEX] >= list().size()) {
            return rejected();
        }
        const bool carry = faults.has(Fault::StcintSticky) &&
                           (stc_carried || (stc_at() <= now && !stc_acked));
        untune();
        stc_carried = carry;
        tuned = true;
        index = command[TUNE_INDEX];
        frequency = list()[index];
        tuned_at = now;
        return {};
    }

    uint16_t antenna_cap(const Ensemble *e) const {
        if (e != nullptr && e->reception.antenna_cap != 0) {
            return e->reception.antenna_cap;
        }
        // A varactor setting that grows with the frequency, as a tuned front end has.
        return static_cast<uint16_t>(frequency > 170000 ? (frequency - 170000) / 100 : 1);
    }

    Outcome digrad_status(const uint8_t *command, std::size_t length, uint64_t now) {
        const uint8_t ack = length > 1 ? command[1] : 0;
        const uint64_t stc = stc_at();
        const bool tuned_done = stc <= now;
        const Ensemble *e = tuned_done ? ensemble() : nullptr;
        const bool valid = e != nullptr && signal_valid(*e);
        const uint64_t acq = acquired_at();
        const bool is_acquired = acq <= now;
        // An empty channel still shows a little noise, different per channel.
        const uint8_t noise = static_cast<uint8_t>((index * 37u + 11u) % 7u + 1u);

        uint8_t interrupts = 0;
        if (tuned_done && pending(stc, now)) {
            interrupts |= valid ? RSSIHINT : RSSILINT;
        }
        if (is_acquired && pending(acq, now)) {
            interrupts |= ACQINT;
            if (e->reception.fib_errors > 0) {
                interrupts |= FICERRINT;
            }
        }
        uint8_t states = 0;
        if (!is_acquired) {
            states |= HARDMUTE;
        }
        if (is_acquired && e->reception.fib_errors > 0) {
            states |= FICERR;
        }
        if (is_acquired) {
            states |= ACQ;
        }
        // The figures measured while the tune completes; fic-quality-late
        // keeps them back until acquisition.
        const bool measured = is_acquired || !faults.has(Fault::FicQualityLate);
        if (valid && measured) {
            states |= VALID;
        }

        Outcome outcome;
        auto &r = outcome.resp;
        r.push_back(interrupts);
        r.push_back(states);
        r.push_back(!tuned_done ? 0 : e != nullptr ? e->reception.rssi : noise);
        r.push_back(e != nullptr && measured ? e->reception.snr : 0);
        // The FIC quality is measured while the tune completes, so a scan can
        // judge a channel right after STCINT; acquisition follows later.
        r.push_back(valid && measured ? e->reception.fic_quality : 0);
        r.push_back(e != nullptr && measured ? e->reception.cnr : 0);
        put_le16(r, is_acquired ? e->reception.fib_errors : 0);
        put_le32(r, tuned ? frequency : 0);
        r.push_back(tuned ? index : 0);
        r.push_back(e != nullptr ? e->reception.fft_offset : 0);
        put_le16(r, tuned ? antenna_cap(e) : 0);
        put_le16(r, is_acquired ? e->reception.cu_level : 0);
        r.push_back(!tuned_done ? 0 : e != nullptr ? e->reception.fast_detect : noise);
        r.push_back(0); // reserved

        if ((ack & STC_ACK) != 0 && tuned_done) {
            stc_acked = true;
        }
        if ((ack & STC_ACK) != 0) {
            stc_carried = false;
        }
        if ((ack & DIGRAD_ACK) != 0) {
            digrad_acked_at = now;
        }
        return outcome;
    }

    uint16_t list_version() {
        const Ensemble *e = ensemble();
        const uint16_t base = e != nullptr ? e->list_version : 0;
        return static_cast<uint16_t>(base + unstable_polls);
    }

    Outcome event_status(const uint8_t *command, std::size_t length, uint64_t now) {
        const uint8_t ack = length > 1 ? command[1] : 0;
        const bool available = list_at() <= now;
        const bool unstable = available && on_this_index(Fault::ListUnstable);
        if (unstable) {
            ++unstable_polls; // every look finds a list newer than the last
        }
        bool announced = available && !list_reported;
        if (unstable) {
            announced = true;
        }
        if (available && on_this_index(Fault::ListUnannounced)) {
            announced = false;
        }
        Outcome outcome;
        outcome.resp.push_back(announced ? SVRLISTINT : 0);
        outcome.resp.push_back(available ? SVRLIST : 0);
        put_le16(outcome.resp, available ? list_version() : 0);
        if ((ack & EVENT_ACK) != 0 && announced) {
            list_reported = true;
        }
        return outcome;
    }

    Outcome service_list(uint64_t now) {
        if (list_at() > now) {
            return rejected();
        }
        const Ensemble *e = ensemble();
        const auto records = service_list_records(*e);
        uint16_t size = static_cast<uint16_t>(6 + records.size());
        if (const auto forced = faults.number(Fault::ListSize)) {
            size = static_cast<uint16_t>(*forced);
        }
        Outcome outcome;
        put_le16(outcome.resp, size);
        put_le16(outcome.resp, list_version());
        outcome.resp.push_back(static_cast<uint8_t>(e->services.size()));
        outcome.resp.insert(outcome.resp.end(), 3, 0);
        outcome.resp.insert(outcome.resp.end(), records.begin(), records.end());
        return outcome;
    }

    Outcome get_time(uint64_t now) const {
        if (!acquired(now) || on_this_index(Fault::NoTime)) {
            return rejected();
        }
        const Ensemble *e = ensemble();
        DateTime t;
        if (e->time) {
            t = e->time_runs ? advance_time(*e->time, now / 1'000'000'000ULL) : *e->time;
        }
        Outcome outcome;
        put_le16(outcome.resp, t.year);
        outcome.resp.push_back(t.month);
        outcome.resp.push_back(t.day);
        outcome.resp.push_back(t.hour);
        outcome.resp.push_back(t.minute);
        outcome.resp.push_back(t.second);
        return outcome;
    }

    // The service and component a 12-byte frame names, in the acquired ensemble.
    bool lookup(const uint8_t *command, std::size_t length, uint64_t now, const Service **service,
                const Component **component) const {
        if (length != DIGITAL_SERVICE_LENGTH || !acquired(now)) {
            return false;
        }
        *service = find_service(*ensemble(), le32(command + SERVICE_ID_AT));
        if (*service == nullptr) {
            return false;
        }
        *component = find_component(**service, le32(command + COMPONENT_ID_AT));
        return *component != nullptr;
    }

    Outcome start_service(const uint8_t *command, std::size_t length, uint64_t now) {
        const Service *service = nullptr;
        const Component *component = nullptr;
        if (!lookup(command, length, now, &service, &component) || faults.has(Fault::StartFail) ||
            (command[1] & SERVICE_TYPE_DATA) != (service->data ? SERVICE_TYPE_DATA : 0)) {
            return rejected();
        }
        stop_service();
        started = Started{service->id, component->id, now, 0, 0};
        return {};
    }

    Outcome stop_digital_service(const uint8_t *command, std::size_t length, uint64_t now) {
        const Service *service = nullptr;
        const Component *component = nullptr;
        if (!lookup(command, length, now, &service, &component)) {
            return rejected();
        }
        if (started && started->service_id == service->id &&
            started->component_id == component->id) {
            stop_service();
        }
        return {};
    }

    Outcome service_data(const uint8_t *command, std::size_t length, uint64_t now) {
        const uint8_t arg = length > 1 ? command[1] : 0;
        const bool status_only = (arg & DSRV_STATUS_ONLY) != 0;
        const bool needs_ack = faults.has(Fault::PacketNeedsAck);
        if ((arg & DSRV_INTACK) != 0) {
            overflow = false;
            if (needs_ack && front_delivered && !queue.empty()) {
                queue.pop_front(); // the packet the last full read sent
            }
            front_delivered = false;
        }
        advance(now);

        std::optional<QueuedPacket> packet;
        if (!queue.empty()) {
            packet = queue.front();
            if (!status_only && needs_ack) {
                front_delivered = true; // stays until acknowledged
            } else if (!status_only) {
                queue.pop_front();
            }
        }
        const bool waiting = packet.has_value();
        uint8_t flags = 0;
        if (overflow || (waiting && faults.has(Fault::DataOverflow))) {
            flags |= DSRVOVFLINT;
        }
        if (waiting && !faults.has(Fault::DataNotReady)) {
            flags |= DSRVPCKTINT;
        }
        // The overflow interrupt is cleared by the read that reports it
        // (overflow-sticky: only by INTACK).
        if (!faults.has(Fault::OverflowSticky)) {
            overflow = false;
        }

        Outcome outcome;
        auto &r = outcome.resp;
        r.push_back(flags);
        r.push_back(static_cast<uint8_t>(std::min<std::size_t>(queue.size(), 255)));
        r.push_back(waiting ? srv_state_running : 0);
        r.push_back(waiting ? static_cast<uint8_t>(packet->data_src << 6 | (packet->dscty & 0x3F))
                            : 0);
        put_le32(r, waiting ? packet->service_id : 0);
        put_le32(r, waiting ? packet->component_id : 0);
        put_le16(r, 0);
        std::vector<uint8_t> payload = waiting ? packet->payload : std::vector<uint8_t>{};
        uint16_t byte_count = static_cast<uint16_t>(payload.size());
        if (const auto forced = faults.number(Fault::DataLength); forced && waiting) {
            byte_count = static_cast<uint16_t>(*forced);
            if (*forced >= 0 && static_cast<std::size_t>(*forced) <= max_packet_payload) {
                payload.resize(static_cast<std::size_t>(*forced), 0);
            }
        }
        put_le16(r, byte_count);
        put_le16(r, waiting ? packet->segment : 0);
        put_le16(r, waiting ? packet->segments : 0);
        if (!status_only) {
            r.insert(r.end(), payload.begin(), payload.end());
            outcome.busy_ns = faults.has(Fault::DataNoCts) ? no_cts_busy_ns : timing.data_cts_ns;
        }
        return outcome;
    }

    Outcome component_info(const uint8_t *command, std::size_t length, uint64_t now) const {
        const Service *service = nullptr;
        const Component *component = nullptr;
        if (!lookup(command, length, now, &service, &component)) {
            return rejected();
        }
        std::vector<uint8_t> fields = user_application_fields(*component);
        if (faults.has(Fault::UaPad) || faults.has(Fault::UaOverrun)) {
            std::size_t p = 0;
            std::size_t last = fields.size();
            bool padded = false;
            for (const auto &ua : component->user_applications) {
                const std::size_t length_of_data = ua.data.size();
                if (length_of_data % 2 == 0 && !padded && faults.has(Fault::UaPad)) {
                    fields[p + 3 + length_of_data] = 0xFF;
                    padded = true;
                }
                last = p;
                p += 3 + length_of_data + (length_of_data % 2 == 0 ? 1 : 0);
            }
            if (faults.has(Fault::UaOverrun) && last < fields.size()) {
                // One byte more than the fields hold after this entry.
                const std::size_t overrun = fields.size() - last - 3 + 1;
                fields[last + 2] = static_cast<uint8_t>(std::min<std::size_t>(overrun, 255));
            }
        }
        uint8_t ua_length = static_cast<uint8_t>(fields.size());
        if (const auto forced = faults.number(Fault::UaLength)) {
            ua_length = static_cast<uint8_t>(*forced);
            if (ua_length > fields.size()) {
                fields.resize(ua_length, 0);
            }
        }
        Outcome outcome;
        auto &r = outcome.resp;
        r.push_back(component->global_id);
        r.push_back(0);
        r.push_back(component->language & 0x3F);
        r.push_back(component->charset & 0x3F);
        r.insert(r.end(), component->label.begin(), component->label.end());
        put_le16(r, component->char_abbrev);
        r.push_back(static_cast<uint8_t>(component->user_applications.size()));
        r.push_back(ua_length);
        r.insert(r.end(), fields.begin(), fields.end());
        return outcome;
    }

    Outcome execute(const uint8_t *command, std::size_t length) {
        if (command == nullptr || length == 0) {
            return rejected();
        }
        // Length and reserved bits first: a refused command changes nothing.
        const CommandShape *shape = receiver_command(command[0]);
        if (shape == nullptr || !shape_accepts(*shape, command, length)) {
            return rejected();
        }
        const uint64_t now = clock.now_ns();
        advance(now);
        switch (command[0]) {
        case DAB_GET_FREQ_LIST:
            return get_freq_list();
        case DAB_SET_FREQ_LIST:
            return set_freq_list(command, length);
        case DAB_TUNE_FREQ:
            return tune(command, now);
        case DAB_DIGRAD_STATUS:
            return digrad_status(command, length, now);
        case DAB_GET_EVENT_STATUS:
            return event_status(command, length, now);
        case GET_DIGITAL_SERVICE_LIST:
            return service_list(now);
        case DAB_GET_TIME:
            return get_time(now);
        case START_DIGITAL_SERVICE:
            return start_service(command, length, now);
        case STOP_DIGITAL_SERVICE:
            return stop_digital_service(command, length, now);
        case GET_DIGITAL_SERVICE_DATA:
            return service_data(command, length, now);
        case DAB_GET_COMPONENT_INFO:
            return component_info(command, length, now);
        default:
            return rejected();
        }
    }

    uint8_t status0_bits() {
        const uint64_t now = clock.now_ns();
        advance(now);
        uint8_t bits = 0;
        if ((stc_at() <= now && !stc_acked) || stc_carried) {
            bits |= STCINT;
        }
        if (!queue.empty()) {
            bits |= DSRVINT;
        }
        return bits;
    }
};

DabRadio::DabRadio(const Clock &clock, const Faults &faults,
                   const std::map<uint16_t, uint16_t> &properties)
    : impl_(std::make_unique<Impl>(clock, faults, properties)) {}

DabRadio::~DabRadio() = default;

bool DabRadio::handles(uint8_t opcode) {
    return opcode >= DAB_FIRST_OPCODE && opcode <= DAB_LAST_OPCODE;
}

Outcome DabRadio::execute(const uint8_t *command, std::size_t length) {
    return impl_->execute(command, length);
}

uint8_t DabRadio::status0_bits() const {
    return impl_->status0_bits();
}

void DabRadio::chip_reset() {
    impl_->untune();
    impl_->stc_carried = false;
    impl_->chip_list.reset();
}

void DabRadio::use_default_band() {
    impl_->band = default_band();
}

bool DabRadio::load_band_json(const std::string &json, std::string *error) {
    return parse_band_json(json, &impl_->band, error);
}

bool DabRadio::load_band_file(const std::string &path, std::string *error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error != nullptr) {
            *error = "band file " + path + ": " + std::strerror(errno);
        }
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string reason;
    if (!parse_band_json(text.str(), &impl_->band, &reason)) {
        if (error != nullptr) {
            *error = "band file " + path + ": " + reason;
        }
        return false;
    }
    return true;
}

const Band &DabRadio::band() const {
    return impl_->band;
}

namespace {

constexpr const char *key_index = "tuned_index";
constexpr const char *key_frequency = "tuned_frequency";
constexpr const char *key_service = "started_service";
constexpr const char *key_list = "frequency_list";

std::optional<uint64_t> number_in(const std::map<std::string, std::string> &state,
                                  const char *key) {
    return saved_number(state, key);
}

} // namespace

void DabRadio::save(std::map<std::string, std::string> &state) const {
    const Impl &d = *impl_;
    state[key_index] = d.tuned ? std::to_string(d.index) : "";
    state[key_frequency] = d.tuned ? std::to_string(d.frequency) : "";
    state[key_service] = d.started ? std::to_string(d.started->service_id) + " " +
                                         std::to_string(d.started->component_id)
                                   : "";
    std::string list;
    if (d.chip_list) {
        for (uint32_t khz : *d.chip_list) {
            list += (list.empty() ? "" : ",") + std::to_string(khz);
        }
    }
    state[key_list] = list;
}

void DabRadio::load(const std::map<std::string, std::string> &state) {
    Impl &d = *impl_;
    d.untune();
    d.stc_carried = false;
    d.chip_list.reset();
    if (const auto found = state.find(key_list); found != state.end() && !found->second.empty()) {
        std::vector<uint32_t> list;
        std::istringstream in(found->second);
        std::string item;
        bool good = true;
        while (std::getline(in, item, ',')) {
            char *end = nullptr;
            const unsigned long value = std::strtoul(item.c_str(), &end, 10);
            good = good && !item.empty() && *end == '\0' && value > 0 && value <= 0xFFFFFFFFUL;
            list.push_back(static_cast<uint32_t>(value));
        }
        if (good && !list.empty() && list.size() <= max_frequencies) {
            d.chip_list = std::move(list);
        }
    }
    const auto index = number_in(state, key_index);
    if (!index || *index >= d.list().size()) {
        return;
    }
    d.tuned = true;
    d.settled = true;
    d.list_reported = true; // the earlier process took the announcement
    d.index = static_cast<uint8_t>(*index);
    const auto frequency = number_in(state, key_frequency);
    d.frequency = frequency && *frequency <= 0xFFFFFFFFULL ? static_cast<uint32_t>(*frequency)
                                                           : d.list()[d.index];
    d.tuned_at = d.clock.now_ns();

    const auto found = state.find(key_service);
    if (found == state.end() || found->second.empty()) {
        return;
    }
    std::istringstream in(found->second);
    uint64_t service_id = 0;
    uint64_t component_id = 0;
    if (in >> service_id >> component_id && service_id <= 0xFFFFFFFFULL &&
        component_id <= 0xFFFFFFFFULL) {
        // Texts go on from this process's clock: the chip kept playing meanwhile.
        d.started = Started{static_cast<uint32_t>(service_id), static_cast<uint32_t>(component_id),
                            d.clock.now_ns(), 0, 0};
    }
}

int DabRadio::tuned_index() const {
    return impl_->tuned ? impl_->index : -1;
}

bool DabRadio::service_started(uint32_t *service_id, uint32_t *component_id) const {
    if (!impl_->started) {
        return false;
    }
    if (service_id != nullptr) {
        *service_id = impl_->started->service_id;
    }
    if (component_id != nullptr) {
        *component_id = impl_->started->component_id;
    }
    return true;
}

DabRadio::Timing &DabRadio::timing() {
    return impl_->timing;
}

} // namespace sim
