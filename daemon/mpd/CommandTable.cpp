// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tunelark::mpd {

namespace {

constexpr unsigned many = 64;

constexpr std::array table{
    CommandInfo{"close", true, 0, many, nullptr},
    CommandInfo{"command_list_begin", false, 0, 0, nullptr},
    CommandInfo{"command_list_end", false, 0, 0, nullptr},
    CommandInfo{"command_list_ok_begin", false, 0, 0, nullptr},
    CommandInfo{"commands", true, 0, 0, cmd_commands},
    CommandInfo{"currentsong", false, 0, 0, cmd_currentsong},
    CommandInfo{"getvol", false, 0, 0, cmd_getvol},
    CommandInfo{"idle", false, 0, many, nullptr},
    CommandInfo{"listplaylists", false, 0, 0, cmd_listplaylists},
    CommandInfo{"next", false, 0, 0, cmd_next},
    CommandInfo{"noidle", false, 0, 0, nullptr},
    CommandInfo{"notcommands", true, 0, 0, cmd_notcommands},
    CommandInfo{"outputs", false, 0, 0, cmd_outputs},
    CommandInfo{"password", true, 1, 1, cmd_password},
    CommandInfo{"pause", false, 0, 1, cmd_pause},
    CommandInfo{"ping", true, 0, 0, cmd_ping},
    CommandInfo{"play", false, 0, 1, cmd_play},
    CommandInfo{"playid", false, 0, 1, cmd_playid},
    CommandInfo{"playlistid", false, 0, 1, cmd_playlistid},
    CommandInfo{"playlistinfo", false, 0, 1, cmd_playlistinfo},
    CommandInfo{"plchanges", false, 1, 2, cmd_plchanges},
    CommandInfo{"plchangesposid", false, 1, 2, cmd_plchangesposid},
    CommandInfo{"previous", false, 0, 0, cmd_previous},
    CommandInfo{"setvol", false, 1, 1, cmd_setvol},
    CommandInfo{"status", false, 0, 0, cmd_status},
    CommandInfo{"stop", false, 0, 0, cmd_stop},
    CommandInfo{"tagtypes", false, 0, many, cmd_tagtypes},
    CommandInfo{"volume", false, 1, 1, cmd_volume},
};

} // namespace

std::span<const CommandInfo> command_table() {
    return table;
}

const CommandInfo *find_command(std::string_view name) {
    for (const CommandInfo &info : table)
        if (name == info.name)
            return &info;
    return nullptr;
}

unsigned long song_id(size_t position) {
    return position + 1;
}

std::optional<size_t> playing_position(const Snapshot &snapshot) {
    if (!snapshot.station)
        return std::nullopt;
    const Station &playing = *snapshot.station;
    std::optional<size_t> same_service;
    for (size_t i = 0; i < snapshot.stations.size(); ++i) {
        const Station &station = snapshot.stations[i];
        if (station.service_id != playing.service_id)
            continue;
        // A service carried by two ensembles is listed twice; the one on the
        // tuned frequency is the one that plays.
        if (station.frequency_khz == playing.frequency_khz)
            return i;
        if (!same_service)
            same_service = i;
    }
    return same_service;
}

std::string station_uri(uint32_t service_id) {
    return "dab://" + std::to_string(service_id);
}

void append_song(std::string &out, const Snapshot &snapshot, size_t position) {
    const Station &station = snapshot.stations[position];
    append_field(out, "file", station_uri(station.service_id));
    append_field(out, "Name", station.label);
    append_field(out, "Title", station.label);
    append_field(out, "Pos", std::to_string(position));
    append_field(out, "Id", std::to_string(song_id(position)));
}

uint32_t playlist_version(const Snapshot &snapshot) {
    // Clients take 0 for "never seen a queue": the first list is version 1.
    return static_cast<uint32_t>(snapshot.stations_version + 1);
}

int percent_from_volume(int volume) {
    return static_cast<int>(std::lround(std::clamp(volume, 0, 63) * 100.0 / 63.0));
}

int volume_from_percent(int percent) {
    return static_cast<int>(std::lround(std::clamp(percent, 0, 100) * 63.0 / 100.0));
}

std::optional<Ack> ack_from(const Result &result) {
    auto message = [&](const char *fallback) {
        return result.message.empty() ? std::string(fallback) : result.message;
    };
    switch (result.outcome) {
    case Outcome::Done:
        return std::nullopt;
    case Outcome::BadRequest:
        return Ack{AckCode::Arg, message("Invalid argument")};
    case Outcome::NoSuchStation:
        return Ack{AckCode::NoExist, message("No such song")};
    case Outcome::Busy:
        return Ack{AckCode::PlayerSync, message("The radio is busy")};
    case Outcome::NoReceiver:
        return Ack{AckCode::System, message("The receiver does not answer")};
    case Outcome::Failed:
        break;
    }
    return Ack{AckCode::System, message("The radio could not do that")};
}

} // namespace tunelark::mpd
