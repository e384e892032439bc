// SPDX-License-Identifier: GPL-3.0-or-later
// The measured paths: the radio's own functions on the simulated board in
// virtual time, each beside its floor from the reference.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include <curses.h>
#include <fcntl.h>
#include <unistd.h>

#include "Bench.h"
#include "CorvaneRadio.h"
#include "Reference.h"
#include "SimBoard.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define BENCH_CALLGRIND_START() CALLGRIND_START_INSTRUMENTATION
#define BENCH_CALLGRIND_STOP() CALLGRIND_STOP_INSTRUMENTATION
#else
#define BENCH_CALLGRIND_START()
#define BENCH_CALLGRIND_STOP()
#endif

namespace bench {

const BenchBoard bench_boards[2] = {
    {sim::PiModel::Pi4, "Pi 4, bcm2835 library"},
    {sim::PiModel::Pi5, "Pi 5, kernel spidev and GPIO character device"},
};

namespace {

// The board of the run in progress: every fresh board is told which Pi it is.
sim::PiModel bench_model = sim::PiModel::Pi4;

void fresh_board() {
    sim::reset_for_test();
    sim::set_pi_model(bench_model);
}

// The radio's console output goes nowhere while a path runs; the table is
// printed afterwards.
class QuietStdout {
public:
    QuietStdout() {
        std::fflush(stdout);
        saved_ = dup(STDOUT_FILENO);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (saved_ < 0 || null_fd < 0) {
            throw std::runtime_error("cannot silence standard output");
        }
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
    }
    QuietStdout(const QuietStdout &) = delete;
    QuietStdout &operator=(const QuietStdout &) = delete;
    ~QuietStdout() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    int saved_ = -1;
};

// play_station writes to the standard screen: an xterm whose output goes
// nowhere.
class NullScreen {
public:
    NullScreen() {
        use_env(FALSE);
        out_ = std::fopen("/dev/null", "w");
        in_ = std::fopen("/dev/null", "r");
        screen_ = out_ && in_ ? newterm("xterm", out_, in_) : nullptr;
        if (screen_ == nullptr) {
            throw std::runtime_error("no xterm terminal description for the screen");
        }
    }
    NullScreen(const NullScreen &) = delete;
    NullScreen &operator=(const NullScreen &) = delete;
    ~NullScreen() {
        endwin();
        delscreen(screen_);
        std::fclose(out_);
        std::fclose(in_);
    }

private:
    FILE *out_ = nullptr;
    FILE *in_ = nullptr;
    SCREEN *screen_ = nullptr;
};

struct Snapshot {
    uint64_t ns = 0;
    sim::Stats stats;
};

Snapshot snapshot() {
    return Snapshot{sim::now_ns(), sim::stats()};
}

PathResult result_of(const std::string &name, const Snapshot &before, const Snapshot &after,
                     const Reference &reference) {
    PathResult result;
    result.name = name;
    result.measured_ns = after.ns - before.ns;
    result.traffic.frames = after.stats.frames - before.stats.frames;
    result.traffic.bytes = after.stats.bytes - before.stats.bytes;
    result.busy_ns = after.stats.busy_ns - before.stats.busy_ns;
    result.image_bytes = after.stats.host_load_image_bytes - before.stats.host_load_image_bytes;
    result.floor = reference.split();
    result.floor_traffic = reference.traffic();
    result.floor_busy_ns = reference.busy_ns();
    return result;
}

void add_check(PathResult &result, const std::string &problem) {
    result.check += result.check.empty() ? problem : "; " + problem;
}

// The menu entries the station set-up built, released without a menu.
void release_entries(CorvaneRadio_State *state) {
    if (state->items != nullptr) {
        for (uint16_t k = 0; k <= state->service_count; ++k) {
            if (state->items[k] != nullptr) {
                free_item(state->items[k]);
            }
        }
        std::free(state->items);
        state->items = nullptr;
    }
    if (state->labels != nullptr) {
        for (uint16_t k = 0; k < state->service_count; ++k) {
            std::free(state->labels[k]);
        }
        std::free(state->labels);
        state->labels = nullptr;
    }
}

std::unique_ptr<CorvaneRadio_State> fresh_state() {
    auto state = std::make_unique<CorvaneRadio_State>();
    CorvaneRadio_init_state(state.get());
    return state;
}

// How many ensembles a scan of the band must store.
uint8_t expected_ensembles(const sim::Band &band) {
    uint8_t count = 0;
    for (const uint32_t khz : band.frequencies) {
        const sim::Ensemble *ensemble = band.on_frequency(khz);
        if (scan_accepts(ensemble) && ensemble->reception.acquires && count < DAB_MAX_ENSEMBLES) {
            ++count;
        }
    }
    return count;
}

// The n-th audio service (data flag 0) of an ensemble, -1 when there is none.
int audio_service(const DAB_Ensemble *ensemble, int n) {
    for (uint8_t j = 0; j < ensemble->num_services; ++j) {
        Si468x_Service service{};
        if (Si468x_get_digital_service(ensemble, j, &service) == 0 &&
            service.pd_flag == SI468X_PD_AUDIO && n-- == 0) {
            return j;
        }
    }
    return -1;
}

void enter(const std::string &work_dir) {
    std::filesystem::create_directories(work_dir);
    if (chdir(work_dir.c_str()) != 0) {
        throw std::runtime_error("cannot enter " + work_dir + ": " + std::strerror(errno));
    }
}

// Start to the menu: the link, the running-chip test, the bring-up when the
// test fails, and the station set-up (Si468x_bus_init up to the menu, as
// main runs it, without the first-start notice's wait for Enter).
struct StartOutcome {
    bool took_over = false;
    bool reached_menu = false;
};
StartOutcome start_to_menu(CorvaneRadio_State *state) {
    StartOutcome outcome;
    QuietStdout quiet;
    if (Si468x_bus_init() < 0) {
        return outcome;
    }
    outcome.took_over = bringup_take_over_running_chip(state);
    if (!outcome.took_over && bringup_full(state) != CORVANE_RADIO_GO_ON) {
        return outcome;
    }
    outcome.reached_menu = station_setup(state) == CORVANE_RADIO_GO_ON;
    return outcome;
}

void check_start(PathResult &result, const StartOutcome &outcome, bool take_over_expected,
                 const CorvaneRadio_State &state, uint8_t ensembles) {
    if (outcome.took_over != take_over_expected) {
        add_check(result, take_over_expected ? "running chip not taken over"
                                             : "chip taken over without bring-up");
    }
    if (!outcome.reached_menu) {
        add_check(result, "menu not reached");
    }
    if (state.radio.stations.num_ensembles != ensembles) {
        add_check(result, "ensembles " + std::to_string(state.radio.stations.num_ensembles) +
                              ", expected " + std::to_string(ensembles));
    }
}

// Bytes of the upload: HOST_LOAD frames, and everything from the first
// LOAD_INIT to BOOT.
void upload_bytes(uint64_t *chunks, uint64_t *phase) {
    bool in_upload = false;
    for (const sim::Frame &frame : sim::frames()) {
        const uint8_t opcode = frame.out.empty() ? 0 : frame.out[0];
        if (opcode == LOAD_INIT) {
            in_upload = true;
        } else if (opcode == BOOT) {
            in_upload = false;
        }
        if (in_upload) {
            *phase += frame.out.size();
        }
        if (opcode == HOST_LOAD && frame.reached_chip) {
            *chunks += frame.out.size();
        }
    }
}

// The benchmark's own check: a chip slower than the model's table makes every
// path slower than its floor, which is worked out from the table alone.
void slow_down(uint64_t chip_slow_ns) {
    if (chip_slow_ns > 0 && !sim::set_faults("slow=" + std::to_string(chip_slow_ns))) {
        throw std::runtime_error("the board refused the slow-down");
    }
}

enum class StartChip { InReset, Running };

// One start to the menu from a fresh program state on a fresh board, beside
// the floor of the path `expect` describes; `more` adds its own checks and
// figures while the start's wire traffic is still recorded.
PathResult measure_start(const std::string &name, StartChip chip, uint64_t chip_slow_ns,
                         uint8_t ensembles, const std::function<void(Reference &)> &expect,
                         const std::function<void(PathResult &, uint64_t start_ns)> &more = {}) {
    fresh_board();
    slow_down(chip_slow_ns);
    if (chip == StartChip::Running) {
        sim::set_chip_running();
    }
    sim::record_frames(static_cast<bool>(more));
    const sim::DabRadio::Timing timing = sim::receiver_timing();
    auto state = fresh_state();
    const Snapshot before = snapshot();
    const StartOutcome outcome = start_to_menu(state.get());
    const Snapshot after = snapshot();
    Reference reference(timing);
    expect(reference);
    PathResult result = result_of(name, before, after, reference);
    check_start(result, outcome, chip == StartChip::Running, *state, ensembles);
    if (more) {
        more(result, before.ns);
    }
    release_entries(state.get());
    sim::record_frames(false);
    sim::clear_frames();
    return result;
}

} // namespace

double PathResult::ratio() const {
    const uint64_t f = floor.total();
    return f == 0 ? 0.0 : static_cast<double>(measured_ns) / static_cast<double>(f);
}

BenchRun run_paths(const std::string &work_dir, uint64_t chip_slow_ns, const BenchBoard &board) {
    bench_model = board.model;
    enter(work_dir);
    std::filesystem::remove(CORVANE_RADIO_STATION_LIST);
    BenchRun run;
    run.board = board.name;
    const sim::Band band = sim::default_band();
    const uint8_t ensembles = expected_ensembles(band);

    // First start: no station list, a chip in reset. Its wire traffic makes
    // the timeline and the upload's share.
    run.paths.push_back(measure_start(
        "first start to the menu (bring-up, scan, save)", StartChip::InReset, chip_slow_ns,
        ensembles,
        [&](Reference &reference) {
            reference.running_chip_test_fails();
            reference.bringup_full();
            reference.scan_band(band);
            reference.set_volume();
        },
        [&](PathResult &result, uint64_t start_ns) {
            if (!std::filesystem::exists(CORVANE_RADIO_STATION_LIST)) {
                add_check(result, "no station list saved");
            }
            run.timeline = build_timeline(start_ns);
            run.first_start_wire_ns = result.traffic.bytes * BYTE_NS;
            upload_bytes(&run.upload_chunk_bytes, &run.upload_phase_bytes);
            const sim::Stats &stats = sim::stats();
            run.upload_chunks = stats.commands[HOST_LOAD];
            run.chunk_ioctls = stats.chunk_ioctls;
            run.first_start_syscalls = stats.syscalls;
            run.first_start_frames = stats.frames;
        }));

    // Later start: the station list of the first start, the chip powered down.
    run.paths.push_back(measure_start("later start to the menu (bring-up, load)",
                                      StartChip::InReset, chip_slow_ns, ensembles,
                                      [](Reference &reference) {
                                          reference.running_chip_test_fails();
                                          reference.bringup_full();
                                          reference.set_volume();
                                      }));

    // Takeover start: a chip an earlier run left running, the station list.
    run.paths.push_back(measure_start("takeover start to the menu (shortcut, load)",
                                      StartChip::Running, chip_slow_ns, ensembles,
                                      [](Reference &reference) {
                                          reference.take_over_running_chip();
                                          reference.set_volume();
                                      }));

    // A full scan alone, then the station switches on the scanned database.
    {
        fresh_board();
        slow_down(chip_slow_ns);
        sim::set_chip_running();
        const sim::DabRadio::Timing timing = sim::receiver_timing();
        auto state = fresh_state();
        Si468x_bus_init();
        Si468x_DAB_get_freq_list(state->frequencies, SI468X_MAX_FREQ_LIST, &state->num_frequencies);
        DAB_ScanResults *results = &state->radio.stations;
        Snapshot before = snapshot();
        int16_t status = 0;
        {
            QuietStdout quiet;
            status = DAB_do_full_scan(results, state->frequencies, state->num_frequencies);
        }
        Snapshot after = snapshot();
        {
            Reference reference(timing);
            reference.full_scan(band);
            PathResult result =
                result_of("full scan alone (DAB_do_full_scan)", before, after, reference);
            if (status != 0) {
                add_check(result, "scan status " + std::to_string(status));
            }
            if (results->num_ensembles != ensembles) {
                add_check(result, "ensembles " + std::to_string(results->num_ensembles));
            }
            run.paths.push_back(result);
        }

        NullScreen screen;
        const int first = audio_service(&results->ensembles[0], 0);
        const int other = audio_service(&results->ensembles[1], 0);
        const int other_second = audio_service(&results->ensembles[1], 1);
        if (results->num_ensembles < 2 || first < 0 || other < 0 || other_second < 0) {
            throw std::runtime_error("the band lacks two ensembles with audio services");
        }
        state->radio.last_tuned_index = CORVANE_RADIO_NO_FREQ_INDEX;
        // Something plays before the switch, as it does in the menu.
        if (play_station(&state->radio, 0, static_cast<uint8_t>(first)) != 0) {
            throw std::runtime_error("the first station did not start");
        }

        before = snapshot();
        const int switched = play_station(&state->radio, 1, static_cast<uint8_t>(other));
        after = snapshot();
        {
            Reference reference(timing);
            reference.play_station(true, true);
            PathResult result = result_of("station switch, other ensemble (play_station)", before,
                                          after, reference);
            uint32_t service = 0;
            uint32_t component = 0;
            if (switched != 0 || !sim::service_started(&service, &component) ||
                sim::tuned_index() != results->ensembles[1].freq_index) {
                add_check(result, "switch did not play the other ensemble's service");
            }
            run.paths.push_back(result);
        }

        before = snapshot();
        const int same = play_station(&state->radio, 1, static_cast<uint8_t>(other_second));
        after = snapshot();
        {
            Reference reference(timing);
            reference.play_station(false, true);
            PathResult result =
                result_of("station switch, same ensemble (play_station)", before, after, reference);
            if (same != 0) {
                add_check(result, "switch within the ensemble failed");
            }
            run.paths.push_back(result);
        }
        Si468x_power_down();
    }
    return run;
}

int run_first_start_only(const std::string &work_dir) {
    enter(work_dir);
    std::filesystem::remove(CORVANE_RADIO_STATION_LIST);
    sim::reset_for_test();
    // Only the radio and the board itself: no call log, no frame record.
    sim::record_calls(false);
    auto state = fresh_state();
    const uint64_t start = sim::now_ns();
    BENCH_CALLGRIND_START();
    const StartOutcome outcome = start_to_menu(state.get());
    BENCH_CALLGRIND_STOP();
    const uint64_t end = sim::now_ns();
    release_entries(state.get());
    std::printf("first start: %s, %.3f s simulated, %u ensembles\n",
                outcome.reached_menu ? "menu reached" : "MENU NOT REACHED",
                static_cast<double>(end - start) / 1e9, state->radio.stations.num_ensembles);
    return outcome.reached_menu ? 0 : 1;
}

int prepare_takeover(const std::string &dir, bool powered_down) {
    std::filesystem::remove_all(dir);
    enter(dir);
    sim::use_directory(dir + "/board");
    sim::set_chip_running();
    auto state = fresh_state();
    {
        QuietStdout quiet;
        if (Si468x_bus_init() < 0) {
            return 1;
        }
        Si468x_DAB_get_freq_list(state->frequencies, SI468X_MAX_FREQ_LIST, &state->num_frequencies);
        DAB_do_full_scan(&state->radio.stations, state->frequencies, state->num_frequencies);
        if (DAB_save_scan_results(&state->radio.stations, CORVANE_RADIO_STATION_LIST,
                                  state->radio.volume) != 0) {
            return 1;
        }
    }
    const int service = state->radio.stations.num_ensembles > 0
                            ? audio_service(&state->radio.stations.ensembles[0], 0)
                            : -1;
    if (service < 0) {
        return 1;
    }
    Si468x_Service decoded{};
    Si468x_get_digital_service(&state->radio.stations.ensembles[0], static_cast<uint8_t>(service),
                               &decoded);
    if (powered_down) {
        // As the quit key leaves it: the next start runs the full bring-up.
        Si468x_power_down();
    }
    // Otherwise the chip stays up, as an earlier run ended by ctrl+c leaves it.
    sim::save_state();
    std::printf("%lu\n", static_cast<unsigned long>(decoded.service_id));
    return 0;
}

} // namespace bench
