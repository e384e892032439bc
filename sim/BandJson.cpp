// SPDX-License-Identifier: GPL-3.0-or-later
// Band files: JSON in, JSON out. Every field is checked for its type and
// range on the way in, unknown keys are refused (a misspelt key would
// otherwise silently fall back to its default), and no exception leaves.
#include <cstdio>
#include <set>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "Band.h"

namespace sim {

namespace {

using nlohmann::json;

struct BandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const std::string &where, const std::string &what) {
    throw BandError(where + ": " + what);
}

std::string at(const std::string &where, const std::string &key) {
    return where.empty() ? key : where + "." + key;
}

std::string at(const std::string &where, std::size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

const char *type_name(const json &value) {
    return value.type_name();
}

void expect_object(const json &value, const std::string &where,
                   std::initializer_list<const char *> keys) {
    if (!value.is_object()) {
        refuse(where.empty() ? "band" : where,
               std::string("expected an object, found ") + type_name(value));
    }
    std::set<std::string> allowed(keys.begin(), keys.end());
    allowed.insert("comment");
    for (const auto &item : value.items()) {
        if (allowed.count(item.key()) == 0) {
            refuse(at(where, item.key()), "unknown key");
        }
    }
}

const json &expect_array(const json &value, const std::string &where) {
    if (!value.is_array()) {
        refuse(where, std::string("expected an array, found ") + type_name(value));
    }
    return value;
}

// A whole number as a JSON integer or as a text ("0x1F" or "31"), within bounds.
uint64_t whole(const json &value, const std::string &where, uint64_t max) {
    uint64_t number = 0;
    if (value.is_number_unsigned()) {
        number = value.get<uint64_t>();
    } else if (value.is_number_integer()) {
        refuse(where, "negative value " + std::to_string(value.get<int64_t>()));
    } else if (value.is_string()) {
        const auto text = value.get<std::string>();
        const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
        const std::string digits = hex ? text.substr(2) : text;
        if (digits.empty() || digits.size() > 16 ||
            digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
                std::string::npos) {
            refuse(where, "'" + text + "' is not a number");
        }
        number = std::stoull(digits, nullptr, hex ? 16 : 10);
    } else {
        refuse(where, std::string("expected a whole number, found ") + type_name(value));
    }
    if (number > max) {
        refuse(where, "value " + std::to_string(number) + " is above " + std::to_string(max));
    }
    return number;
}

template <typename T>
void read_whole(const json &object, const char *key, const std::string &where, uint64_t max,
                T *out) {
    if (object.contains(key)) {
        *out = static_cast<T>(whole(object.at(key), at(where, key), max));
    }
}

void read_bool(const json &object, const char *key, const std::string &where, bool *out) {
    if (object.contains(key)) {
        const auto &value = object.at(key);
        if (!value.is_boolean()) {
            refuse(at(where, key),
                   std::string("expected true or false, found ") + type_name(value));
        }
        *out = value.get<bool>();
    }
}

std::string text(const json &value, const std::string &where) {
    if (!value.is_string()) {
        refuse(where, std::string("expected a string, found ") + type_name(value));
    }
    return value.get<std::string>();
}

std::vector<uint8_t> bytes(const json &value, const std::string &where, std::size_t max);

// A broadcast text: a string (its bytes as written) or, for the broadcast
// character set's own bytes, an array of byte values.
std::string broadcast_text(const json &value, const std::string &where) {
    if (value.is_array()) {
        const auto raw = bytes(value, where, 4093);
        return std::string(raw.begin(), raw.end());
    }
    return text(value, where);
}

DlPlus read_dl_plus(const json &value, const std::string &where) {
    expect_object(value, where, {"item_toggle", "item_running", "tags"});
    DlPlus dl_plus;
    read_whole(value, "item_toggle", where, 1, &dl_plus.item_toggle);
    read_bool(value, "item_running", where, &dl_plus.item_running);
    const std::string list_where = at(where, "tags");
    if (!value.contains("tags")) {
        refuse(list_where, "DL Plus needs 1 to 4 tags");
    }
    const auto &list = expect_array(value.at("tags"), list_where);
    if (list.empty() || list.size() > 4) {
        refuse(list_where, std::to_string(list.size()) + " tags, DL Plus sends 1 to 4");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string tag_where = at(list_where, i);
        expect_object(list[i], tag_where, {"type", "start", "length"});
        DlPlusTag tag;
        read_whole(list[i], "type", tag_where, 63, &tag.type);
        read_whole(list[i], "start", tag_where, 127, &tag.start);
        read_whole(list[i], "length", tag_where, 128, &tag.length);
        if (tag.length == 0) {
            refuse(at(tag_where, "length"), "a tag marks at least one character");
        }
        dl_plus.tags.push_back(tag);
    }
    return dl_plus;
}

// A text entry: a string or bytes (a plain EBU Latin message), or an object
// giving its character set, its DL Plus tags, or the clear-display command.
std::string text_entry(const json &value, const std::string &where, TextOptions *options) {
    if (!value.is_object()) {
        return broadcast_text(value, where);
    }
    expect_object(value, where, {"text", "bytes", "charset", "dl_plus", "clear"});
    read_bool(value, "clear", where, &options->clear);
    const bool has_text = value.contains("text");
    const bool has_bytes = value.contains("bytes");
    if (options->clear) {
        if (has_text || has_bytes || value.contains("charset") || value.contains("dl_plus")) {
            refuse(where, "a clear-display command has no text, charset or DL Plus");
        }
        return {};
    }
    if (has_text == has_bytes) {
        refuse(where, "give text or bytes");
    }
    read_whole(value, "charset", where, 15, &options->charset);
    if (value.contains("dl_plus")) {
        options->dl_plus = read_dl_plus(value.at("dl_plus"), at(where, "dl_plus"));
    }
    return broadcast_text(value.at(has_text ? "text" : "bytes"),
                          at(where, has_text ? "text" : "bytes"));
}

std::vector<uint8_t> bytes(const json &value, const std::string &where, std::size_t max) {
    const auto &array = expect_array(value, where);
    if (array.size() > max) {
        refuse(where, "more than " + std::to_string(max) + " bytes");
    }
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i < array.size(); ++i) {
        out.push_back(static_cast<uint8_t>(whole(array[i], at(where, i), 255)));
    }
    return out;
}

// "label" as text (its bytes as written, UTF-8 included) or "label_bytes" as
// numbers; either is blank padded to 16 bytes.
void read_label(const json &object, const std::string &where, Label *out) {
    const bool has_text = object.contains("label");
    const bool has_bytes = object.contains("label_bytes");
    if (has_text && has_bytes) {
        refuse(at(where, "label"), "give label or label_bytes, not both");
    }
    if (has_text) {
        const auto label = text(object.at("label"), at(where, "label"));
        if (label.size() > 16) {
            refuse(at(where, "label"), "'" + label + "' is " + std::to_string(label.size()) +
                                           " bytes, a label holds 16");
        }
        *out = make_label(label);
    } else if (has_bytes) {
        const auto raw = bytes(object.at("label_bytes"), at(where, "label_bytes"), 16);
        *out = make_label(std::string(raw.begin(), raw.end()));
    }
}

DateTime read_time(const json &value, const std::string &where) {
    DateTime time;
    if (value.is_string()) {
        const auto written = value.get<std::string>();
        unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
        char separator = 0;
        int used = 0;
        if (std::sscanf(written.c_str(), "%5u-%3u-%3u%c%3u:%3u:%3u%n", &y, &mo, &d, &separator, &h,
                        &mi, &s, &used) != 7 ||
            static_cast<std::size_t>(used) != written.size() ||
            (separator != ' ' && separator != 'T')) {
            refuse(where, "'" + written + "' is not YYYY-MM-DD HH:MM:SS");
        }
        if (y > 0xFFFF || mo > 255 || d > 255 || h > 255 || mi > 255 || s > 255) {
            refuse(where, "'" + written + "' has a field beyond what the chip reports");
        }
        time.year = static_cast<uint16_t>(y);
        time.month = static_cast<uint8_t>(mo);
        time.day = static_cast<uint8_t>(d);
        time.hour = static_cast<uint8_t>(h);
        time.minute = static_cast<uint8_t>(mi);
        time.second = static_cast<uint8_t>(s);
        return time;
    }
    expect_object(value, where, {"year", "month", "day", "hour", "minute", "second"});
    read_whole(value, "year", where, 0xFFFF, &time.year);
    read_whole(value, "month", where, 255, &time.month);
    read_whole(value, "day", where, 255, &time.day);
    read_whole(value, "hour", where, 255, &time.hour);
    read_whole(value, "minute", where, 255, &time.minute);
    read_whole(value, "second", where, 255, &time.second);
    return time;
}

Component read_component(const json &value, const std::string &where, const Service &service,
                         std::size_t position) {
    expect_object(value, where,
                  {"id", "ca_flag", "ps", "ascty_dscty", "mua_info_valid", "global_id", "language",
                   "charset", "label", "label_bytes", "char_abbrev", "user_applications"});
    if (!value.contains("id")) {
        refuse(where, "a component needs an id");
    }
    Component component;
    component.label = service.label;
    component.charset = service.si_charset;
    component.ps = position == 0; // the first component is the primary one
    component.global_id = static_cast<uint8_t>(position);
    read_whole(value, "id", where, 0xFFFF, &component.id);
    read_bool(value, "ca_flag", where, &component.ca_flag);
    read_bool(value, "ps", where, &component.ps);
    read_whole(value, "ascty_dscty", where, 63, &component.ascty_dscty);
    read_bool(value, "mua_info_valid", where, &component.mua_info_valid);
    read_whole(value, "global_id", where, 255, &component.global_id);
    read_whole(value, "language", where, 63, &component.language);
    read_whole(value, "charset", where, 63, &component.charset);
    read_label(value, where, &component.label);
    read_whole(value, "char_abbrev", where, 0xFFFF, &component.char_abbrev);
    if (value.contains("user_applications")) {
        const std::string list_where = at(where, "user_applications");
        const auto &list = expect_array(value.at("user_applications"), list_where);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::string ua_where = at(list_where, i);
            expect_object(list[i], ua_where, {"type", "data"});
            if (!list[i].contains("type")) {
                refuse(ua_where, "a user application needs a type");
            }
            UserApplication ua;
            read_whole(list[i], "type", ua_where, 0xFFFF, &ua.type);
            if (list[i].contains("data")) {
                ua.data = bytes(list[i].at("data"), at(ua_where, "data"), 255);
            }
            component.user_applications.push_back(std::move(ua));
        }
    }
    return component;
}

