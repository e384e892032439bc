// SPDX-License-Identifier: GPL-3.0-or-later
// What the service's front-ends (the web remote, MPD, MQTT) see of the radio:
// a consistent snapshot the chip thread publishes after every change, and
// commands posted to that thread. Nothing but the chip thread calls the
// engine or the driver.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tunelark {

enum class RadioState { Starting, Playing, Stopped, Scanning, Standby, NoReceiver };

// "starting", "playing", ... as the JSON status names them.
const char *state_name(RadioState state);

struct Station {
    uint32_t service_id = 0;
    std::string label;    // UTF-8
    std::string ensemble; // UTF-8
    uint32_t frequency_khz = 0;
    uint32_t component_id = 0;
    bool audio = true;
};

struct Reception {
    int rssi = 0;
    int snr = 0;
    int fic_quality = 0;
};

struct ScanProgress {
    unsigned done = 0;
    unsigned total = 0;
    unsigned ensembles = 0;
    unsigned services = 0;
};

struct NowPlaying {
    std::string artist, title, album, programme, station_long;
};

// The whole status. `version` grows by one with every change, so a reader
// that saw version n knows whether anything changed since.
struct Snapshot {
    uint64_t version = 0;
    RadioState state = RadioState::Starting;
    std::optional<Station> station;
    std::string text;
    std::optional<NowPlaying> now_playing;
    int volume = 0;
    std::optional<Reception> reception;
    std::optional<ScanProgress> scan;
    std::optional<int> sleep_minutes_left;
    // The station list as loaded, in menu order; changes bump
    // `stations_version`.
    std::vector<Station> stations;
    uint64_t stations_version = 0;
    // Something a person should know about the list or the receiver
    // ("The station list cannot be read: permission denied"), empty for none.
    std::string notice;
};

// The answer to a command, as a front-end words it.
enum class Outcome { Done, BadRequest, NoSuchStation, Busy, NoReceiver, Failed };

struct Result {
    Outcome outcome = Outcome::Done;
    std::string message; // a sentence for a person when not Done
};

// The radio as the front-ends use it. Commands block until the chip thread
// has run them (a play returns once the station plays or failed).
class Radio {
public:
    virtual ~Radio() = default;
    virtual Snapshot snapshot() const = 0;
    // Waits until the snapshot's version is above `seen` or `timeout_ms`
    // passed; returns the current snapshot either way.
    virtual Snapshot wait_change(uint64_t seen, int timeout_ms) const = 0;
    virtual Result play(uint32_t service_id) = 0;
    virtual Result set_volume(int volume) = 0;
    virtual Result change_volume(int delta) = 0;
    virtual Result scan() = 0; // starts the scan; returns at once
    virtual Result standby() = 0;
    virtual Result sleep(int minutes) = 0; // 0 cancels
    virtual Result restart_receiver() = 0;
    // Called on the publishing thread after each change; must not block.
    virtual void on_change(std::function<void(const Snapshot &)> listener) = 0;
};

} // namespace tunelark
