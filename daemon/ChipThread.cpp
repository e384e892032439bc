// SPDX-License-Identifier: GPL-3.0-or-later
#include "ChipThread.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "DAB_radio.h"
#include "Si468x_SPI.h"

namespace tunelark {

namespace {

// The start gives the chip as many attempts as the terminal radio does; a
// recovery fewer, so that a missing receiver does not hold the thread long.
constexpr uint16_t START_ATTEMPTS = 20;
constexpr uint16_t RECOVERY_ATTEMPTS = 3;
constexpr uint64_t RECOVERY_EVERY_MS = 30000;
// Polls that fail in a row before the chip is asked whether it still runs.
constexpr unsigned FAILED_POLLS_TO_CHECK = 3;
// The idle pace: board delays in slices short enough that a command waits at
// most one slice, and once per poll period a short real wait for commands,
// so that a board on a virtual clock does not spin a core.
constexpr unsigned IDLE_SLICE_MS = 5;
constexpr auto THROTTLE = std::chrono::milliseconds(1);
constexpr int MAX_SLEEP_MINUTES = 24 * 60;

struct Block {
    uint32_t khz;
    const char *name;
};
// Band III's blocks: the ensemble's name until the chip has given its label.
constexpr Block BAND_III[] = {
    {174928, "5A"},  {176640, "5B"},  {178352, "5C"},  {180064, "5D"},  {181936, "6A"},
    {183648, "6B"},  {185360, "6C"},  {187072, "6D"},  {188928, "7A"},  {190640, "7B"},
    {192352, "7C"},  {194064, "7D"},  {195936, "8A"},  {197648, "8B"},  {199360, "8C"},
    {201072, "8D"},  {202928, "9A"},  {204640, "9B"},  {206352, "9C"},  {208064, "9D"},
    {209936, "10A"}, {210096, "10N"}, {211648, "10B"}, {213360, "10C"}, {215072, "10D"},
    {216928, "11A"}, {217088, "11N"}, {218640, "11B"}, {220352, "11C"}, {222064, "11D"},
    {223936, "12A"}, {224096, "12N"}, {225648, "12B"}, {227360, "12C"}, {229072, "12D"},
    {230784, "13A"}, {232496, "13B"}, {234208, "13C"}, {235776, "13D"}, {237488, "13E"},
    {239200, "13F"},
};

std::string ensemble_name(uint32_t khz) {
    for (const Block &block : BAND_III) {
        if (block.khz == khz) {
            return std::string("Channel ") + block.name;
        }
    }
    return khz != 0 ? std::to_string(khz) + " kHz" : std::string("Unknown ensemble");
}

void append_utf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A 16-byte label field decoded to UTF-8, without its trailing blanks.
std::string utf8_label(const char *field, uint8_t charset) {
    char32_t chars[DAB_LABEL_CHARS];
    const uint8_t count = DAB_decode_label(field, charset, chars);
    std::string label;
    for (uint8_t i = 0; i < count; ++i) {
        append_utf8(label, chars[i]);
    }
    return label;
}

Result done() {
    return {};
}

Result refused(Outcome outcome, std::string message) {
    return {outcome, std::move(message)};
}

const char NO_RECEIVER[] = "The receiver does not answer.";

} // namespace

ChipThread::ChipThread(StateDir state_dir)
    : state_dir_(std::move(state_dir)), radio_(std::make_unique<DAB_Radio>()),
      scan_(std::make_unique<DAB_ScanSteps>()), held_output_(8192) {
    DAB_radio_init(radio_.get());
    // As loud as the terminal radio starts before a list gives the volume.
    radio_->volume = DAB_RADIO_MAX_VOLUME;
}

ChipThread::~ChipThread() {
    stop();
}

uint64_t ChipThread::now_ms() {
    return Si468x_SPI_clock_us() / 1000u;
}

bool ChipThread::take_chip(std::string *error) {
    if (Si468x_bus_init() < 0) {
        Si468x_BusHolder holder{};
        if (Si468x_bus_held(&holder) != 0) {
            char message[96];
            Si468x_bus_held_text(&holder, message, sizeof message);
            *error = message;
            return false;
        }
        *error = "Error initializing SPI bus. Check that SPI is enabled and that /dev/spidev0.0 "
                 "exists";
        return false;
    }
    return true;
}

void ChipThread::start() {
    thread_ = std::thread([this] { run(); });
}

void ChipThread::stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    queue_changed_.notify_all();
    thread_.join();
}

