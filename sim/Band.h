// SPDX-License-Identifier: GPL-3.0-or-later
// The band the simulated chip receives: the chip's DAB frequency list and the
// ensembles on the air, with their reception figures, broadcast time, services,
// components, user applications and the packets a started service delivers.
// A band is plain data; the receiver (DabRadio) turns it into chip replies.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Labels travel as 16 raw bytes in the chip's replies: blank padded, never
// terminated, and free to hold zero bytes or leading blanks.
using Label = std::array<uint8_t, 16>;

// Up to 16 bytes of text, blank padded to 16. Longer text is cut.
Label make_label(std::string_view text);

// Limits of what the chip's replies can carry; a band beyond them is refused.
inline constexpr std::size_t max_frequencies = 255; // the count is one byte
inline constexpr std::size_t max_components = 15;   // four bits in the service record
inline constexpr std::size_t max_services = 255;    // one byte in the list header
inline constexpr std::size_t max_ua_length = 255;   // one byte in the component info
inline constexpr std::size_t max_packet_payload = 4096;
inline constexpr std::size_t max_text_length = 4093; // the host keeps 4093 characters

struct UserApplication {
    uint16_t type = 0;         // 0x0002 slideshow, 0x044A journaline, ...
    std::vector<uint8_t> data; // at most 255 bytes, and the entries of a component share 255

    bool operator==(const UserApplication &) const = default;
};

struct Component {
    uint16_t id = 0; // bits 15-14 TMID; the rest subchannel, FIDC or service-component id
    bool ca_flag = false;
    bool ps = false;
    uint8_t ascty_dscty = 0; // 6 bits
    bool mua_info_valid = false;
    // Component information
    uint8_t global_id = 0;
    uint8_t language = 0; // 6 bits
    uint8_t charset = 0;  // 6 bits
    Label label = make_label("");
    uint16_t char_abbrev = 0;
    std::vector<UserApplication> user_applications;

    uint8_t tmid() const { return static_cast<uint8_t>(id >> 14); }
    bool operator==(const Component &) const = default;
};

// A packet a started service delivers besides its broadcast texts (slideshow
// segments, journal pages...).
struct Packet {
    uint8_t data_src = 1; // 2 bits
    uint8_t dscty = 60;   // 6 bits
    uint16_t segment = 0;
    uint16_t segments = 1;
    std::vector<uint8_t> payload; // at most 4096 bytes

    bool operator==(const Packet &) const = default;
};

// DL Plus for a broadcast text: the command the station sends right after
// the message, under the same toggle. A tag's start and length count
// characters of the message.
struct DlPlusTag {
    uint8_t type = 0;   // content type, 0-63
    uint8_t start = 0;  // 0-127
    uint8_t length = 1; // 1-128
    bool operator==(const DlPlusTag &) const = default;
};

struct DlPlus {
    uint8_t item_toggle = 0; // 0 or 1
    bool item_running = true;
    std::vector<DlPlusTag> tags; // 1 to 4

    bool operator==(const DlPlus &) const = default;
};

// How a broadcast text goes out, beside its bytes: in which character set,
// with DL Plus tags, or as the clear-display command instead of a message.
struct TextOptions {
    uint8_t charset = 0; // 0 EBU Latin, 6 UCS-2, 15 UTF-8 (4 bits)
    bool clear = false;
    std::optional<DlPlus> dl_plus;

    bool operator==(const TextOptions &) const = default;
};

struct Service {
    uint32_t id = 0;   // for a data service bits 31-24 are the ECC
    bool data = false; // P/D flag
    uint8_t pty = 0;   // 5 bits
    bool linking = false;
    uint8_t ca_id = 0; // 3 bits
    bool local = false;
    uint8_t si_charset = 0; // 4 bits
    Label label = make_label("");
    std::vector<Component> components; // at most 15
    std::vector<std::string> texts;    // broadcast texts, delivered in turn
    // By text index; a text without an entry here is a plain EBU Latin
    // message (so a band written as strings stays as it was).
    std::vector<TextOptions> text_options;
    std::vector<Packet> packets; // other packets, delivered in turn

    bool operator==(const Service &) const = default;
};

struct Reception {
    uint8_t rssi = 40;
    uint8_t snr = 20;
    uint8_t fic_quality = 100;
    uint8_t cnr = 25;
    // Unset: valid when rssi reaches the chip's valid-RSSI threshold property.
    std::optional<bool> rssi_valid;
    bool acquires = true; // a valid signal that still never yields an ensemble: false
    uint16_t fib_errors = 0;
    uint8_t fft_offset = 0;
    uint16_t antenna_cap = 0; // 0: the receiver picks one from the frequency
    uint16_t cu_level = 540;
    uint8_t fast_detect = 30;

    bool operator==(const Reception &) const = default;
};

struct DateTime {
    uint16_t year = 0;
    uint8_t month = 0;
    uint8_t day = 0;
    uint8_t hour = 0;
    uint8_t minute = 0;
    uint8_t second = 0;

    bool operator==(const DateTime &) const = default;
};

struct Ensemble {
    uint32_t frequency_khz = 0; // one of the band's frequencies
    uint16_t id = 0;
    Label label = make_label("");
    uint16_t list_version = 1;
    Reception reception;
    // Unset: the ensemble broadcasts no time and the chip reports zeros.
    std::optional<DateTime> time;
    // A plausible date runs on with the board's clock; an implausible one
    // (year, month or day 0...) is reported as it stands.
    bool time_runs = true;
    std::vector<Service> services;

    bool operator==(const Ensemble &) const = default;
};

// The options of text `k` of the service: its own, or the plain ones.
const TextOptions &text_options(const Service &service, std::size_t k);

struct Band {
    std::vector<uint32_t> frequencies; // the chip's DAB frequency list after reset, kHz
    std::vector<Ensemble> ensembles;

    const Ensemble *on_frequency(uint32_t khz) const;
    bool operator==(const Band &) const = default;
};

// The 41 Band III centre frequencies, 5A to 13F.
const std::vector<uint32_t> &band_iii_frequencies();

// The built-in band: six receivable ensembles with 40 services, one weak
// ensemble the receiver never acquires, edge cases for the host to meet.
Band default_band();

// Checks every limit; on failure *error names the offending item.
bool validate_band(const Band &band, std::string *error);

// JSON band files (schema in sim/README-receiver.md). Parsing never throws:
// malformed text, wrong types and values out of range fail with a message.
bool parse_band_json(const std::string &json, Band *band, std::string *error);
std::string band_to_json(const Band &band);

// Raw layouts of the chip's replies.
// The service records of a service list: 24-byte header plus 4 bytes a component.
std::vector<uint8_t> service_list_records(const Ensemble &ensemble);
// The user-application fields of the component information: per entry the
// type (LE), the length L, L data bytes and a zero pad byte when L is even.
std::vector<uint8_t> user_application_fields(const Component &component);

// Lookups within an ensemble; nullptr when absent. Duplicated ids find the first.
const Service *find_service(const Ensemble &ensemble, uint32_t service_id);
const Component *find_component(const Service &service, uint32_t component_id);

// The broadcast time at `seconds_later` seconds after the configured time,
// calendar-correct; an implausible date is returned unchanged.
DateTime advance_time(const DateTime &time, uint64_t seconds_later);

} // namespace sim
