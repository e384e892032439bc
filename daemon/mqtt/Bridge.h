// SPDX-License-Identifier: GPL-3.0-or-later
// The radio on an MQTT broker: retained state topics, command topics, an
// availability topic with a last will, and Home Assistant's discovery.
// libmosquitto's own thread talks to the broker; one thread of ours turns
// snapshots into publishes and runs the commands, so neither a slow broker
// nor a slow chip ever holds up the other.
#pragma once

#include "daemon/Radio.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace tunelark::mqtt {

struct Options {
    std::string host = "127.0.0.1";
    int port = 1883;
    std::string user;     // none when empty
    std::string password; // the password file's first line
    // Every topic of this radio starts here; "tunelark/<hostname>".
    std::string prefix;
    // One radio's device in Home Assistant: its id (letters, digits, _) and
    // the name a person sees.
    std::string node_id;
    std::string device_name;
    std::string version;
    // Reconnection back-off, from `reconnect_min_s` doubling to the max.
    int reconnect_min_s = 1;
    int reconnect_max_s = 30;
};

// The password on the file's first line. Throws std::runtime_error with a
// sentence when the file cannot be read.
std::string read_password_file(const std::string &path);
// Letters, digits and underscores only, as discovery topics want them.
std::string node_id_from(const std::string &hostname);

class Bridge {
public:
    // Starts connecting at once and returns; a broker that is not there is
    // retried in the background.
    Bridge(Radio &radio, Options options);
    ~Bridge();
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

private:
    struct Shared;
    void run();
    void first_connect(std::chrono::steady_clock::time_point &wake);
    void publish_changes(const Snapshot &snapshot, std::chrono::steady_clock::time_point &wake);
    void publish_discovery(const Snapshot &snapshot);
    void run_command(const std::string &topic, const std::string &payload);
    bool publish(const std::string &topic, const std::string &payload);

    static void on_connect(mosquitto *, void *self, int rc);
    static void on_disconnect(mosquitto *, void *self, int rc);
    static void on_message(mosquitto *, void *self, const mosquitto_message *message);

    Radio &radio_;
    Options options_;
    mosquitto *client_ = nullptr;
    std::shared_ptr<Shared> shared_;
    // Owned by the worker thread.
    struct Sent {
        std::string payload;
        std::chrono::steady_clock::time_point at;
    };
    std::map<std::string, Sent> sent_;
    uint64_t discovered_stations_ = ~uint64_t{0};
    bool looping_ = false; // libmosquitto's thread runs, and reconnects by itself
    std::chrono::steady_clock::time_point next_attempt_{};
    std::chrono::seconds retry_delay_{1};
    std::thread worker_;
};

} // namespace tunelark::mqtt
