// SPDX-License-Identifier: GPL-3.0-or-later
// The MPD commands the radio answers, one table of them, and what every group
// shares: the station list as the queue, the volume in percent.
#pragma once

#include "Protocol.h"
#include "daemon/Radio.h"

#include <atomic>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tunelark::mpd {

// What a command sees of its connection.
struct Context {
    Radio &radio;
    std::function<bool(std::string_view)> check_token;
    // The service id of the station that played last, 0 before any: the
    // radio forgets it in standby, and `play` should bring it back.
    std::shared_ptr<const std::atomic<uint32_t>> last_station;
    bool authenticated = false;
};

using Args = std::vector<std::string>;
using Handler = std::optional<Ack> (*)(Context &, const Args &, std::string &out);

struct CommandInfo {
    const char *name;
    // ping, close, password and commands: all a client has before `password`.
    bool open;
    unsigned min_args;
    unsigned max_args;
    // Null for the commands the session itself runs (idle, lists, close).
    Handler handler;
};

// Every command, in the order `commands` lists them.
std::span<const CommandInfo> command_table();
const CommandInfo *find_command(std::string_view name);

// The queue is the station list: position i has song id i + 1, so an id
// stays valid exactly as long as the list (and the playlist version) does.
unsigned long song_id(size_t position);
// Where the playing station stands in the list, if it is there.
std::optional<size_t> playing_position(const Snapshot &snapshot);
std::string station_uri(uint32_t service_id);
// The queue entry: file, Name and Title from the label, Pos and Id.
void append_song(std::string &out, const Snapshot &snapshot, size_t position);
uint32_t playlist_version(const Snapshot &snapshot);

// MPD's 0-100 against the chip's 0-63. Each chip step has its own percent,
// and a percent read back maps onto the same step again.
int percent_from_volume(int volume);
int volume_from_percent(int percent);

// The radio's refusal as the protocol's error.
std::optional<Ack> ack_from(const Result &result);

// The groups, each in its own file.
std::optional<Ack> cmd_play(Context &, const Args &, std::string &);
std::optional<Ack> cmd_playid(Context &, const Args &, std::string &);
std::optional<Ack> cmd_stop(Context &, const Args &, std::string &);
std::optional<Ack> cmd_pause(Context &, const Args &, std::string &);
std::optional<Ack> cmd_next(Context &, const Args &, std::string &);
std::optional<Ack> cmd_previous(Context &, const Args &, std::string &);
std::optional<Ack> cmd_setvol(Context &, const Args &, std::string &);
std::optional<Ack> cmd_volume(Context &, const Args &, std::string &);
std::optional<Ack> cmd_getvol(Context &, const Args &, std::string &);

std::optional<Ack> cmd_status(Context &, const Args &, std::string &);
std::optional<Ack> cmd_currentsong(Context &, const Args &, std::string &);
std::optional<Ack> cmd_playlistinfo(Context &, const Args &, std::string &);
std::optional<Ack> cmd_playlistid(Context &, const Args &, std::string &);
std::optional<Ack> cmd_plchanges(Context &, const Args &, std::string &);
std::optional<Ack> cmd_plchangesposid(Context &, const Args &, std::string &);
std::optional<Ack> cmd_listplaylists(Context &, const Args &, std::string &);

std::optional<Ack> cmd_ping(Context &, const Args &, std::string &);
std::optional<Ack> cmd_password(Context &, const Args &, std::string &);
std::optional<Ack> cmd_commands(Context &, const Args &, std::string &);
std::optional<Ack> cmd_notcommands(Context &, const Args &, std::string &);
std::optional<Ack> cmd_tagtypes(Context &, const Args &, std::string &);
std::optional<Ack> cmd_outputs(Context &, const Args &, std::string &);

} // namespace tunelark::mpd
