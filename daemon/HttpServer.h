// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote's HTTP side: the JSON API under /api/v1/, its event stream,
// pairing and the embedded page. It reads snapshots and posts commands; it
// never touches the chip.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Options.h"
#include "Radio.h"

namespace tunelark {

// The limits a client meets.
constexpr unsigned HTTP_CONNECTION_LIMIT = 64;
constexpr unsigned HTTP_PER_ADDRESS_LIMIT = 16;
constexpr unsigned HTTP_EVENT_STREAM_LIMIT = 32;
constexpr unsigned HTTP_IDLE_TIMEOUT_S = 15;
constexpr std::size_t HTTP_BODY_LIMIT = 4096;
constexpr unsigned HTTP_KEEP_ALIVE_S = 15;

class HttpServer {
public:
    HttpServer(Radio &radio, std::string token, std::string hostname);
    ~HttpServer();
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Listens on every address; false with a sentence when one cannot be had.
    bool start(const std::vector<ListenAddress> &listen, std::string *error);
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// True when a Host header names this machine: an IP literal, localhost, the
// host name or <hostname>.local (any port, any case).
bool host_allowed(const std::string &host, const std::string &hostname);

} // namespace tunelark