// ---------------------------------------------------------------------------
// Snapshots

Snapshot ChipThread::snapshot() const {
    std::lock_guard lock(snapshot_mutex_);
    return snapshot_;
}

Snapshot ChipThread::wait_change(uint64_t seen, int timeout_ms) const {
    std::unique_lock lock(snapshot_mutex_);
    snapshot_changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                               [&] { return snapshot_.version > seen; });
    return snapshot_;
}

void ChipThread::on_change(std::function<void(const Snapshot &)> listener) {
    std::lock_guard lock(snapshot_mutex_);
    listeners_.push_back(std::move(listener));
}

void ChipThread::publish(const std::function<void(Snapshot &)> &change) {
    Snapshot copy;
    std::vector<std::function<void(const Snapshot &)>> listeners;
    {
        std::lock_guard lock(snapshot_mutex_);
        change(snapshot_);
        ++snapshot_.version;
        copy = snapshot_;
        listeners = listeners_;
    }
    snapshot_changed_.notify_all();
    for (const auto &listener : listeners) {
        listener(copy);
    }
}

uint32_t ChipThread::frequency_khz(uint8_t freq_index) const {
    return freq_index < frequencies_.size() ? frequencies_[freq_index] : 0;
}

Station ChipThread::station_at(uint8_t ensemble, uint8_t service) const {
    const DAB_Ensemble *entry = &radio_->stations.ensembles[ensemble];
    Si468x_Service record{};
    Si468x_get_digital_service(entry, service, &record);
    Si468x_Component component{};
    Si468x_get_digital_service_component(&record, 0, &component);
    Station station;
    station.service_id = record.service_id;
    station.label = utf8_label(record.label, record.si_charset);
    station.frequency_khz = frequency_khz(entry->freq_index);
    const auto label = ensemble_labels_.find(station.frequency_khz);
    station.ensemble =
        label != ensemble_labels_.end() ? label->second : ensemble_name(station.frequency_khz);
    station.component_id = component.comp_id;
    station.audio = record.pd_flag == SI468X_PD_AUDIO;
    return station;
}

bool ChipThread::read_ensemble_label(uint32_t khz, std::map<uint32_t, std::string> *labels) {
    Si468x_EnsembleInfo info{};
    if (khz == 0 || Si468x_DAB_get_ensemble_info(&info) != 0) {
        return false;
    }
    // Ensemble labels come in the broadcast's default set, EBU Latin.
    const std::string label =
        utf8_label(reinterpret_cast<const char *>(info.label), DAB_CHARSET_EBU_LATIN);
    if (label.find_first_not_of(' ') == std::string::npos) {
        return false; // a blank label names nothing; the channel says more
    }
    (*labels)[khz] = label;
    return true;
}

void ChipThread::learn_ensemble_label(uint32_t khz, Station *station) {
    if (ensemble_labels_.count(khz) != 0 || !read_ensemble_label(khz, &ensemble_labels_)) {
        return;
    }
    station->ensemble = ensemble_labels_[khz];
    // Saved and shown in the list once the caller has its answer
    // (save_learned_labels): the fsync need not lengthen a switch.
    labels_learned_ = true;
}

void ChipThread::save_learned_labels() {
    if (!labels_learned_) {
        return;
    }
    labels_learned_ = false;
    state_dir_.remember_ensemble_labels(ensemble_labels_);
    publish_stations();
}

void ChipThread::publish_stations() {
    std::vector<Station> stations;
    const uint16_t count = DAB_service_count(&radio_->stations);
    for (uint16_t k = 0; k < count; ++k) {
        uint8_t ensemble = 0;
        uint8_t service = 0;
        if (DAB_service_at(&radio_->stations, k, &ensemble, &service)) {
            stations.push_back(station_at(ensemble, service));
        }
    }
    publish([&](Snapshot &s) {
        s.stations = std::move(stations);
        ++s.stations_version;
        s.volume = radio_->volume;
    });
}

