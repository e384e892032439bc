// SPDX-License-Identifier: GPL-3.0-or-later
#include "Band.h"

#include <set>

namespace sim {

namespace {

constexpr std::size_t service_header_size = 24;
constexpr std::size_t component_record_size = 4;

void put_le16(std::vector<uint8_t> &out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put_le32(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

bool fail(std::string *error, const std::string &where, const std::string &what) {
    if (error != nullptr) {
        *error = where + ": " + what;
    }
    return false;
}

bool check_width(std::string *error, const std::string &where, const char *field, unsigned value,
                 unsigned max) {
    if (value > max) {
        return fail(error, where,
                    std::string(field) + " " + std::to_string(value) + " is above " +
                        std::to_string(max));
    }
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t *year, unsigned *month, unsigned *day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *day = doy - (153 * mp + 2) / 5 + 1;
    *month = mp < 10 ? mp + 3 : mp - 9;
    *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

unsigned days_in_month(unsigned year, unsigned month) {
    static constexpr unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

bool plausible(const DateTime &t) {
    return t.year >= 1 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= days_in_month(t.year, t.month) && t.hour < 24 && t.minute < 60 && t.second < 60;
}

bool validate_component(const Component &component, const std::string &where, std::string *error) {
    if (!check_width(error, where, "ascty_dscty", component.ascty_dscty, 63) ||
        !check_width(error, where, "language", component.language, 63) ||
        !check_width(error, where, "charset", component.charset, 63)) {
        return false;
    }
    std::size_t fields = 0;
    for (std::size_t i = 0; i < component.user_applications.size(); ++i) {
        const auto &ua = component.user_applications[i];
        const std::string ua_where = where + ".user_applications[" + std::to_string(i) + "]";
        if (ua.data.size() > 255) {
            return fail(error, ua_where, "more than 255 data bytes");
        }
        fields += 3 + ua.data.size() + (ua.data.size() % 2 == 0 ? 1 : 0);
    }
    if (component.user_applications.size() > 255) {
        return fail(error, where, "more than 255 user applications");
    }
    if (fields > max_ua_length) {
        return fail(error, where,
                    "user-application fields of " + std::to_string(fields) +
                        " bytes do not fit the 255 the chip can report");
    }
    return true;
}

bool validate_service(const Service &service, const std::string &where, std::string *error) {
    if (!check_width(error, where, "pty", service.pty, 31) ||
        !check_width(error, where, "ca_id", service.ca_id, 7) ||
        !check_width(error, where, "si_charset", service.si_charset, 15)) {
        return false;
    }
    if (service.components.size() > max_components) {
        return fail(error, where, "more than 15 components");
    }
    std::set<uint16_t> ids;
    for (std::size_t c = 0; c < service.components.size(); ++c) {
        const std::string c_where = where + ".components[" + std::to_string(c) + "]";
        if (!ids.insert(service.components[c].id).second) {
            return fail(error, c_where, "component id used twice in the service");
        }
        if (!validate_component(service.components[c], c_where, error)) {
            return false;
        }
    }
    for (std::size_t t = 0; t < service.texts.size(); ++t) {
        if (service.texts[t].size() > max_text_length) {
            return fail(error, where + ".texts[" + std::to_string(t) + "]",
                        "longer than 4093 bytes");
        }
    }
    if (service.text_options.size() > service.texts.size()) {
        return fail(error, where + ".text_options", "more options than texts");
    }
    for (std::size_t t = 0; t < service.text_options.size(); ++t) {
        const TextOptions &o = service.text_options[t];
        const std::string t_where = where + ".texts[" + std::to_string(t) + "]";
        if (!check_width(error, t_where, "charset", o.charset, 15)) {
            return false;
        }
        if (!o.dl_plus) {
            continue;
        }
        if (o.clear) {
            return fail(error, t_where, "a clear-display command carries no DL Plus");
        }
        const DlPlus &d = *o.dl_plus;
        if (d.item_toggle > 1 || d.tags.empty() || d.tags.size() > 4) {
            return fail(error, t_where + ".dl_plus", "item_toggle 0 or 1 and 1 to 4 tags");
        }
        for (const DlPlusTag &tag : d.tags) {
            if (tag.type > 63 || tag.start > 127 || tag.length < 1 || tag.length > 128) {
                return fail(error, t_where + ".dl_plus.tags",
                            "type 0-63, start 0-127, length 1-128");
            }
        }
    }
    for (std::size_t p = 0; p < service.packets.size(); ++p) {
        const auto &packet = service.packets[p];
        const std::string p_where = where + ".packets[" + std::to_string(p) + "]";
        if (!check_width(error, p_where, "data_src", packet.data_src, 3) ||
            !check_width(error, p_where, "dscty", packet.dscty, 63)) {
            return false;
        }
        if (packet.payload.size() > max_packet_payload) {
            return fail(error, p_where, "payload longer than 4096 bytes");
        }
    }
    return true;
}

} // namespace

Label make_label(std::string_view text) {
    Label label;
    label.fill(' ');
    for (std::size_t i = 0; i < label.size() && i < text.size(); ++i) {
        label[i] = static_cast<uint8_t>(text[i]);
    }
    return label;
}

const std::vector<uint32_t> &band_iii_frequencies() {
    static const std::vector<uint32_t> list{
        174928, 176640, 178352, 180064, 181936, 183648, 185360, 187072, 188928, 190640, 192352,
        194064, 195936, 197648, 199360, 201072, 202928, 204640, 206352, 208064, 209936, 210096,
        211648, 213360, 215072, 216928, 217088, 218640, 220352, 222064, 223936, 224096, 225648,
        227360, 229072, 230784, 232496, 234208, 235776, 237488, 239200};
    return list;
}

const Ensemble *Band::on_frequency(uint32_t khz) const {
    for (const auto &ensemble : ensembles) {
        if (ensemble.frequency_khz == khz) {
            return &ensemble;
        }
    }
    return nullptr;
}

bool validate_band(const Band &band, std::string *error) {
    if (band.frequencies.empty()) {
        return fail(error, "frequencies", "the list is empty");
    }
    if (band.frequencies.size() > max_frequencies) {
        return fail(error, "frequencies",
                    std::to_string(band.frequencies.size()) +
                        " entries, but the chip reports at most 255");
    }
    std::set<uint32_t> seen;
    for (std::size_t i = 0; i < band.frequencies.size(); ++i) {
        const std::string where = "frequencies[" + std::to_string(i) + "]";
        if (band.frequencies[i] == 0) {
            return fail(error, where, "a frequency of 0 kHz");
        }
        if (!seen.insert(band.frequencies[i]).second) {
            return fail(error, where, std::to_string(band.frequencies[i]) + " kHz listed twice");
        }
    }
    std::set<uint32_t> occupied;
    for (std::size_t e = 0; e < band.ensembles.size(); ++e) {
        const auto &ensemble = band.ensembles[e];
        const std::string where = "ensembles[" + std::to_string(e) + "]";
        if (seen.count(ensemble.frequency_khz) == 0) {
            return fail(error, where,
                        std::to_string(ensemble.frequency_khz) +
                            " kHz is not in the frequency list");
        }
        if (!occupied.insert(ensemble.frequency_khz).second) {
            return fail(error, where,
                        "a second ensemble on " + std::to_string(ensemble.frequency_khz) + " kHz");
        }
        if (ensemble.services.size() > max_services) {
            return fail(error, where, "more than 255 services");
        }
        for (std::size_t s = 0; s < ensemble.services.size(); ++s) {
            if (!validate_service(ensemble.services[s],
                                  where + ".services[" + std::to_string(s) + "]", error)) {
                return false;
            }
        }
    }
    return true;
}

std::vector<uint8_t> service_list_records(const Ensemble &ensemble) {
    std::vector<uint8_t> out;
    for (const auto &service : ensemble.services) {
        put_le32(out, service.id);
        out.push_back(static_cast<uint8_t>((service.data ? 0x01 : 0) | (service.pty & 0x1F) << 1 |
                                           (service.linking ? 0x40 : 0)));
        out.push_back(static_cast<uint8_t>((service.components.size() & 0x0F) |
                                           (service.ca_id & 0x07) << 4 |
                                           (service.local ? 0x80 : 0)));
        out.push_back(static_cast<uint8_t>(service.si_charset & 0x0F));
        out.push_back(0);
        out.insert(out.end(), service.label.begin(), service.label.end());
        for (const auto &component : service.components) {
            put_le16(out, component.id);
            out.push_back(static_cast<uint8_t>((component.ca_flag ? 0x01 : 0) |
                                               (component.ps ? 0x02 : 0) |
                                               (component.ascty_dscty & 0x3F) << 2));
            out.push_back(component.mua_info_valid ? 0x01 : 0);
        }
    }
    static_assert(service_header_size == 24 && component_record_size == 4);
    return out;
}

std::vector<uint8_t> user_application_fields(const Component &component) {
    std::vector<uint8_t> out;
    for (const auto &ua : component.user_applications) {
        put_le16(out, ua.type);
        out.push_back(static_cast<uint8_t>(ua.data.size()));
        out.insert(out.end(), ua.data.begin(), ua.data.end());
        // Entries keep an even length: an even data length takes a pad byte.
        if (ua.data.size() % 2 == 0) {
            out.push_back(0);
        }
    }
    return out;
}

const TextOptions &text_options(const Service &service, std::size_t k) {
    static const TextOptions plain;
    return k < service.text_options.size() ? service.text_options[k] : plain;
}

const Service *find_service(const Ensemble &ensemble, uint32_t service_id) {
    for (const auto &service : ensemble.services) {
        if (service.id == service_id) {
            return &service;
        }
    }
    return nullptr;
}

const Component *find_component(const Service &service, uint32_t component_id) {
    for (const auto &component : service.components) {
        if (component.id == component_id) {
            return &component;
        }
    }
    return nullptr;
}

DateTime advance_time(const DateTime &time, uint64_t seconds_later) {
    if (!plausible(time)) {
        return time;
    }
    const int64_t start = days_from_civil(time.year, time.month, time.day) * 86400 +
                          time.hour * 3600 + time.minute * 60 + time.second;
    const int64_t total = start + static_cast<int64_t>(seconds_later % (86400ULL * 365 * 5000));
    int64_t days = total / 86400;
    int64_t rest = total % 86400;
    int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civil_from_days(days, &year, &month, &day);
    DateTime out;
    out.year = static_cast<uint16_t>(year);
    out.month = static_cast<uint8_t>(month);
    out.day = static_cast<uint8_t>(day);
    out.hour = static_cast<uint8_t>(rest / 3600);
    out.minute = static_cast<uint8_t>(rest / 60 % 60);
    out.second = static_cast<uint8_t>(rest % 60);
    return out;
}

} // namespace sim
