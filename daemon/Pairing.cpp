// SPDX-License-Identifier: GPL-3.0-or-later
#include "Pairing.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <qrencode.h>

namespace tunelark {

namespace {

std::vector<std::string> own_addresses(bool ipv6) {
    std::vector<std::string> found;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) {
        return found;
    }
    for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr ||
            entry->ifa_addr->sa_family != (ipv6 ? AF_INET6 : AF_INET)) {
            continue;
        }
        char text[INET6_ADDRSTRLEN] = {};
        if (ipv6) {
            const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(entry->ifa_addr);
            // Link-local addresses need a zone a browser's address cannot carry.
            if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr) || IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr)) {
                continue;
            }
            inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        } else {
            const auto *in4 = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
            if ((ntohl(in4->sin_addr.s_addr) >> 24) == 127) {
                continue;
            }
            inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text);
        }
        found.emplace_back(text);
    }
    freeifaddrs(list);
    if (found.empty()) {
        found.emplace_back(ipv6 ? "::1" : "127.0.0.1");
    }
    return found;
}

} // namespace

std::vector<std::string> pairing_urls(const std::vector<ListenAddress> &listen,
                                      const std::string &token) {
    std::vector<std::string> urls;
    for (const ListenAddress &address : listen) {
        const bool wildcard = address.host == "0.0.0.0" || address.host == "::";
        const std::vector<std::string> hosts =
            wildcard ? own_addresses(address.ipv6) : std::vector<std::string>{address.host};
        for (const std::string &host : hosts) {
            const std::string shown = address.ipv6 ? "[" + host + "]" : host;
            urls.push_back("http://" + shown + ":" + std::to_string(address.port) +
                           "/pair?token=" + token);
        }
    }
    return urls;
}

std::string qr_code_text(const std::string &text) {
    QRcode *code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (code == nullptr) {
        return {};
    }
    // Dark modules on a light quiet zone of two modules: cameras read a
    // terminal's light-on-dark as well when the border is there.
    const int quiet = 2;
    const int size = code->width + 2 * quiet;
    auto dark = [&](int x, int y) {
        x -= quiet;
        y -= quiet;
        if (x < 0 || y < 0 || x >= code->width || y >= code->width) {
            return false;
        }
        return (code->data[y * code->width + x] & 1) != 0;
    };
    std::string out;
    for (int y = 0; y < size; y += 2) {
        for (int x = 0; x < size; ++x) {
            const bool top = dark(x, y);
            const bool bottom = y + 1 < size && dark(x, y + 1);
            // Light modules are drawn, dark ones left blank, for a terminal
            // with a dark background.
            if (!top && !bottom) {
                out += "\u2588";
            } else if (!top) {
                out += "\u2580";
            } else if (!bottom) {
                out += "\u2584";
            } else {
                out += " ";
            }
        }
        out += "\n";
    }
    QRcode_free(code);
    return out;
}

} // namespace tunelark