Packet read_packet(const json &value, const std::string &where) {
    expect_object(value, where,
                  {"data_src", "dscty", "segment", "segments", "payload", "payload_text"});
    Packet packet;
    read_whole(value, "data_src", where, 3, &packet.data_src);
    read_whole(value, "dscty", where, 63, &packet.dscty);
    read_whole(value, "segment", where, 0xFFFF, &packet.segment);
    read_whole(value, "segments", where, 0xFFFF, &packet.segments);
    if (value.contains("payload") && value.contains("payload_text")) {
        refuse(at(where, "payload"), "give payload or payload_text, not both");
    }
    if (value.contains("payload")) {
        packet.payload = bytes(value.at("payload"), at(where, "payload"), max_packet_payload);
    } else if (value.contains("payload_text")) {
        const auto written = text(value.at("payload_text"), at(where, "payload_text"));
        if (written.size() > max_packet_payload) {
            refuse(at(where, "payload_text"), "longer than 4096 bytes");
        }
        packet.payload.assign(written.begin(), written.end());
    }
    return packet;
}

Service read_service(const json &value, const std::string &where) {
    expect_object(value, where,
                  {"id", "data", "ecc", "pty", "linking", "ca_id", "local", "si_charset", "label",
                   "label_bytes", "components", "texts", "packets"});
    if (!value.contains("id")) {
        refuse(where, "a service needs an id");
    }
    Service service;
    read_whole(value, "id", where, 0xFFFFFFFF, &service.id);
    read_bool(value, "data", where, &service.data);
    if (value.contains("ecc")) {
        if (!service.data) {
            refuse(at(where, "ecc"), "only a data service carries the ECC in its id");
        }
        const auto ecc = static_cast<uint32_t>(whole(value.at("ecc"), at(where, "ecc"), 255));
        if ((service.id >> 24) != 0 && (service.id >> 24) != ecc) {
            refuse(at(where, "ecc"), "differs from the top byte of the id");
        }
        service.id = (service.id & 0x00FFFFFF) | ecc << 24;
    }
    read_whole(value, "pty", where, 31, &service.pty);
    read_bool(value, "linking", where, &service.linking);
    read_whole(value, "ca_id", where, 7, &service.ca_id);
    read_bool(value, "local", where, &service.local);
    read_whole(value, "si_charset", where, 15, &service.si_charset);
    read_label(value, where, &service.label);
    if (value.contains("components")) {
        const std::string list_where = at(where, "components");
        const auto &list = expect_array(value.at("components"), list_where);
        if (list.size() > max_components) {
            refuse(list_where,
                   std::to_string(list.size()) + " components, a service has 15 at most");
        }
        for (std::size_t i = 0; i < list.size(); ++i) {
            service.components.push_back(read_component(list[i], at(list_where, i), service, i));
        }
    }
    if (value.contains("texts")) {
        const std::string list_where = at(where, "texts");
        const auto &list = expect_array(value.at("texts"), list_where);
        bool all_plain = true;
        for (std::size_t i = 0; i < list.size(); ++i) {
            TextOptions options;
            service.texts.push_back(text_entry(list[i], at(list_where, i), &options));
            all_plain = all_plain && options == TextOptions{};
            service.text_options.push_back(options);
        }
        if (all_plain) {
            service.text_options.clear();
        }
    }
    if (value.contains("packets")) {
        const std::string list_where = at(where, "packets");
        const auto &list = expect_array(value.at("packets"), list_where);
        for (std::size_t i = 0; i < list.size(); ++i) {
            service.packets.push_back(read_packet(list[i], at(list_where, i)));
        }
    }
    return service;
}

