// SPDX-License-Identifier: GPL-3.0-or-later
// The one thread that owns the chip: it runs every chip sequence in turn (the
// bring-up, a play, the volume, the scan one frequency a step, the text poll)
// and publishes a snapshot after each change. Front-ends only read snapshots
// and post commands.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Radio.h"
#include "StateDir.h"

struct DAB_NowPlaying;
struct DAB_Radio;
struct DAB_ScanSteps;

namespace tunelark {

class ChipThread final : public Radio {
public:
    explicit ChipThread(StateDir state_dir);
    ~ChipThread() override;
    ChipThread(const ChipThread &) = delete;
    ChipThread &operator=(const ChipThread &) = delete;

    // Takes the board link. False with the sentence to print when the chip
    // cannot be had (the link fails, or another program holds it).
    bool take_chip(std::string *error);
    // Starts the thread: the takeover or bring-up, then the station list.
    void start();
    // Ends the thread; the chip stays as it is (a station plays on).
    void stop();

    Snapshot snapshot() const override;
    Snapshot wait_change(uint64_t seen, int timeout_ms) const override;
    Result play(uint32_t service_id) override;
    Result set_volume(int volume) override;
    Result change_volume(int delta) override;
    Result scan() override;
    Result standby() override;
    Result sleep(int minutes) override;
    Result restart_receiver() override;
    void on_change(std::function<void(const Snapshot &)> listener) override;

    // The board's clock in ms, as the sleep timer reads it.
    static uint64_t now_ms();

private:
    enum class Kind { Play, SetVolume, ChangeVolume, Scan, Standby, Sleep, RestartReceiver };
    struct Command {
        Kind kind;
        int64_t value = 0;
        std::promise<Result> done;
    };

    Result post(Kind kind, int64_t value);
    void run();
    void run_command(Command &command);
    void idle_step();
    bool next_command(std::shared_ptr<Command> *command);
    bool command_waiting();

    // Chip sequences; each publishes what it changed.
    void start_up();
    bool bring_up(RadioState during = RadioState::Starting);
    // Loads the station list and publishes its stations; gives the notice
    // a list that is missing or damaged calls for.
    std::string load_list();
    void after_takeover();
    Result do_play(uint32_t service_id);
    Result do_volume(int volume);
    Result do_scan_begin();
    void scan_step();
    Result do_standby(const char *notice);
    void lose_receiver();
    static std::optional<NowPlaying> now_playing(const DAB_NowPlaying &tags);
    void poll_playing();
    void check_sleep();

    void publish(const std::function<void(Snapshot &)> &change);
    void publish_stations();
    Station station_at(uint8_t ensemble, uint8_t service) const;
    // Reads the tuned ensemble's label from the chip into *labels; true when
    // it read one.
    static bool read_ensemble_label(uint32_t khz, std::map<uint32_t, std::string> *labels);
    // After a play or a takeover: an ensemble not named yet is named now.
    void learn_ensemble_label(uint32_t khz, Station *station);
    void save_learned_labels();
    uint32_t frequency_khz(uint8_t freq_index) const;

    StateDir state_dir_;
    // The station a play started, to remember once its caller has the answer.
    std::optional<StateDir::LastStation> to_remember_;
    std::unique_ptr<DAB_Radio> radio_;
    std::unique_ptr<DAB_ScanSteps> scan_;
    std::vector<uint32_t> frequencies_;
    std::map<uint32_t, std::string> ensemble_labels_; // by frequency, kHz
    std::map<uint32_t, std::string> scan_labels_;     // those the running scan read
    bool labels_learned_ = false;                     // ensemble_labels_ not saved yet
    bool scanning_ = false;
    bool chip_up_ = false;
    unsigned failed_polls_ = 0;
    uint64_t next_poll_ms_ = 0;
    uint64_t next_recovery_ms_ = 0;
    uint64_t sleep_deadline_ms_ = 0; // 0: no sleep timer
    uint64_t paced_ms_ = 0;
    bool clock_follows_host_ = false;

    mutable std::mutex snapshot_mutex_;
    mutable std::condition_variable snapshot_changed_;
    Snapshot snapshot_;
    std::vector<std::function<void(const Snapshot &)>> listeners_;

    std::mutex queue_mutex_;
    std::condition_variable queue_changed_;
    std::deque<std::shared_ptr<Command>> queue_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::vector<char> held_output_;
};

} // namespace tunelark