// ---------------------------------------------------------------------------
// Commands

Result ChipThread::post(Kind kind, int64_t value) {
    {
        const Snapshot now = snapshot();
        if (now.state == RadioState::NoReceiver && kind != Kind::RestartReceiver &&
            kind != Kind::Sleep) {
            return refused(Outcome::NoReceiver, NO_RECEIVER);
        }
        if (now.state == RadioState::Scanning && kind != Kind::Sleep) {
            return refused(Outcome::Busy, "A scan is running; try again when it has finished.");
        }
    }
    auto command = std::make_shared<Command>();
    command->kind = kind;
    command->value = value;
    auto answer = command->done.get_future();
    {
        std::lock_guard lock(queue_mutex_);
        if (stopping_) {
            return refused(Outcome::Failed, "The service is stopping.");
        }
        queue_.push_back(command);
    }
    queue_changed_.notify_all();
    return answer.get();
}

Result ChipThread::play(uint32_t service_id) {
    return post(Kind::Play, service_id);
}
Result ChipThread::set_volume(int volume) {
    if (volume < 0 || volume > DAB_RADIO_MAX_VOLUME) {
        return refused(Outcome::BadRequest, "The volume goes from 0 to 63.");
    }
    return post(Kind::SetVolume, volume);
}
Result ChipThread::change_volume(int delta) {
    return post(Kind::ChangeVolume, delta);
}
Result ChipThread::scan() {
    return post(Kind::Scan, 0);
}
Result ChipThread::standby() {
    return post(Kind::Standby, 0);
}
Result ChipThread::sleep(int minutes) {
    if (minutes < 0 || minutes > MAX_SLEEP_MINUTES) {
        return refused(Outcome::BadRequest, "The sleep timer takes 0 to 1440 minutes.");
    }
    return post(Kind::Sleep, minutes);
}
Result ChipThread::restart_receiver() {
    return post(Kind::RestartReceiver, 0);
}

bool ChipThread::next_command(std::shared_ptr<Command> *command) {
    std::lock_guard lock(queue_mutex_);
    if (queue_.empty()) {
        return false;
    }
    *command = queue_.front();
    queue_.pop_front();
    return true;
}

bool ChipThread::command_waiting() {
    std::lock_guard lock(queue_mutex_);
    return !queue_.empty();
}

void ChipThread::run_command(Command &command) {
    const RadioState state = snapshot().state;
    if (state == RadioState::NoReceiver && command.kind != Kind::RestartReceiver &&
        command.kind != Kind::Sleep) {
        command.done.set_value(refused(Outcome::NoReceiver, NO_RECEIVER));
        return;
    }
    if (scanning_ && command.kind != Kind::Sleep) {
        command.done.set_value(
            refused(Outcome::Busy, "A scan is running; try again when it has finished."));
        return;
    }
    switch (command.kind) {
    case Kind::Play:
        command.done.set_value(do_play(static_cast<uint32_t>(command.value)));
        if (to_remember_) {
            state_dir_.remember_station(*to_remember_);
            to_remember_.reset();
        }
        save_learned_labels();
        return;
    case Kind::SetVolume:
        command.done.set_value(do_volume(static_cast<int>(command.value)));
        return;
    case Kind::ChangeVolume:
        command.done.set_value(do_volume(radio_->volume + static_cast<int>(command.value)));
        return;
    case Kind::Scan:
        command.done.set_value(do_scan_begin());
        return;
    case Kind::Standby:
        command.done.set_value(do_standby(""));
        return;
    case Kind::Sleep: {
        const auto minutes = static_cast<int>(command.value);
        sleep_deadline_ms_ = minutes == 0 ? 0 : now_ms() + static_cast<uint64_t>(minutes) * 60000u;
        publish([&](Snapshot &s) {
            s.sleep_minutes_left = minutes == 0 ? std::nullopt : std::optional<int>(minutes);
        });
        command.done.set_value(done());
        return;
    }
    case Kind::RestartReceiver:
        if (bring_up()) {
            command.done.set_value(done());
        } else {
            command.done.set_value(refused(Outcome::NoReceiver, NO_RECEIVER));
        }
        return;
    }
}