Reception read_reception(const json &value, const std::string &where) {
    expect_object(value, where,
                  {"rssi", "snr", "fic_quality", "cnr", "rssi_valid", "acquires", "fib_errors",
                   "fft_offset", "antenna_cap", "cu_level", "fast_detect"});
    Reception reception;
    read_whole(value, "rssi", where, 255, &reception.rssi);
    read_whole(value, "snr", where, 255, &reception.snr);
    read_whole(value, "fic_quality", where, 255, &reception.fic_quality);
    read_whole(value, "cnr", where, 255, &reception.cnr);
    if (value.contains("rssi_valid")) {
        bool valid = false;
        read_bool(value, "rssi_valid", where, &valid);
        reception.rssi_valid = valid;
    }
    read_bool(value, "acquires", where, &reception.acquires);
    read_whole(value, "fib_errors", where, 0xFFFF, &reception.fib_errors);
    read_whole(value, "fft_offset", where, 255, &reception.fft_offset);
    read_whole(value, "antenna_cap", where, 0xFFFF, &reception.antenna_cap);
    read_whole(value, "cu_level", where, 0xFFFF, &reception.cu_level);
    read_whole(value, "fast_detect", where, 255, &reception.fast_detect);
    return reception;
}

Ensemble read_ensemble(const json &value, const std::string &where,
                       const std::vector<uint32_t> &frequencies) {
    expect_object(value, where,
                  {"index", "frequency", "id", "label", "label_bytes", "list_version", "reception",
                   "time", "time_runs", "services"});
    Ensemble ensemble;
    const bool has_index = value.contains("index");
    if (has_index == value.contains("frequency")) {
        refuse(where, "give the ensemble either an index or a frequency");
    }
    if (has_index) {
        const auto index = whole(value.at("index"), at(where, "index"), 255);
        if (index >= frequencies.size()) {
            refuse(at(where, "index"), std::to_string(index) + " is beyond the " +
                                           std::to_string(frequencies.size()) +
                                           "-entry frequency list");
        }
        ensemble.frequency_khz = frequencies[index];
    } else {
        read_whole(value, "frequency", where, 0xFFFFFFFF, &ensemble.frequency_khz);
    }
    read_whole(value, "id", where, 0xFFFF, &ensemble.id);
    read_label(value, where, &ensemble.label);
    read_whole(value, "list_version", where, 0xFFFF, &ensemble.list_version);
    if (value.contains("reception")) {
        ensemble.reception = read_reception(value.at("reception"), at(where, "reception"));
    }
    if (value.contains("time") && !value.at("time").is_null()) {
        ensemble.time = read_time(value.at("time"), at(where, "time"));
    }
    read_bool(value, "time_runs", where, &ensemble.time_runs);
    if (value.contains("services")) {
        const std::string list_where = at(where, "services");
        const auto &list = expect_array(value.at("services"), list_where);
        for (std::size_t i = 0; i < list.size(); ++i) {
            ensemble.services.push_back(read_service(list[i], at(list_where, i)));
        }
    }
    return ensemble;
}

