// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bridge.h"

#include "Topics.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <mosquitto.h>
#include <stdexcept>

namespace tunelark::mqtt {

namespace {

using Clock = std::chrono::steady_clock;

// In steady play a topic changes at most this often on the broker: the
// reception and a fast-changing text are held back, never lost.
constexpr auto topic_interval = std::chrono::seconds(1);
constexpr int keepalive_s = 30;
constexpr int qos = 1;

std::optional<long> whole_number(const std::string &text, int base = 10) {
    long value = 0;
    std::string_view digits = text;
    if (base == 16 && (digits.starts_with("0x") || digits.starts_with("0X")))
        digits.remove_prefix(2);
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

std::string trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    size_t start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
        ++start;
    return text.substr(start);
}

} // namespace

std::string read_password_file(const std::string &path) {
    std::ifstream file(path);
    std::string line;
    if (!file || !std::getline(file, line))
        throw std::runtime_error("The MQTT password file " + path + " cannot be read");
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string node_id_from(const std::string &hostname) {
    std::string id = "tunelark_";
    for (char c : hostname)
        id.push_back(
            std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_');
    return id;
}

// What the callbacks (radio's and libmosquitto's) hand to the worker.
struct Bridge::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    bool changed = true;
    bool republish = false; // connected again: everything goes out anew
    bool rediscover = false;
    bool stopping = false;
    std::deque<std::pair<std::string, std::string>> commands;
};

Bridge::Bridge(Radio &radio, Options options)
    : radio_(radio), options_(std::move(options)), shared_(std::make_shared<Shared>()) {
    mosquitto_lib_init();
    std::string client_id = options_.node_id.empty() ? "tunelark" : options_.node_id;
    client_ = mosquitto_new(client_id.c_str(), true, this);
    if (!client_)
        throw std::runtime_error("The MQTT client cannot be made");
    std::string availability = availability_topic(options_);
    mosquitto_will_set(client_, availability.c_str(), 7, "offline", qos, true);
    if (!options_.user.empty())
        mosquitto_username_pw_set(client_, options_.user.c_str(),
                                  options_.password.empty() ? nullptr : options_.password.c_str());
    mosquitto_connect_callback_set(client_, on_connect);
    mosquitto_disconnect_callback_set(client_, on_disconnect);
    mosquitto_message_callback_set(client_, on_message);
    mosquitto_reconnect_delay_set(client_, static_cast<unsigned>(options_.reconnect_min_s),
                                  static_cast<unsigned>(options_.reconnect_max_s), true);
    std::weak_ptr<Shared> weak = shared_;
    radio_.on_change([weak](const Snapshot &) {
        if (auto shared = weak.lock()) {
            std::lock_guard lock(shared->mutex);
            shared->changed = true;
            shared->wake.notify_one();
        }
    });
    worker_ = std::thread([this] { run(); });
}

Bridge::~Bridge() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->wake.notify_one();
    }
    worker_.join();
    if (looping_) {
        // A goodbye instead of the will: the radio is gone all the same.
        std::string availability = availability_topic(options_);
        mosquitto_publish(client_, nullptr, availability.c_str(), 7, "offline", qos, true);
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
    }
    mosquitto_destroy(client_);
    mosquitto_lib_cleanup();
}

void Bridge::on_connect(mosquitto *client, void *self, int rc) {
    auto *bridge = static_cast<Bridge *>(self);
    if (rc != 0)
        return;
    for (const char *what : {"station", "volume", "standby", "scan"}) {
        std::string topic = command_topic(bridge->options_, what);
        mosquitto_subscribe(client, nullptr, topic.c_str(), qos);
    }
    mosquitto_subscribe(client, nullptr, ha_status_topic, qos);
    std::lock_guard lock(bridge->shared_->mutex);
    bridge->shared_->republish = true;
    bridge->shared_->wake.notify_one();
}

void Bridge::on_disconnect(mosquitto *, void *, int) {}

void Bridge::on_message(mosquitto *, void *self, const mosquitto_message *message) {
    auto *bridge = static_cast<Bridge *>(self);
    std::string payload(static_cast<const char *>(message->payload),
                        static_cast<size_t>(message->payloadlen));
    std::lock_guard lock(bridge->shared_->mutex);
    // A command can keep the chip thread busy for seconds (a tune): it is
    // run by the worker, so that this thread goes on answering the broker.
    bridge->shared_->commands.emplace_back(message->topic, std::move(payload));
    bridge->shared_->wake.notify_one();
}

bool Bridge::publish(const std::string &topic, const std::string &payload) {
    return mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                             payload.data(), qos, true) == MOSQ_ERR_SUCCESS;
}

