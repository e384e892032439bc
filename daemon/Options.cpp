// SPDX-License-Identifier: GPL-3.0-or-later
#include "Options.h"

#include <arpa/inet.h>

#include <cstring>
#include <string_view>

namespace tunelark {

const char USAGE[] =
    "Usage: tunelarkd [OPTION]...\n"
    "The DAB+ radio as a service: the chip plays, a browser or a phone is the remote.\n"
    "\n"
    "  --state-dir DIR          station list, token and last station (default /var/lib/tunelark)\n"
    "  --listen ADDR:PORT       where the web remote listens, repeatable\n"
    "                           (default 0.0.0.0:8080; [::]:8080 for IPv6)\n"
    "  --pair                   print the pairing address and its QR code, then exit\n"
    "  --mpd ADDR:PORT          also answer MPD clients there\n"
    "  --mqtt HOST:PORT         publish to and take commands from an MQTT broker\n"
    "  --mqtt-user USER         the broker's user name\n"
    "  --mqtt-password-file F   a file holding the broker's password\n"
    "  --mqtt-prefix PREFIX     the topics' prefix (default tunelark/<hostname>)\n"
    "  --help                   this text\n"
    "  --version                the version\n";

std::optional<ListenAddress> parse_listen_address(const std::string &text) {
    ListenAddress address;
    std::string port;
    if (!text.empty() && text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return std::nullopt;
        }
        address.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
        address.ipv6 = true;
    } else {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos || text.find(':') != colon) {
            return std::nullopt;
        }
        address.host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    unsigned char buffer[sizeof(in6_addr)];
    if (inet_pton(address.ipv6 ? AF_INET6 : AF_INET, address.host.c_str(), buffer) != 1) {
        return std::nullopt;
    }
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535) {
        return std::nullopt;
    }
    address.port = static_cast<unsigned>(number);
    return address;
}

namespace {

std::optional<std::pair<std::string, unsigned>> parse_host_port(const std::string &text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return std::nullopt;
    }
    const std::string port = text.substr(colon + 1);
    if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    const unsigned long number = std::stoul(port);
    if (number == 0 || number > 65535) {
        return std::nullopt;
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    return std::make_pair(host, static_cast<unsigned>(number));
}

} // namespace

std::optional<Options> parse_options(int argc, char **argv, std::string *error) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        std::string value;
        bool has_value = false;
        std::string_view name = arg;
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
            name = arg.substr(0, equals);
            value = std::string(arg.substr(equals + 1));
            has_value = true;
        }
        auto take = [&]() -> bool {
            if (has_value) {
                return true;
            }
            if (i + 1 >= argc) {
                *error = "The option " + std::string(name) + " needs a value.";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--pair") {
            options.pair = true;
        } else if (name == "--state-dir") {
            if (!take()) {
                return std::nullopt;
            }
            if (value.empty()) {
                *error = "The state directory cannot be empty.";
                return std::nullopt;
            }
            options.state_dir = value;
        } else if (name == "--listen" || name == "--mpd") {
            if (!take()) {
                return std::nullopt;
            }
            auto address = parse_listen_address(value);
            if (!address) {
                *error =
                    "\"" + value + "\" is not an address and port like 0.0.0.0:8080 or [::]:8080.";
                return std::nullopt;
            }
            if (name == "--listen") {
                options.listen.push_back(*address);
            } else {
                options.mpd = *address;
            }
        } else if (name == "--mqtt") {
            if (!take()) {
                return std::nullopt;
            }
            auto host_port = parse_host_port(value);
            if (!host_port) {
                *error = "\"" + value + "\" is not a host and port like broker.lan:1883.";
                return std::nullopt;
            }
            options.mqtt_host = host_port->first;
            options.mqtt_port = host_port->second;
        } else if (name == "--mqtt-user") {
            if (!take()) {
                return std::nullopt;
            }
            options.mqtt_user = value;
        } else if (name == "--mqtt-password-file") {
            if (!take()) {
                return std::nullopt;
            }
            options.mqtt_password_file = value;
        } else if (name == "--mqtt-prefix") {
            if (!take()) {
                return std::nullopt;
            }
            options.mqtt_prefix = value;
        } else {
            *error = "Unknown option \"" + std::string(arg) + "\". Try tunelarkd --help.";
            return std::nullopt;
        }
    }
    if (options.listen.empty()) {
        options.listen.push_back({"0.0.0.0", 8080, false});
    }
    return options;
}

} // namespace tunelark