// ---------------------------------------------------------------------------
// The chip sequences

void ChipThread::run() {
    // The station management's console lines have no terminal here.
    DABUtils_hold_output(held_output_.data(), held_output_.size());
    start_up();
    paced_ms_ = now_ms();
    while (!stopping_) {
        std::shared_ptr<Command> command;
        if (next_command(&command)) {
            run_command(*command);
            continue;
        }
        if (scanning_) {
            scan_step();
            continue;
        }
        const uint64_t now = now_ms();
        if (snapshot().state == RadioState::NoReceiver && now >= next_recovery_ms_) {
            bring_up();
            continue;
        }
        if (radio_->playing != 0 && now >= next_poll_ms_) {
            // On the poll's own cadence: a wake-up that comes late does not
            // push every later poll back, so a text waits at most one period.
            next_poll_ms_ += DAB_DATA_POLL_MS;
            if (next_poll_ms_ <= now) {
                next_poll_ms_ = now + DAB_DATA_POLL_MS;
            }
            poll_playing();
        }
        check_sleep();
        idle_step();
    }
    // Commands still queued are answered, so that no front-end waits on.
    std::lock_guard lock(queue_mutex_);
    for (auto &command : queue_) {
        command->done.set_value(refused(Outcome::Failed, "The service is stopping."));
    }
    queue_.clear();
}

void ChipThread::idle_step() {
    std::unique_lock lock(queue_mutex_);
    const auto wake = [&] { return !queue_.empty() || stopping_; };
    if (clock_follows_host_) {
        // The board's clock is the host's: waiting on the queue until the next
        // poll is due takes a command at once, where a sleeping slice would
        // hold it up to a slice, and wakes ten times a second, not 200.
        const uint64_t now = now_ms();
        const uint64_t until =
            radio_->playing != 0 && next_poll_ms_ > now ? next_poll_ms_ - now : DAB_DATA_POLL_MS;
        queue_changed_.wait_for(
            lock, std::chrono::milliseconds(std::clamp<uint64_t>(until, 1, DAB_DATA_POLL_MS)),
            wake);
        return;
    }
    if (now_ms() >= paced_ms_ + DAB_DATA_POLL_MS) {
        const uint64_t before_us = Si468x_SPI_clock_us();
        queue_changed_.wait_for(lock, THROTTLE, wake);
        // A virtual clock stands still while the host waits; one that moved
        // follows the host's.
        clock_follows_host_ = Si468x_SPI_clock_us() != before_us;
        paced_ms_ = now_ms();
        return;
    }
    lock.unlock();
    bcm2835_delay(IDLE_SLICE_MS);
}

void ChipThread::start_up() {
    publish([](Snapshot &s) { s.state = RadioState::Starting; });
    ensemble_labels_ = state_dir_.ensemble_labels();
    if (DAB_radio_take_over(radio_.get())) {
        chip_up_ = true;
        uint8_t count = 0;
        frequencies_.assign(SI468X_MAX_FREQ_LIST, 0);
        Si468x_DAB_get_freq_list(frequencies_.data(), SI468X_MAX_FREQ_LIST, &count);
        frequencies_.resize(count);
        const std::string notice = load_list();
        publish([&](Snapshot &s) { s.notice = notice; });
        after_takeover();
        return;
    }
    bring_up();
}

bool ChipThread::bring_up(RadioState during) {
    const bool recovering = snapshot().state == RadioState::NoReceiver;
    publish([&](Snapshot &s) {
        s.state = during;
        s.station.reset();
        s.text.clear();
        s.now_playing.reset();
        s.reception.reset();
    });
    radio_->playing = 0;
    radio_->last_tuned_index = DAB_RADIO_NO_FREQ_INDEX;
    DAB_Bringup bringup{};
    bringup.attempts = recovering ? RECOVERY_ATTEMPTS : START_ATTEMPTS;
    bringup.firmware = DAB_FIRMWARE_EMBEDDED;
    bringup.status_reply = radio_->status_reply;
    if (DAB_bringup(&bringup) != DAB_BRINGUP_UP) {
        lose_receiver();
        return false;
    }
    chip_up_ = true;
    failed_polls_ = 0;
    uint8_t count = 0;
    frequencies_.assign(SI468X_MAX_FREQ_LIST, 0);
    Si468x_DAB_get_freq_list(frequencies_.data(), SI468X_MAX_FREQ_LIST, &count);
    frequencies_.resize(count);
    // A receiver that comes up with no list loaded (the start, a recovery)
    // loads it before it says it is up: no client sees it stopped with no
    // stations while a list is there.
    const bool starting = during == RadioState::Starting;
    std::string notice;
    if (starting && snapshot().stations.empty()) {
        notice = load_list();
    }
    DAB_set_properties_volume(radio_->volume);
    if (starting) {
        publish([&](Snapshot &s) {
            s.state = RadioState::Stopped;
            s.notice = notice;
        });
    }
    return true;
}

