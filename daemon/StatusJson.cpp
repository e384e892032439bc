// SPDX-License-Identifier: GPL-3.0-or-later
#include "StatusJson.h"

namespace tunelark {

using nlohmann::json;

json station_json(const Station &station) {
    return {{"service_id", station.service_id},     {"label", station.label},
            {"ensemble", station.ensemble},         {"frequency_khz", station.frequency_khz},
            {"component_id", station.component_id}, {"audio", station.audio}};
}

json status_json(const Snapshot &s) {
    json status = {{"state", state_name(s.state)}};
    status["station"] = s.station ? station_json(*s.station) : json(nullptr);
    status["text"] = s.text;
    status["artist"] = s.now_playing && !s.now_playing->artist.empty() ? json(s.now_playing->artist)
                                                                       : json(nullptr);
    status["title"] =
        s.now_playing && !s.now_playing->title.empty() ? json(s.now_playing->title) : json(nullptr);
    status["volume"] = s.volume;
    status["reception"] = s.reception ? json{{"rssi", s.reception->rssi},
                                             {"snr", s.reception->snr},
                                             {"fic_quality", s.reception->fic_quality}}
                                      : json(nullptr);
    status["scan"] = s.scan ? json{{"done", s.scan->done},
                                   {"total", s.scan->total},
                                   {"ensembles", s.scan->ensembles},
                                   {"services", s.scan->services}}
                            : json(nullptr);
    status["sleep_minutes_left"] =
        s.sleep_minutes_left ? json(*s.sleep_minutes_left) : json(nullptr);
    status["stations_version"] = s.stations_version;
    status["station_count"] = s.stations.size();
    status["notice"] = s.notice.empty() ? json(nullptr) : json(s.notice);
    return status;
}

json stations_json(const Snapshot &s) {
    json list = json::array();
    for (const Station &station : s.stations) {
        json entry = station_json(station);
        entry.erase("component_id");
        list.push_back(std::move(entry));
    }
    return {{"stations", std::move(list)}};
}

} // namespace tunelark
