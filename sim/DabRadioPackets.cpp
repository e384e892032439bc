// SPDX-License-Identifier: GPL-3.0-or-later
// The packet queue of a started service: its texts and other packets fall
// due on the clock, wait in a buffer of 8 (overflowing when full), and leave
// through GET_DIGITAL_SERVICE_DATA.
#include "DabRadioImpl.h"

#include <algorithm>

namespace sim {

uint64_t DabRadio::Impl::text_time(uint64_t k) const {
    const uint64_t interval = std::max<uint64_t>(timing.text_interval_ns, 1);
    if (k > (never - started->at_ns - timing.first_text_ns) / interval) {
        return never;
    }
    return started->at_ns + timing.first_text_ns + k * interval;
}

uint64_t DabRadio::Impl::packet_time(uint64_t k) const {
    const uint64_t interval = std::max<uint64_t>(timing.packet_interval_ns, 1);
    if (k + 1 > (never - started->at_ns) / interval) {
        return never;
    }
    return started->at_ns + (k + 1) * interval;
}

QueuedPacket DabRadio::Impl::text_packet(const Service &service, uint64_t k, bool command) const {
    QueuedPacket packet;
    packet.data_src = text_data_src;
    packet.dscty = text_dscty;
    packet.service_id = started->service_id;
    packet.component_id = started->component_id;
    packet.segments = 1;
    const std::string &text = service.texts[k % service.texts.size()];
    const TextOptions &options = text_options(service, k % service.texts.size());
    // The toggle alternates so that a receiver sees each text as new; a DL
    // Plus command carries its message's.
    const uint8_t toggle = k % 2 == 0 ? dls_toggle : 0x00;
    std::vector<uint8_t> body;
    if (options.clear) {
        body = {static_cast<uint8_t>(toggle | dls_command | dls_clear_display), 0x00};
    } else if (command) {
        const DlPlus &dl_plus = *options.dl_plus;
        std::vector<uint8_t> field = {static_cast<uint8_t>(dl_plus.item_toggle << 3 |
                                                           (dl_plus.item_running ? 0x04 : 0x00) |
                                                           (dl_plus.tags.size() - 1))};
        for (const DlPlusTag &tag : dl_plus.tags) {
            field.push_back(tag.type);
            field.push_back(tag.start);
            field.push_back(static_cast<uint8_t>(tag.length - 1));
        }
        body = {static_cast<uint8_t>(toggle | dls_command | dls_dl_plus),
                static_cast<uint8_t>(field.size() - 1)};
        body.insert(body.end(), field.begin(), field.end());
    } else {
        body = {toggle, static_cast<uint8_t>(options.charset << 4)};
        body.insert(body.end(), text.begin(), text.end());
    }
    // dls-no-prefix: the chip hands over the message or command field alone.
    const std::size_t skip = faults.has(Fault::DlsNoPrefix) ? 2 : 0;
    // Room for all of it at once (which also spares GCC 12 a false
    // -Warray-bounds on the insert below).
    packet.payload.reserve(body.size() + 1);
    packet.payload.insert(packet.payload.end(), body.begin() + static_cast<std::ptrdiff_t>(skip),
                          body.end());
    packet.payload.push_back(0x00); // the chip's byte after the message
    return packet;
}

bool DabRadio::Impl::has_dl_plus_command(const Service &service, uint64_t k) const {
    const TextOptions &options = text_options(service, k % service.texts.size());
    return !options.clear && options.dl_plus.has_value() && !faults.has(Fault::DlPlusWithheld);
}

QueuedPacket DabRadio::Impl::other_packet(const Service &service, uint64_t k) const {
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

const Service *DabRadio::Impl::started_service() const {
    if (!started) {
        return nullptr;
    }
    const Ensemble *e = ensemble();
    return e == nullptr ? nullptr : find_service(*e, started->service_id);
}

void DabRadio::Impl::advance(uint64_t now) {
    const Service *service = started_service();
    if (service == nullptr) {
        return;
    }
    auto text_at = [this](uint64_t k) { return text_time(k); };
    auto packet_at = [this](uint64_t k) { return packet_time(k); };
    const uint64_t texts_due = service->texts.empty() ? 0 : due(started->texts_sent, now, text_at);
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
            const uint64_t k = started->texts_sent++;
            queue.push_back(text_packet(*service, k, false));
            // The DL Plus command follows its message at once.
            if (has_dl_plus_command(*service, k)) {
                if (queue.size() >= packet_queue_capacity) {
                    overflow = true;
                } else {
                    queue.push_back(text_packet(*service, k, true));
                }
            }
        } else {
            queue.push_back(other_packet(*service, started->packets_sent++));
        }
    }
}

Outcome DabRadio::Impl::service_data(const uint8_t *command, std::size_t length, uint64_t now) {
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
    r.push_back(waiting ? static_cast<uint8_t>(packet->data_src << 6 | (packet->dscty & 0x3F)) : 0);
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

} // namespace sim