void ChipThread::lose_receiver() {
    chip_up_ = false;
    radio_->playing = 0;
    next_recovery_ms_ = now_ms() + RECOVERY_EVERY_MS;
    publish([](Snapshot &s) {
        s.state = RadioState::NoReceiver;
        s.station.reset();
        s.reception.reset();
        s.scan.reset();
        s.notice = NO_RECEIVER;
    });
}

std::string ChipThread::load_list() {
    DAB_ListLoadFacts facts{};
    const uint8_t chip_volume = radio_->volume;
    const DAB_ListLoad outcome =
        DAB_radio_load_list(radio_.get(), state_dir_.station_list().c_str(), &facts);
    std::string notice;
    switch (outcome) {
    case DAB_LIST_LOADED:
        break;
    case DAB_LIST_MISSING:
        radio_->volume = chip_volume;
        notice = "There is no station list yet: run a scan.";
        break;
    case DAB_LIST_DAMAGED_KEPT:
        notice = std::string("The station list was damaged; it is kept as ") + facts.kept_path +
                 " and what could be read is loaded.";
        break;
    case DAB_LIST_DAMAGED_HELD:
        notice = "The station list is damaged and could not be kept; it will not be replaced.";
        break;
    case DAB_LIST_NOT_REGULAR:
        notice = std::string("The station list is ") + DAB_path_kind_name(facts.kind) +
                 ", not a file; nothing is read or saved there.";
        break;
    case DAB_LIST_UNREADABLE:
        notice =
            std::string("The station list cannot be read: ") + std::strerror(facts.error) + ".";
        break;
    }
    publish_stations();
    return notice;
}

void ChipThread::after_takeover() {
    // The chip plays what an earlier run started; the last station remembered
    // names it when the chip is tuned to that station's frequency.
    const auto last = state_dir_.last_station();
    Si468x_DigradStatus status{};
    const bool read = Si468x_DAB_digrad_status(&status) == 0;
    uint8_t ensemble = 0;
    uint8_t service = 0;
    uint16_t k = 0;
    if (last && read && status.tune_freq == last->frequency_khz &&
        DAB_find_service(&radio_->stations, last->service_id, &ensemble, &service, &k)) {
        Station station = station_at(ensemble, service);
        radio_->playing = 1;
        radio_->last_tuned_index = radio_->stations.ensembles[ensemble].freq_index;
        learn_ensemble_label(station.frequency_khz, &station);
        save_learned_labels();
        publish([&](Snapshot &s) {
            s.state = RadioState::Playing;
            s.station = station;
            s.volume = radio_->volume;
        });
        return;
    }
    publish([&](Snapshot &s) {
        s.state = RadioState::Stopped;
        s.volume = radio_->volume;
    });
}

