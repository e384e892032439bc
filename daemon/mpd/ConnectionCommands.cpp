// SPDX-License-Identifier: GPL-3.0-or-later
// What a connection asks about itself and the server: the password, the
// commands it may send, the tags and the one output.
#include "Commands.h"

namespace tunelark::mpd {

namespace {

bool allowed(const Context &context, const CommandInfo &info) {
    return context.authenticated || info.open;
}

void list_commands(const Context &context, std::string &out, bool want_allowed) {
    for (const CommandInfo &info : command_table())
        if (allowed(context, info) == want_allowed)
            append_field(out, "command", info.name);
}

} // namespace

std::optional<Ack> cmd_ping(Context &, const Args &, std::string &) {
    return std::nullopt;
}

std::optional<Ack> cmd_password(Context &context, const Args &args, std::string &) {
    if (!context.check_token || !context.check_token(args[0]))
        return Ack{AckCode::Password, "incorrect password"};
    context.authenticated = true;
    return std::nullopt;
}

std::optional<Ack> cmd_commands(Context &context, const Args &, std::string &out) {
    list_commands(context, out, true);
    return std::nullopt;
}

std::optional<Ack> cmd_notcommands(Context &context, const Args &, std::string &out) {
    list_commands(context, out, false);
    return std::nullopt;
}

std::optional<Ack> cmd_tagtypes(Context &, const Args &args, std::string &out) {
    // The tags a station has. Clients narrow or widen the set they want
    // ("tagtypes clear", "tagtypes enable Artist ..."); the replies carry
    // only these few anyway, so the choice changes nothing.
    if (args.empty()) {
        out += "tagtype: Name\ntagtype: Title\n";
        return std::nullopt;
    }
    const std::string &verb = args[0];
    if (verb == "clear" || verb == "all" || verb == "reset" || verb == "enable" ||
        verb == "disable")
        return std::nullopt;
    return Ack{AckCode::Arg, "Unknown sub command"};
}

std::optional<Ack> cmd_outputs(Context &, const Args &, std::string &out) {
    out += "outputid: 0\noutputname: Receiver audio output\nplugin: receiver\n"
           "outputenabled: 1\n";
    return std::nullopt;
}

} // namespace tunelark::mpd
