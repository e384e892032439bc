// SPDX-License-Identifier: GPL-3.0-or-later
// The service's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tunelark {

struct ListenAddress {
    std::string host; // "0.0.0.0", "::", "127.0.0.1", ... (no brackets)
    unsigned port = 0;
    bool ipv6 = false;
};

struct Options {
    std::string state_dir = "/var/lib/tunelark";
    std::vector<ListenAddress> listen; // the default when none is given
    bool pair = false;
    bool help = false;
    bool version = false;
    // The MPD and MQTT front-ends' settings.
    std::optional<ListenAddress> mpd;
    std::optional<std::string> mqtt_host;
    unsigned mqtt_port = 1883;
    std::optional<std::string> mqtt_user;
    std::optional<std::string> mqtt_password_file;
    std::string mqtt_prefix; // empty: tunelark/<hostname>
};

// "ADDR:PORT" or "[ADDR]:PORT" with a numeric address; nullopt when it is not.
std::optional<ListenAddress> parse_listen_address(const std::string &text);

// Parses argv; on a mistake returns nullopt with a sentence in *error.
std::optional<Options> parse_options(int argc, char **argv, std::string *error);

extern const char USAGE[];

} // namespace tunelark