Band read_band(const json &document) {
    expect_object(document, "", {"frequencies", "ensembles"});
    Band band;
    band.frequencies = band_iii_frequencies();
    if (document.contains("frequencies")) {
        const auto &list = expect_array(document.at("frequencies"), "frequencies");
        if (list.size() > max_frequencies) {
            refuse("frequencies",
                   std::to_string(list.size()) + " entries, but the chip reports at most 255");
        }
        band.frequencies.clear();
        for (std::size_t i = 0; i < list.size(); ++i) {
            band.frequencies.push_back(
                static_cast<uint32_t>(whole(list[i], at("frequencies", i), 0xFFFFFFFF)));
        }
    }
    if (document.contains("ensembles")) {
        const auto &list = expect_array(document.at("ensembles"), "ensembles");
        for (std::size_t i = 0; i < list.size(); ++i) {
            band.ensembles.push_back(read_ensemble(list[i], at("ensembles", i), band.frequencies));
        }
    }
    return band;
}

template <typename Bytes> bool printable_ascii(const Bytes &bytes) {
    bool printable = true;
    for (auto byte : bytes) {
        const auto value = static_cast<uint8_t>(byte);
        printable = printable && value >= 0x20 && value < 0x7F;
    }
    return printable;
}

// Texts of plain printable ASCII are written as text, others as bytes.
json text_value(const std::string &text) {
    if (printable_ascii(text)) {
        return text;
    }
    return std::vector<unsigned>(reinterpret_cast<const uint8_t *>(text.data()),
                                 reinterpret_cast<const uint8_t *>(text.data()) + text.size());
}