Result ChipThread::do_play(uint32_t service_id) {
    uint8_t ensemble = 0;
    uint8_t service = 0;
    uint16_t k = 0;
    if (!DAB_find_service(&radio_->stations, service_id, &ensemble, &service, &k)) {
        return refused(Outcome::NoSuchStation, "There is no station with that service id.");
    }
    if (!chip_up_ && !bring_up()) {
        return refused(Outcome::NoReceiver, NO_RECEIVER);
    }
    Station station = station_at(ensemble, service);
    DAB_Play play{};
    // The text of the station before is no longer the one playing.
    radio_->text[0] = '\0';
    const DAB_PlayOutcome outcome = DAB_radio_play(radio_.get(), ensemble, service, &play);
    if (outcome == DAB_PLAY_PLAYING) {
        failed_polls_ = 0;
        next_poll_ms_ = now_ms() + DAB_DATA_POLL_MS;
        // Written once the caller has its answer (run_command): the fsync
        // need not lengthen the switch.
        to_remember_ = StateDir::LastStation{station.service_id, station.frequency_khz};
        learn_ensemble_label(station.frequency_khz, &station);
        publish([&](Snapshot &s) {
            s.state = RadioState::Playing;
            s.station = station;
            s.text.clear();
            s.now_playing.reset();
            s.reception.reset();
        });
        return done();
    }
    publish([&](Snapshot &s) {
        s.state = RadioState::Stopped;
        s.station.reset();
        s.text.clear();
        s.now_playing.reset();
    });
    if (!DAB_chip_running(radio_->status_reply)) {
        lose_receiver();
        return refused(Outcome::NoReceiver, NO_RECEIVER);
    }
    switch (outcome) {
    case DAB_PLAY_NO_AUDIO:
        return refused(Outcome::Failed, station.label + " is a data service, not a radio station.");
    case DAB_PLAY_TUNE_FAILED:
        return refused(Outcome::Failed,
                       "The ensemble of " + station.label + " cannot be received.");
    default:
        return refused(Outcome::Failed, station.label + " did not start.");
    }
}

Result ChipThread::do_volume(int volume) {
    volume = volume < 0 ? 0 : (volume > DAB_RADIO_MAX_VOLUME ? DAB_RADIO_MAX_VOLUME : volume);
    if (!chip_up_) {
        // In standby the chip takes it at the next bring-up.
        radio_->volume = static_cast<uint8_t>(volume);
        const int16_t saved = DAB_radio_save_list(radio_.get(), state_dir_.station_list().c_str());
        publish([&](Snapshot &s) { s.volume = volume; });
        return saved == 0 ? done()
                          : refused(Outcome::Failed, "The volume is set but could not be saved.");
    }
    DAB_Volume result{};
    const DAB_VolumeOutcome outcome =
        DAB_radio_set_volume(radio_.get(), volume, state_dir_.station_list().c_str(), &result);
    if (outcome == DAB_VOLUME_NOT_SET) {
        return refused(Outcome::Failed, "The receiver did not take the volume.");
    }
    publish([&](Snapshot &s) { s.volume = result.volume; });
    if (outcome == DAB_VOLUME_NOT_SAVED) {
        return refused(Outcome::Failed,
                       "The volume is set, but the station list could not be saved with it.");
    }
    return done();
}

Result ChipThread::do_scan_begin() {
    scanning_ = true;
    scan_->count = 0;
    scan_->next = 0;
    scan_->done = 0;
    scan_->results = nullptr;
    sleep_deadline_ms_ = 0;
    publish([](Snapshot &s) {
        s.state = RadioState::Scanning;
        s.station.reset();
        s.text.clear();
        s.now_playing.reset();
        s.reception.reset();
        s.scan = ScanProgress{};
        s.sleep_minutes_left.reset();
    });
    return done();
}

void ChipThread::scan_step() {
    static DAB_ScanResults found;
    if (scan_->results == nullptr) {
        // The first step: the full bring-up, as a rescan starts with one.
        if (!bring_up(RadioState::Scanning)) {
            scanning_ = false;
            return;
        }
        std::memset(&found, 0, sizeof found);
        scan_labels_.clear();
        if (DAB_scan_begin(scan_.get(), &found) != 0) {
            scanning_ = false;
            publish([](Snapshot &s) {
                s.state = RadioState::Stopped;
                s.scan.reset();
                s.notice = "The scan could not start.";
            });
            return;
        }
        publish([&](Snapshot &s) { s.scan->total = scan_->count; });
        return;
    }
    const uint16_t ensembles_before = DAB_ensemble_count(&found);
    const uint8_t index = scan_->next;
    const int16_t more = DAB_scan_step(scan_.get());
    if (DAB_ensemble_count(&found) > ensembles_before && index < scan_->count) {
        // Still tuned to the ensemble just stored: its label is one command.
        read_ensemble_label(scan_->frequencies[index], &scan_labels_);
    }
    const ScanProgress progress{scan_->next, scan_->count, DAB_ensemble_count(&found),
                                DAB_service_count(&found)};
    if (more == 1) {
        publish([&](Snapshot &s) { s.scan = progress; });
        return;
    }
    scanning_ = false;
    publish([&](Snapshot &s) {
        s.scan =
            ScanProgress{progress.total, progress.total, progress.ensembles, progress.services};
    });
    std::string notice;
    if (progress.services == 0) {
        notice = "The scan found no station; the list stays as it was.";
    } else {
        radio_->stations = found;
        for (const auto &[khz, label] : scan_labels_) {
            ensemble_labels_[khz] = label;
        }
        state_dir_.remember_ensemble_labels(ensemble_labels_);
        if (DAB_radio_save_list(radio_.get(), state_dir_.station_list().c_str()) != 0) {
            notice = "The stations are found, but the station list could not be saved.";
        }
        publish_stations();
    }
    publish([&](Snapshot &s) {
        s.state = RadioState::Stopped;
        s.scan.reset();
        s.notice = notice;
    });
}

