// SPDX-License-Identifier: GPL-3.0-or-later
#include "Session.h"

#include <array>

namespace tunelark::mpd {

namespace {

// A command list is held until its end: past this it is refused, so that a
// client cannot make the server keep an endless list.
constexpr size_t list_limit_bytes = 64 * 1024;

constexpr std::array<std::pair<const char *, unsigned>, 14> subsystems{{
    {"player", SubsystemPlayer},
    {"mixer", SubsystemMixer},
    {"playlist", SubsystemPlaylist},
    {"database", SubsystemOther},
    {"update", SubsystemOther},
    {"stored_playlist", SubsystemOther},
    {"output", SubsystemOther},
    {"options", SubsystemOther},
    {"partition", SubsystemOther},
    {"sticker", SubsystemOther},
    {"subscription", SubsystemOther},
    {"message", SubsystemOther},
    {"neighbor", SubsystemOther},
    {"mount", SubsystemOther},
}};

} // namespace

Session::Session(Radio &radio, std::function<bool(std::string_view)> check_token,
                 std::shared_ptr<const std::atomic<uint32_t>> last_station)
    : context_{radio, std::move(check_token), std::move(last_station)},
      reported_(marks_of(radio.snapshot())) {}

Session::Marks Session::marks_of(const Snapshot &snapshot) {
    // What a player client redraws: the state, the station and its text.
    // The reception and the scan's progress change all the time and are not
    // worth waking anyone for.
    Marks marks;
    marks.player = state_name(snapshot.state);
    marks.player += '\n';
    if (snapshot.station)
        marks.player += std::to_string(snapshot.station->service_id) + ":" +
                        std::to_string(snapshot.station->frequency_khz);
    marks.player += '\n';
    marks.player += snapshot.text;
    if (snapshot.now_playing)
        marks.player += '\n' + snapshot.now_playing->artist + '\n' + snapshot.now_playing->title;
    marks.mixer = snapshot.volume;
    marks.playlist = snapshot.stations_version;
    return marks;
}

bool Session::idle_changes(const Snapshot &snapshot, std::string &out) {
    Marks now = marks_of(snapshot);
    unsigned changed = 0;
    if (now.player != reported_.player)
        changed |= SubsystemPlayer;
    if (now.mixer != reported_.mixer)
        changed |= SubsystemMixer;
    if (now.playlist != reported_.playlist)
        changed |= SubsystemPlaylist;
    changed &= idle_mask_;
    if (!changed)
        return false;
    // Only what was reported counts as seen: a change of a subsystem this
    // idle did not ask for waits for an idle that does.
    if (changed & SubsystemPlaylist) {
        out += "changed: playlist\n";
        reported_.playlist = now.playlist;
    }
    if (changed & SubsystemPlayer) {
        out += "changed: player\n";
        reported_.player = now.player;
    }
    if (changed & SubsystemMixer) {
        out += "changed: mixer\n";
        reported_.mixer = now.mixer;
    }
    out += "OK\n";
    idle_mask_ = 0;
    return true;
}

Session::After Session::handle_line(std::string_view line, std::string &out) {
    After after = After::Reply;
    if (idling()) {
        // The only thing a client may say while idle is noidle; anything else
        // ends the idle as noidle would, and is then run.
        idle_mask_ = 0;
        out += "OK\n";
        std::string ignored;
        auto command = parse_line(line, ignored);
        if (command && command->name == "noidle")
            return after;
    }
    std::string error;
    auto command = parse_line(line, error);
    if (in_list_) {
        if (command && command->name == "command_list_end") {
            end_list(out, after);
            return after;
        }
        list_bytes_ += line.size() + sizeof(Command);
        if (list_bytes_ > list_limit_bytes && list_error_.empty())
            list_error_ = "Command list too long";
        if (list_error_.empty())
            list_.push_back(command ? std::move(*command) : Command{"", {error}});
        return after;
    }
    if (!command) {
        out += format_ack({error == "No command given" ? AckCode::Unknown : AckCode::Arg, error}, 0,
                          "");
        return after;
    }
    if (command->name == "command_list_begin" || command->name == "command_list_ok_begin") {
        if (!command->args.empty()) {
            out += format_ack({AckCode::Arg, "too many arguments"}, 0, command->name);
            return after;
        }
        in_list_ = true;
        list_ok_ = command->name == "command_list_ok_begin";
        return after;
    }
    if (command->name == "noidle")
        return after; // not idling: nothing to end, and nothing to answer
    bool failed = false;
    run(*command, 0, out, failed, after);
    if (!failed && after == After::Reply)
        out += "OK\n";
    return after;
}

void Session::end_list(std::string &out, After &after) {
    in_list_ = false;
    std::vector<Command> list = std::move(list_);
    list_.clear();
    list_bytes_ = 0;
    if (!list_error_.empty()) {
        out += format_ack({AckCode::Arg, list_error_}, 0, "command_list_end");
        list_error_.clear();
        return;
    }
    bool failed = false;
    for (unsigned i = 0; i < list.size() && !failed && after == After::Reply; ++i) {
        const Command &command = list[i];
        if (command.name.empty()) {
            out += format_ack({AckCode::Arg, command.args[0]}, i, "");
            return;
        }
        if (command.name == "idle" || command.name == "noidle" ||
            command.name.starts_with("command_list")) {
            out += format_ack({AckCode::Arg, "not allowed in a command list"}, i, command.name);
            return;
        }
        run(command, i, out, failed, after);
        if (!failed && list_ok_ && after == After::Reply)
            out += "list_OK\n";
    }
    if (!failed && after == After::Reply)
        out += "OK\n";
}

void Session::run(const Command &command, unsigned index, std::string &out, bool &failed,
                  After &after) {
    auto fail = [&](AckCode code, std::string message) {
        out += format_ack({code, std::move(message)}, index, command.name);
        failed = true;
    };
    const CommandInfo *info = find_command(command.name);
    if (!info) {
        fail(AckCode::Unknown, "unknown command \"" + command.name + "\"");
        return;
    }
    if (!info->open && !context_.authenticated) {
        fail(AckCode::Permission, "you don't have permission for \"" + command.name + "\"");
        return;
    }
    if (command.args.size() < info->min_args || command.args.size() > info->max_args) {
        fail(AckCode::Arg, "wrong number of arguments for \"" + command.name + "\"");
        return;
    }
    if (command.name == "close") {
        after = After::Close;
        return;
    }
    if (command.name == "idle") {
        unsigned mask = 0;
        for (const std::string &name : command.args) {
            unsigned bit = 0;
            for (const auto &[known, value] : subsystems)
                if (name == known)
                    bit = value;
            if (!bit) {
                fail(AckCode::Arg, "Unrecognized idle event: " + name);
                return;
            }
            mask |= bit;
        }
        idle_mask_ = command.args.empty() ? ~0u : mask;
        after = After::Idle;
        return;
    }
    std::string reply;
    if (auto ack = info->handler(context_, command.args, reply)) {
        fail(ack->code, std::move(ack->message));
        return;
    }
    out += reply;
}

} // namespace tunelark::mpd
