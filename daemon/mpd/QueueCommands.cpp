// SPDX-License-Identifier: GPL-3.0-or-later
// status, currentsong and the queue: what a client reads, all from one
// snapshot per command so that the fields of a reply agree with each other.
#include "Commands.h"

#include <climits>

namespace tunelark::mpd {

namespace {

const char *player_state(RadioState state) {
    return state == RadioState::Playing ? "play" : "stop";
}

// What currentsong calls the title: the song from DL Plus when the station
// tags it, else the broadcast text, else the station's own name.
std::string now_playing_title(const Snapshot &snapshot) {
    if (snapshot.now_playing && !snapshot.now_playing->title.empty()) {
        if (snapshot.now_playing->artist.empty())
            return snapshot.now_playing->title;
        return snapshot.now_playing->artist + " \u2013 " + snapshot.now_playing->title;
    }
    if (!snapshot.text.empty())
        return snapshot.text;
    return snapshot.station ? snapshot.station->label : std::string();
}

void append_songs(std::string &out, const Snapshot &snapshot, unsigned long start,
                  unsigned long end) {
    for (unsigned long i = start; i < end && i < snapshot.stations.size(); ++i)
        append_song(out, snapshot, i);
}

std::optional<Ack> changes(Context &context, const Args &args, std::string &out, bool positions) {
    auto since = parse_unsigned(args[0]);
    if (!since)
        return Ack{AckCode::Arg, "Integer expected: " + args[0]};
    Range range{0, ULONG_MAX};
    if (args.size() > 1) {
        auto given = parse_range(args[1]);
        if (!given)
            return Ack{AckCode::Arg, "Bad range: " + args[1]};
        range = *given;
    }
    Snapshot snapshot = context.radio.snapshot();
    // The list only ever changes as a whole (a scan), so a client either
    // holds this version or needs every entry.
    if (*since == playlist_version(snapshot))
        return std::nullopt;
    for (unsigned long i = range.start; i < range.end && i < snapshot.stations.size(); ++i) {
        if (positions) {
            append_field(out, "cpos", std::to_string(i));
            append_field(out, "Id", std::to_string(song_id(i)));
        } else {
            append_song(out, snapshot, i);
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<Ack> cmd_status(Context &context, const Args &, std::string &out) {
    Snapshot snapshot = context.radio.snapshot();
    append_field(out, "volume", std::to_string(percent_from_volume(snapshot.volume)));
    // Home Assistant reads these four without looking first.
    out += "repeat: 0\nrandom: 0\nsingle: 0\nconsume: 0\n";
    append_field(out, "playlist", std::to_string(playlist_version(snapshot)));
    append_field(out, "playlistlength", std::to_string(snapshot.stations.size()));
    append_field(out, "state", player_state(snapshot.state));
    if (auto position = playing_position(snapshot)) {
        append_field(out, "song", std::to_string(*position));
        append_field(out, "songid", std::to_string(song_id(*position)));
        size_t next = (*position + 1) % snapshot.stations.size();
        append_field(out, "nextsong", std::to_string(next));
        append_field(out, "nextsongid", std::to_string(song_id(next)));
    }
    if (snapshot.state == RadioState::NoReceiver)
        append_field(out, "error",
                     snapshot.notice.empty() ? "The receiver does not answer" : snapshot.notice);
    return std::nullopt;
}

std::optional<Ack> cmd_currentsong(Context &context, const Args &, std::string &out) {
    Snapshot snapshot = context.radio.snapshot();
    if (!snapshot.station)
        return std::nullopt;
    append_field(out, "file", station_uri(snapshot.station->service_id));
    append_field(out, "Name", snapshot.station->label);
    append_field(out, "Title", now_playing_title(snapshot));
    if (auto position = playing_position(snapshot)) {
        append_field(out, "Pos", std::to_string(*position));
        append_field(out, "Id", std::to_string(song_id(*position)));
    }
    return std::nullopt;
}

std::optional<Ack> cmd_playlistinfo(Context &context, const Args &args, std::string &out) {
    Range range{0, ULONG_MAX};
    if (!args.empty()) {
        auto given = parse_range(args[0]);
        if (!given)
            return Ack{AckCode::Arg, "Bad range: " + args[0]};
        range = *given;
    }
    Snapshot snapshot = context.radio.snapshot();
    if (!args.empty() && range.end == range.start + 1 && range.start >= snapshot.stations.size())
        return Ack{AckCode::Arg, "Bad song index"};
    append_songs(out, snapshot, range.start, range.end);
    return std::nullopt;
}

std::optional<Ack> cmd_playlistid(Context &context, const Args &args, std::string &out) {
    Snapshot snapshot = context.radio.snapshot();
    if (args.empty()) {
        append_songs(out, snapshot, 0, snapshot.stations.size());
        return std::nullopt;
    }
    auto id = parse_unsigned(args[0]);
    if (!id)
        return Ack{AckCode::Arg, "Integer expected: " + args[0]};
    if (*id < 1 || *id > snapshot.stations.size())
        return Ack{AckCode::NoExist, "No such song"};
    append_song(out, snapshot, *id - 1);
    return std::nullopt;
}

std::optional<Ack> cmd_plchanges(Context &context, const Args &args, std::string &out) {
    return changes(context, args, out, false);
}

std::optional<Ack> cmd_plchangesposid(Context &context, const Args &args, std::string &out) {
    return changes(context, args, out, true);
}

std::optional<Ack> cmd_listplaylists(Context &, const Args &, std::string &) {
    // No stored playlists: the station list is the queue. An empty answer
    // keeps clients that poll for playlists quiet.
    return std::nullopt;
}

} // namespace tunelark::mpd