Result ChipThread::do_standby(const char *notice) {
    // The chip held in reset, as the terminal radio's power-down leaves it,
    // but the bus and the chip's lock stay the service's: nothing else takes
    // the chip from under a standby.
    Si468x_SPI_RSTB_low();
    chip_up_ = false;
    radio_->playing = 0;
    sleep_deadline_ms_ = 0;
    state_dir_.forget_station();
    publish([&](Snapshot &s) {
        s.state = RadioState::Standby;
        s.station.reset();
        s.text.clear();
        s.now_playing.reset();
        s.reception.reset();
        s.sleep_minutes_left.reset();
        s.notice = notice;
    });
    return done();
}

// What DL Plus tagged, or nothing when no tag says anything yet.
std::optional<NowPlaying> ChipThread::now_playing(const DAB_NowPlaying &tags) {
    NowPlaying now{tags.artist, tags.title, tags.album, tags.programme_now, tags.station_name_long};
    if (now.artist.empty() && now.title.empty() && now.album.empty() && now.programme.empty() &&
        now.station_long.empty()) {
        return std::nullopt;
    }
    return now;
}

void ChipThread::poll_playing() {
    const DAB_PollEvent event = DAB_radio_poll(radio_.get());
    if (event == DAB_POLL_LINK_FAILED) {
        if (++failed_polls_ >= FAILED_POLLS_TO_CHECK && !DAB_chip_running(radio_->status_reply)) {
            lose_receiver();
        }
        return;
    }
    failed_polls_ = 0;
    if (event == DAB_POLL_TEXT_CHANGED || event == DAB_POLL_NOW_PLAYING_CHANGED) {
        const std::string text = radio_->text;
        const std::optional<NowPlaying> now = now_playing(radio_->dls.now_playing);
        publish([&](Snapshot &s) {
            s.text = text;
            s.now_playing = now;
        });
    }
    // The reception read is one more chip command: one that came meanwhile
    // goes first, and the read follows on a later poll.
    if (command_waiting() ||
        !DAB_radio_read_reception(radio_.get(), static_cast<uint32_t>(now_ms()))) {
        return;
    }
    if (radio_->reception_valid == 0) {
        // A chip that stopped answering reads as no packet on every poll;
        // its reception read, every DAB_RADIO_RECEPTION_EVERY_MS, tells.
        if (!DAB_chip_running(radio_->status_reply)) {
            lose_receiver();
        }
        return;
    }
    const Reception reception{radio_->reception.rssi, radio_->reception.snr,
                              radio_->reception.fic_quality};
    publish([&](Snapshot &s) { s.reception = reception; });
}

void ChipThread::check_sleep() {
    if (sleep_deadline_ms_ == 0) {
        return;
    }
    const uint64_t now = now_ms();
    if (now >= sleep_deadline_ms_) {
        do_standby("");
        return;
    }
    const int left = static_cast<int>((sleep_deadline_ms_ - now + 59999) / 60000);
    if (snapshot().sleep_minutes_left != left) {
        publish([&](Snapshot &s) { s.sleep_minutes_left = left; });
    }
}

} // namespace tunelark