void Bridge::first_connect(Clock::time_point &wake) {
    // libmosquitto retries a connection it once had, with the back-off set
    // above, but not a first one the broker refused: until then, this
    // thread retries with the same back-off. The connection is made without
    // waiting, so neither this thread nor a stopping service hangs on a
    // broker that does not answer.
    Clock::time_point now = Clock::now();
    if (now < next_attempt_) {
        wake = std::min(wake, next_attempt_);
        return;
    }
    if (mosquitto_connect_async(client_, options_.host.c_str(), options_.port, keepalive_s) ==
            MOSQ_ERR_SUCCESS &&
        mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS) {
        looping_ = true;
        return;
    }
    next_attempt_ = now + retry_delay_;
    retry_delay_ = std::min(retry_delay_ * 2, std::chrono::seconds(options_.reconnect_max_s));
    wake = std::min(wake, next_attempt_);
}

void Bridge::run() {
    Clock::time_point wake = Clock::time_point::max();
    retry_delay_ = std::chrono::seconds(options_.reconnect_min_s);
    std::unique_lock lock(shared_->mutex);
    for (;;) {
        shared_->wake.wait_until(lock, wake, [&] {
            return shared_->stopping || shared_->changed || shared_->republish ||
                   shared_->rediscover || !shared_->commands.empty() || Clock::now() >= wake;
        });
        if (shared_->stopping)
            return;
        wake = Clock::time_point::max();
        if (!looping_) {
            lock.unlock();
            first_connect(wake);
            lock.lock();
        }
        bool republish = std::exchange(shared_->republish, false);
        bool rediscover = std::exchange(shared_->rediscover, false);
        shared_->changed = false;
        auto commands = std::move(shared_->commands);
        shared_->commands.clear();
        lock.unlock();

        for (const auto &[topic, payload] : commands)
            run_command(topic, payload);
        Snapshot snapshot = radio_.snapshot();
        if (republish) {
            sent_.clear();
            publish(availability_topic(options_), "online");
        }
        if (republish || rediscover || snapshot.stations_version != discovered_stations_)
            publish_discovery(snapshot);
        publish_changes(snapshot, wake);
        lock.lock();
    }
}

void Bridge::publish_changes(const Snapshot &snapshot, Clock::time_point &wake) {
    Clock::time_point now = Clock::now();
    for (const auto &[topic, payload] : state_messages(options_, snapshot)) {
        auto it = sent_.find(topic);
        if (it != sent_.end() && it->second.payload == payload)
            continue;
        if (it != sent_.end() && now - it->second.at < topic_interval) {
            wake = std::min(wake, it->second.at + topic_interval);
            continue;
        }
        // Unsent while the broker is away: the reconnection sends it.
        if (publish(topic, payload))
            sent_[topic] = {payload, now};
    }
}

void Bridge::publish_discovery(const Snapshot &snapshot) {
    bool all = true;
    for (const auto &[topic, payload] : discovery_messages(options_, snapshot))
        all = publish(topic, payload) && all;
    if (all)
        discovered_stations_ = snapshot.stations_version;
}

void Bridge::run_command(const std::string &topic, const std::string &payload) {
    if (topic == ha_status_topic) {
        // Home Assistant came back and has forgotten us until told again.
        if (trimmed(payload) == "online") {
            std::lock_guard lock(shared_->mutex);
            shared_->rediscover = true;
            shared_->changed = true;
            sent_.clear();
        }
        return;
    }
    std::string value = trimmed(payload);
    if (topic == command_topic(options_, "station")) {
        Snapshot snapshot = radio_.snapshot();
        for (const Station &station : snapshot.stations)
            if (station.label == value || trimmed(station.label) == value) {
                radio_.play(station.service_id);
                return;
            }
        auto id = whole_number(value);
        if (!id && (value.starts_with("0x") || value.starts_with("0X")))
            id = whole_number(value, 16);
        if (id && *id >= 0)
            radio_.play(static_cast<uint32_t>(*id));
    } else if (topic == command_topic(options_, "volume")) {
        // Home Assistant's number sends "40" or "40.0".
        std::string whole = value.substr(0, value.find('.'));
        if (auto volume = whole_number(whole); volume && *volume >= 0 && *volume <= 63)
            radio_.set_volume(static_cast<int>(*volume));
    } else if (topic == command_topic(options_, "standby")) {
        radio_.standby();
    } else if (topic == command_topic(options_, "scan")) {
        radio_.scan();
    }
}

} // namespace tunelark::mqtt