json text_entry_value(const std::string &text, const TextOptions &options) {
    if (options == TextOptions{}) {
        return text_value(text);
    }
    if (options.clear) {
        return {{"clear", true}};
    }
    json entry = {{"charset", options.charset}};
    const json written = text_value(text);
    entry[written.is_string() ? "text" : "bytes"] = written;
    if (options.dl_plus) {
        json tags = json::array();
        for (const DlPlusTag &tag : options.dl_plus->tags) {
            tags.push_back({{"type", tag.type}, {"start", tag.start}, {"length", tag.length}});
        }
        entry["dl_plus"] = {{"item_toggle", options.dl_plus->item_toggle},
                            {"item_running", options.dl_plus->item_running},
                            {"tags", tags}};
    }
    return entry;
}

// Labels that are plain printable ASCII are written as text, others as bytes.
void write_label(json &object, const Label &label) {
    if (printable_ascii(label)) {
        std::string written(label.begin(), label.end());
        written.erase(written.find_last_not_of(' ') + 1);
        object["label"] = written;
    } else {
        object["label_bytes"] = std::vector<unsigned>(label.begin(), label.end());
    }
}

} // namespace

bool parse_band_json(const std::string &text, Band *band, std::string *error) {
    try {
        const json document = json::parse(text);
        Band parsed = read_band(document);
        if (!validate_band(parsed, error)) {
            return false;
        }
        *band = std::move(parsed);
        return true;
    } catch (const json::parse_error &e) {
        if (error != nullptr) {
            *error = std::string("not valid JSON: ") + e.what();
        }
    } catch (const std::exception &e) {
        if (error != nullptr) {
            *error = e.what();
        }
    }
    return false;
}

