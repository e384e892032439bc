// SPDX-License-Identifier: GPL-3.0-or-later
// play, stop, pause, next, previous and the volume: each a command posted to
// the chip thread, answered once that thread has run it.
#include "Commands.h"

namespace tunelark::mpd {

namespace {

std::optional<Ack> play_position(Context &context, const Snapshot &snapshot, size_t position) {
    if (position >= snapshot.stations.size())
        return Ack{AckCode::Arg, "Bad song index"};
    return ack_from(context.radio.play(snapshot.stations[position].service_id));
}

// Plays what `play` with no position means: the station that played last,
// else the head of the list.
std::optional<Ack> resume(Context &context, const Snapshot &snapshot) {
    if (snapshot.state == RadioState::Playing)
        return std::nullopt;
    if (snapshot.station)
        return ack_from(context.radio.play(snapshot.station->service_id));
    if (uint32_t last = context.last_station ? context.last_station->load() : 0)
        return ack_from(context.radio.play(last));
    if (snapshot.stations.empty())
        return Ack{AckCode::NoExist, "The station list is empty"};
    return play_position(context, snapshot, 0);
}

std::optional<Ack> step(Context &context, bool forward) {
    Snapshot snapshot = context.radio.snapshot();
    size_t count = snapshot.stations.size();
    if (count == 0)
        return Ack{AckCode::NoExist, "The station list is empty"};
    std::optional<size_t> here = playing_position(snapshot);
    size_t target;
    if (!here)
        target = forward ? 0 : count - 1;
    else
        target = forward ? (*here + 1) % count : (*here + count - 1) % count;
    return play_position(context, snapshot, target);
}

std::optional<Ack> set_percent(Context &context, long percent) {
    if (percent < 0 || percent > 100)
        return Ack{AckCode::Arg, "Invalid volume value"};
    return ack_from(context.radio.set_volume(volume_from_percent(static_cast<int>(percent))));
}

} // namespace

std::optional<Ack> cmd_play(Context &context, const Args &args, std::string &) {
    Snapshot snapshot = context.radio.snapshot();
    if (args.empty())
        return resume(context, snapshot);
    auto position = parse_signed(args[0]);
    if (!position)
        return Ack{AckCode::Arg, "Integer expected: " + args[0]};
    // -1 is how clients say "whatever was playing".
    if (*position == -1)
        return resume(context, snapshot);
    if (*position < 0)
        return Ack{AckCode::Arg, "Bad song index"};
    return play_position(context, snapshot, static_cast<size_t>(*position));
}

std::optional<Ack> cmd_playid(Context &context, const Args &args, std::string &) {
    Snapshot snapshot = context.radio.snapshot();
    if (args.empty())
        return resume(context, snapshot);
    auto id = parse_signed(args[0]);
    if (!id)
        return Ack{AckCode::Arg, "Integer expected: " + args[0]};
    if (*id == -1)
        return resume(context, snapshot);
    if (*id < 1 || static_cast<unsigned long>(*id) > snapshot.stations.size())
        return Ack{AckCode::NoExist, "No such song"};
    return play_position(context, snapshot, static_cast<size_t>(*id - 1));
}

std::optional<Ack> cmd_stop(Context &context, const Args &, std::string &) {
    return ack_from(context.radio.standby());
}

std::optional<Ack> cmd_pause(Context &context, const Args &args, std::string &) {
    Snapshot snapshot = context.radio.snapshot();
    bool to_pause = snapshot.state == RadioState::Playing;
    if (!args.empty()) {
        if (args[0] != "0" && args[0] != "1")
            return Ack{AckCode::Arg, "Boolean (0/1) expected: " + args[0]};
        to_pause = args[0] == "1";
    }
    // A radio cannot hold a broadcast: a pause is standby, and ending it
    // tunes the station again.
    if (to_pause)
        return snapshot.state == RadioState::Standby ? std::nullopt
                                                     : ack_from(context.radio.standby());
    return resume(context, snapshot);
}

std::optional<Ack> cmd_next(Context &context, const Args &, std::string &) {
    return step(context, true);
}

std::optional<Ack> cmd_previous(Context &context, const Args &, std::string &) {
    return step(context, false);
}

std::optional<Ack> cmd_setvol(Context &context, const Args &args, std::string &) {
    auto percent = parse_signed(args[0]);
    if (!percent)
        return Ack{AckCode::Arg, "Integer expected: " + args[0]};
    return set_percent(context, *percent);
}

std::optional<Ack> cmd_volume(Context &context, const Args &args, std::string &) {
    auto change = parse_signed(args[0]);
    if (!change || *change < -100 || *change > 100)
        return Ack{AckCode::Arg, "Integer expected: " + args[0]};
    long percent = percent_from_volume(context.radio.snapshot().volume) + *change;
    return set_percent(context, std::clamp(percent, 0L, 100L));
}

std::optional<Ack> cmd_getvol(Context &context, const Args &, std::string &out) {
    append_field(out, "volume",
                 std::to_string(percent_from_volume(context.radio.snapshot().volume)));
    return std::nullopt;
}

} // namespace tunelark::mpd
