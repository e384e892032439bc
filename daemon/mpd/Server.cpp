// SPDX-License-Identifier: GPL-3.0-or-later
#include "Server.h"

#include "Session.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tunelark::mpd {

namespace {

// The protocol version we speak: clients enable what they send by it
// (mpc's "tagtypes clear" needs 0.21).
constexpr const char *greeting = "OK MPD 0.23.5\n";

void signal_fd(int fd) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fd, &one, sizeof one);
}

void drain_fd(int fd) {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(fd, &count, sizeof count);
}

bool send_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::pair<std::string, std::string> split_address(const std::string &listen) {
    size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon + 1 == listen.size())
        throw std::runtime_error("The MPD address " + listen + " has no port (ADDR:PORT)");
    std::string host = listen.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return {host, listen.substr(colon + 1)};
}

std::string peer_address(const sockaddr_storage &peer, socklen_t length) {
    char host[NI_MAXHOST] = "";
    if (getnameinfo(reinterpret_cast<const sockaddr *>(&peer), length, host, sizeof host, nullptr,
                    0, NI_NUMERICHOST) != 0)
        return "?";
    return host;
}

} // namespace

// The eventfds of the connections, woken on every change of the radio. The
// radio keeps its listener as long as it lives, so the set outlives the
// server behind a shared pointer.
struct Server::Wakers {
    std::mutex mutex;
    std::set<int> fds;
};

Server::Server(Radio &radio, std::function<bool(std::string_view)> check_token,
               const std::string &listen, Limits limits)
    : radio_(radio), check_token_(std::move(check_token)), limits_(limits),
      wakers_(std::make_shared<Wakers>()),
      last_station_(std::make_shared<std::atomic<uint32_t>>(0)) {
    auto [host, port] = split_address(listen);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo *found = nullptr;
    int error = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
    if (error != 0)
        throw std::runtime_error("The MPD address " + listen +
                                 " cannot be used: " + gai_strerror(error));
    std::string why = "no address";
    for (addrinfo *a = found; a && listen_fd_ < 0; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            continue;
        int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && ::listen(fd, 64) == 0) {
            listen_fd_ = fd;
            break;
        }
        why = std::strerror(errno);
        close(fd);
    }
    freeaddrinfo(found);
    if (listen_fd_ < 0)
        throw std::runtime_error("The MPD server cannot listen on " + listen + ": " + why);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&bound), &length);
    if (bound.ss_family == AF_INET6)
        port_ = ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port);
    else
        port_ = ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

    stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    reap_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::weak_ptr<Wakers> weak = wakers_;
    if (auto snapshot = radio_.snapshot(); snapshot.station)
        last_station_->store(snapshot.station->service_id);
    radio_.on_change([weak, last = last_station_](const Snapshot &snapshot) {
        if (snapshot.station)
            last->store(snapshot.station->service_id);
        if (auto wakers = weak.lock()) {
            std::lock_guard lock(wakers->mutex);
            for (int fd : wakers->fds)
                signal_fd(fd);
        }
    });
    acceptor_ = std::thread([this] { accept_loop(); });
}

Server::~Server() {
    stopping_ = true;
    signal_fd(stop_fd_);
    acceptor_.join();
    {
        std::lock_guard lock(mutex_);
        for (Connection &connection : connections_) {
            shutdown(connection.fd, SHUT_RDWR);
            signal_fd(connection.wake);
        }
    }
    for (Connection &connection : connections_)
        connection.thread.join();
    reap();
    close(listen_fd_);
    close(stop_fd_);
    close(reap_fd_);
}

void Server::accept_loop() {
    while (!stopping_) {
        pollfd fds[3] = {{listen_fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}, {reap_fd_, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0)
            continue;
        if (fds[2].revents) {
            drain_fd(reap_fd_);
            reap();
        }
        if (fds[0].revents & POLLIN)
            accept_one();
    }
}

void Server::accept_one() {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = accept4(listen_fd_, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    std::string address = peer_address(peer, length);
    std::lock_guard lock(mutex_);
    unsigned running = 0;
    for (const Connection &connection : connections_)
        running += connection.finished ? 0 : 1;
    if (running >= limits_.connections || per_address_[address] >= limits_.per_address) {
        // Said once and closed, so the client shows why instead of hanging.
        send_all(fd, "ACK [5@0] {} too many connections\n");
        close(fd);
        return;
    }
    timeval send_limit{limits_.idle_timeout_ms / 1000, (limits_.idle_timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
    ++per_address_[address];
    Connection &connection = connections_.emplace_back();
    connection.fd = fd;
    connection.wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    connection.address = address;
    {
        std::lock_guard wake_lock(wakers_->mutex);
        wakers_->fds.insert(connection.wake);
    }
    connection.thread = std::thread([this, &connection] {
        serve(connection);
        {
            std::lock_guard wake_lock(wakers_->mutex);
            wakers_->fds.erase(connection.wake);
        }
        {
            std::lock_guard lock(mutex_);
            --per_address_[connection.address];
        }
        connection.finished = true;
        signal_fd(reap_fd_);
    });
}

void Server::reap() {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
        if (!it->finished) {
            ++it;
            continue;
        }
        it->thread.join();
        close(it->fd);
        close(it->wake);
        if (per_address_[it->address] == 0)
            per_address_.erase(it->address);
        it = connections_.erase(it);
    }
}

void Server::serve(Connection &connection) {
    using Clock = std::chrono::steady_clock;
    Session session(radio_, check_token_, last_station_);
    if (!send_all(connection.fd, greeting))
        return;
    std::string input;
    std::string out;
    bool skipping = false; // inside a line that was too long
    auto deadline = Clock::now() + std::chrono::milliseconds(limits_.idle_timeout_ms);
    char buffer[4096];
    while (!stopping_) {
        int timeout = -1;
        if (!session.idling()) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0)
                return;
            timeout = static_cast<int>(left.count());
        }
        pollfd fds[2] = {{connection.fd, POLLIN, 0}, {connection.wake, POLLIN, 0}};
        int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR)
            return;
        if (stopping_)
            return;
        if (fds[1].revents & POLLIN) {
            drain_fd(connection.wake);
            out.clear();
            if (session.idling() && session.idle_changes(radio_.snapshot(), out)) {
                if (!send_all(connection.fd, out))
                    return;
                deadline = Clock::now() + std::chrono::milliseconds(limits_.idle_timeout_ms);
            }
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        ssize_t n = recv(connection.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        input.append(buffer, static_cast<size_t>(n));
        size_t newline;
        while ((newline = input.find('\n')) != std::string::npos) {
            std::string line = input.substr(0, newline);
            input.erase(0, newline + 1);
            deadline = Clock::now() + std::chrono::milliseconds(limits_.idle_timeout_ms);
            out.clear();
            Session::After after = Session::After::Reply;
            if (skipping) {
                skipping = false;
                out = "ACK [2@0] {} line too long\n";
            } else {
                after = session.handle_line(line, out);
                if (after == Session::After::Idle)
                    session.idle_changes(radio_.snapshot(), out);
            }
            if (!out.empty() && !send_all(connection.fd, out))
                return;
            if (after == Session::After::Close)
                return;
        }
        if (input.size() > limits_.line_bytes) {
            // Keep nothing of it: the rest of the line is dropped as it comes.
            skipping = true;
            input.clear();
        }
    }
}

} // namespace tunelark::mpd