std::string band_to_json(const Band &band) {
    json document;
    document["frequencies"] = band.frequencies;
    document["ensembles"] = json::array();
    for (const auto &ensemble : band.ensembles) {
        json e;
        e["frequency"] = ensemble.frequency_khz;
        e["id"] = ensemble.id;
        write_label(e, ensemble.label);
        e["list_version"] = ensemble.list_version;
        const auto &r = ensemble.reception;
        json reception = {{"rssi", r.rssi},
                          {"snr", r.snr},
                          {"fic_quality", r.fic_quality},
                          {"cnr", r.cnr},
                          {"acquires", r.acquires},
                          {"fib_errors", r.fib_errors},
                          {"fft_offset", r.fft_offset},
                          {"antenna_cap", r.antenna_cap},
                          {"cu_level", r.cu_level},
                          {"fast_detect", r.fast_detect}};
        if (r.rssi_valid) {
            reception["rssi_valid"] = *r.rssi_valid;
        }
        e["reception"] = reception;
        if (ensemble.time) {
            const auto &t = *ensemble.time;
            e["time"] = {{"year", t.year}, {"month", t.month},   {"day", t.day},
                         {"hour", t.hour}, {"minute", t.minute}, {"second", t.second}};
        } else {
            e["time"] = nullptr;
        }
        e["time_runs"] = ensemble.time_runs;
        e["services"] = json::array();
        for (const auto &service : ensemble.services) {
            json s = {{"id", service.id},
                      {"data", service.data},
                      {"pty", service.pty},
                      {"linking", service.linking},
                      {"ca_id", service.ca_id},
                      {"local", service.local},
                      {"si_charset", service.si_charset}};
            write_label(s, service.label);
            s["components"] = json::array();
            for (const auto &component : service.components) {
                json c = {{"id", component.id},
                          {"ca_flag", component.ca_flag},
                          {"ps", component.ps},
                          {"ascty_dscty", component.ascty_dscty},
                          {"mua_info_valid", component.mua_info_valid},
                          {"global_id", component.global_id},
                          {"language", component.language},
                          {"charset", component.charset},
                          {"char_abbrev", component.char_abbrev}};
                write_label(c, component.label);
                c["user_applications"] = json::array();
                for (const auto &ua : component.user_applications) {
                    c["user_applications"].push_back({{"type", ua.type}, {"data", ua.data}});
                }
                s["components"].push_back(c);
            }
            s["texts"] = json::array();
            for (std::size_t k = 0; k < service.texts.size(); ++k) {
                s["texts"].push_back(text_entry_value(service.texts[k], text_options(service, k)));
            }
            s["packets"] = json::array();
            for (const auto &packet : service.packets) {
                s["packets"].push_back({{"data_src", packet.data_src},
                                        {"dscty", packet.dscty},
                                        {"segment", packet.segment},
                                        {"segments", packet.segments},
                                        {"payload", packet.payload}});
            }
            e["services"].push_back(s);
        }
        document["ensembles"].push_back(e);
    }
    return document.dump(2);
}

} // namespace sim
