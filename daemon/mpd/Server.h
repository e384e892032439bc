// SPDX-License-Identifier: GPL-3.0-or-later
// The MPD server: a listening socket, a thread per client, and the web
// remote's limits on both.
#pragma once

#include "daemon/Radio.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace tunelark::mpd {

struct Limits {
    unsigned connections = 64;
    unsigned per_address = 16;
    // A client that sends no whole line for this long is cut off, unless it
    // waits in idle, which is what idle is for.
    int idle_timeout_ms = 15000;
    // Longer lines are answered with an error and skipped.
    size_t line_bytes = 8192;
};

class Server {
public:
    // `listen` is ADDR:PORT ("127.0.0.1:6600", "[::]:6600", port 0 for any).
    // Throws std::runtime_error with a sentence when it cannot listen there.
    Server(Radio &radio, std::function<bool(std::string_view)> check_token,
           const std::string &listen, Limits limits = {});
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    uint16_t port() const { return port_; }

private:
    struct Wakers;
    struct Connection {
        int fd = -1;
        int wake = -1;
        std::string address;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void accept_loop();
    void accept_one();
    void serve(Connection &connection);
    void reap();

    Radio &radio_;
    std::function<bool(std::string_view)> check_token_;
    Limits limits_;
    int listen_fd_ = -1;
    int stop_fd_ = -1;
    int reap_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::shared_ptr<Wakers> wakers_;
    std::shared_ptr<std::atomic<uint32_t>> last_station_;
    std::mutex mutex_; // guards connections_ and per_address_
    std::list<Connection> connections_;
    std::map<std::string, unsigned> per_address_;
    std::thread acceptor_;
};

} // namespace tunelark::mpd
