// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's commands: lengths and argument bits checked first, then
// tune, reception and event status, frequency lists, service list, time,
// service start and stop, and component information.
#include "DabRadioImpl.h"

#include <algorithm>

namespace sim {

Outcome DabRadio::Impl::get_freq_list() const {
    Outcome outcome;
    outcome.resp.push_back(static_cast<uint8_t>(list().size()));
    outcome.resp.insert(outcome.resp.end(), 3, 0);
    for (uint32_t khz : list()) {
        put_le32(outcome.resp, khz);
    }
    return outcome;
}

Outcome DabRadio::Impl::set_freq_list(const uint8_t *command, std::size_t length) {
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

Outcome DabRadio::Impl::tune(const uint8_t *command, uint64_t now) {
    const uint16_t antcap =
        static_cast<uint16_t>(command[TUNE_ANTCAP] | command[TUNE_ANTCAP + 1] << 8);
    if ((command[1] & TUNE_INJECTION_MASK) > TUNE_INJECTION_MAX || antcap > TUNE_ANTCAP_MAX ||
        command[TUNE_INDEX] >= list().size()) {
        return rejected();
    }
    const bool carry =
        faults.has(Fault::StcintSticky) && (stc_carried || (stc_at() <= now && !stc_acked));
    untune();
    stc_carried = carry;
    tuned = true;
    index = command[TUNE_INDEX];
    frequency = list()[index];
    tuned_at = now;
    return {};
}

uint16_t DabRadio::Impl::antenna_cap(const Ensemble *e) const {
    if (e != nullptr && e->reception.antenna_cap != 0) {
        return e->reception.antenna_cap;
    }
    // A varactor setting that grows with the frequency, as a tuned front end has.
    return static_cast<uint16_t>(frequency > 170000 ? (frequency - 170000) / 100 : 1);
}

Outcome DabRadio::Impl::digrad_status(const uint8_t *command, std::size_t length, uint64_t now) {
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

uint16_t DabRadio::Impl::list_version() {
    const Ensemble *e = ensemble();
    const uint16_t base = e != nullptr ? e->list_version : 0;
    return static_cast<uint16_t>(base + unstable_polls);
}

Outcome DabRadio::Impl::event_status(const uint8_t *command, std::size_t length, uint64_t now) {
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

Outcome DabRadio::Impl::service_list(uint64_t now) {
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

Outcome DabRadio::Impl::get_time(uint64_t now) const {
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

// The acquired ensemble's id and label, and a short label of its first
// eight characters (the mask names the characters it keeps).
Outcome DabRadio::Impl::ensemble_info(uint64_t now) const {
    if (!acquired(now)) {
        return rejected();
    }
    const Ensemble *e = ensemble();
    Outcome outcome;
    put_le16(outcome.resp, e->id);
    outcome.resp.insert(outcome.resp.end(), e->label.begin(), e->label.end());
    put_le16(outcome.resp, 0xFF00);
    return outcome;
}

// The service and component a 12-byte frame names, in the acquired ensemble.
bool DabRadio::Impl::lookup(const uint8_t *command, std::size_t length, uint64_t now,
                            const Service **service, const Component **component) const {
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

Outcome DabRadio::Impl::start_service(const uint8_t *command, std::size_t length, uint64_t now) {
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

Outcome DabRadio::Impl::stop_digital_service(const uint8_t *command, std::size_t length,
                                             uint64_t now) {
    const Service *service = nullptr;
    const Component *component = nullptr;
    if (!lookup(command, length, now, &service, &component)) {
        return rejected();
    }
    if (started && started->service_id == service->id && started->component_id == component->id) {
        stop_service();
    }
    return {};
}

Outcome DabRadio::Impl::component_info(const uint8_t *command, std::size_t length,
                                       uint64_t now) const {
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

Outcome DabRadio::Impl::execute(const uint8_t *command, std::size_t length) {
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
    case DAB_GET_ENSEMBLE_INFO:
        return ensemble_info(now);
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

uint8_t DabRadio::Impl::status0_bits() {
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

} // namespace sim
