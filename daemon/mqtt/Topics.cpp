// SPDX-License-Identifier: GPL-3.0-or-later
#include "Topics.h"

#include <nlohmann/json.hpp>
#include <set>

namespace tunelark::mqtt {

namespace {

using nlohmann::json;

std::string state_topic(const Options &options, const char *what) {
    return options.prefix + "/" + what;
}

json status_json(const Snapshot &snapshot) {
    json status;
    status["state"] = state_name(snapshot.state);
    if (snapshot.station)
        status["station"] = {{"service_id", snapshot.station->service_id},
                             {"label", snapshot.station->label},
                             {"ensemble", snapshot.station->ensemble},
                             {"frequency_khz", snapshot.station->frequency_khz},
                             {"component_id", snapshot.station->component_id}};
    else
        status["station"] = nullptr;
    status["text"] = snapshot.text;
    status["artist"] = snapshot.now_playing && !snapshot.now_playing->artist.empty()
                           ? json(snapshot.now_playing->artist)
                           : json(nullptr);
    status["title"] = snapshot.now_playing && !snapshot.now_playing->title.empty()
                          ? json(snapshot.now_playing->title)
                          : json(nullptr);
    status["volume"] = snapshot.volume;
    if (snapshot.reception)
        status["reception"] = {{"rssi", snapshot.reception->rssi},
                               {"snr", snapshot.reception->snr},
                               {"fic_quality", snapshot.reception->fic_quality}};
    else
        status["reception"] = nullptr;
    if (snapshot.scan)
        status["scan"] = {{"done", snapshot.scan->done},
                          {"total", snapshot.scan->total},
                          {"ensembles", snapshot.scan->ensembles},
                          {"services", snapshot.scan->services}};
    else
        status["scan"] = nullptr;
    status["sleep_minutes_left"] =
        snapshot.sleep_minutes_left ? json(*snapshot.sleep_minutes_left) : json(nullptr);
    return status;
}

json device_json(const Options &options) {
    return {{"identifiers", json::array({options.node_id})},
            {"name", options.device_name},
            {"model", "DAB+ radio"},
            {"manufacturer", "Tunelark"},
            {"sw_version", options.version}};
}

// The part every entity shares: its ids, its device and availability.
json entity(const Options &options, const char *object, const char *name) {
    return {{"name", name},
            {"unique_id", options.node_id + "_" + object},
            {"object_id", options.node_id + "_" + object},
            {"availability_topic", availability_topic(options)},
            {"payload_available", "online"},
            {"payload_not_available", "offline"},
            {"device", device_json(options)}};
}

std::string config_topic(const Options &options, const char *component, const char *object) {
    return std::string("homeassistant/") + component + "/" + options.node_id + "/" + object +
           "/config";
}

} // namespace

std::string availability_topic(const Options &options) {
    return state_topic(options, "availability");
}

std::string command_topic(const Options &options, const char *what) {
    return options.prefix + "/" + what + "/set";
}

std::vector<std::pair<std::string, std::string>> state_messages(const Options &options,
                                                                const Snapshot &snapshot) {
    auto number = [](std::optional<int> value) {
        // Home Assistant takes "None" for unknown; an empty payload would be
        // an invalid number.
        return value ? std::to_string(*value) : std::string("None");
    };
    std::optional<Reception> reception = snapshot.reception;
    std::string artist = snapshot.now_playing ? snapshot.now_playing->artist : "";
    std::string title = snapshot.now_playing ? snapshot.now_playing->title : "";
    return {
        {state_topic(options, "status"), status_json(snapshot).dump()},
        {state_topic(options, "state"), state_name(snapshot.state)},
        {state_topic(options, "station"), snapshot.station ? snapshot.station->label : ""},
        {state_topic(options, "volume"), std::to_string(snapshot.volume)},
        {state_topic(options, "text"), snapshot.text},
        {state_topic(options, "artist"), artist},
        {state_topic(options, "title"), title},
        {state_topic(options, "snr"),
         number(reception ? std::optional(reception->snr) : std::nullopt)},
        {state_topic(options, "rssi"),
         number(reception ? std::optional(reception->rssi) : std::nullopt)},
        {state_topic(options, "fic_quality"),
         number(reception ? std::optional(reception->fic_quality) : std::nullopt)},
    };
}

std::vector<std::pair<std::string, std::string>> discovery_messages(const Options &options,
                                                                    const Snapshot &snapshot) {
    std::vector<std::pair<std::string, std::string>> out;

    json select = entity(options, "station", "Station");
    json labels = json::array();
    std::set<std::string> seen;
    for (const Station &station : snapshot.stations)
        if (station.audio && seen.insert(station.label).second)
            labels.push_back(station.label);
    // A select needs at least one option; before the first scan it has this.
    if (labels.empty())
        labels.push_back("No stations");
    select["options"] = labels;
    select["state_topic"] = state_topic(options, "station");
    select["command_topic"] = command_topic(options, "station");
    select["icon"] = "mdi:radio";
    out.emplace_back(config_topic(options, "select", "station"), select.dump());

    json volume = entity(options, "volume", "Volume");
    volume["min"] = 0;
    volume["max"] = 63;
    volume["step"] = 1;
    volume["mode"] = "slider";
    volume["state_topic"] = state_topic(options, "volume");
    volume["command_topic"] = command_topic(options, "volume");
    volume["icon"] = "mdi:volume-high";
    out.emplace_back(config_topic(options, "number", "volume"), volume.dump());

    struct SensorInfo {
        const char *object, *name, *unit, *icon;
    };
    for (const SensorInfo &sensor : {SensorInfo{"text", "Text", nullptr, "mdi:text"},
                                     SensorInfo{"artist", "Artist", nullptr, "mdi:account-music"},
                                     SensorInfo{"title", "Title", nullptr, "mdi:music-note"},
                                     SensorInfo{"snr", "SNR", "dB", "mdi:signal"},
                                     SensorInfo{"rssi", "RSSI", "dBµV", "mdi:signal"},
                                     SensorInfo{"fic_quality", "FIC quality", "%", "mdi:signal"}}) {
        json config = entity(options, sensor.object, sensor.name);
        config["state_topic"] = state_topic(options, sensor.object);
        config["icon"] = sensor.icon;
        if (sensor.unit) {
            config["unit_of_measurement"] = sensor.unit;
            config["state_class"] = "measurement";
            config["entity_category"] = "diagnostic";
        }
        out.emplace_back(config_topic(options, "sensor", sensor.object), config.dump());
    }

    for (const auto &[object, name, icon] :
         {std::tuple{"scan", "Scan", "mdi:radar"}, std::tuple{"standby", "Standby", "mdi:power"}}) {
        json button = entity(options, object, name);
        button["command_topic"] = command_topic(options, object);
        button["payload_press"] = "PRESS";
        button["icon"] = icon;
        out.emplace_back(config_topic(options, "button", object), button.dump());
    }
    return out;
}

} // namespace tunelark::mqtt
