// SPDX-License-Identifier: GPL-3.0-or-later
// The benchmark program: the radio's real code paths on the simulated board in
// virtual time, each beside the floor that the prescribed algorithm cannot go
// below on the board's chip model, and the host-side costs of the real binary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "SimBoard.h"

namespace bench {

// One byte on SPI0: 8 bits at the core clock of 250 MHz divided by 32.
constexpr uint64_t BYTE_NS = 1024;

// Where the time of a path goes.
struct Split {
    uint64_t fixed_ns = 0;   // the prescribed fixed waits
    uint64_t wire_ns = 0;    // the bytes of the prescribed exchanges on the wire
    uint64_t chip_ns = 0;    // the chip's busy, tune, acquisition and list times not
                             // already covered by a fixed wait
    uint64_t polling_ns = 0; // the rest of the poll periods the algorithm must take
    uint64_t total() const { return fixed_ns + wire_ns + chip_ns + polling_ns; }
    Split &operator+=(const Split &other);
};

struct Traffic {
    uint64_t frames = 0;
    uint64_t bytes = 0;
};

// One measured path and its floor.
struct PathResult {
    std::string name;
    uint64_t measured_ns = 0;   // simulated time the real code took
    Split floor;                // the prescribed algorithm on the chip model, no host overhead
    Traffic traffic;            // what the real code sent
    Traffic floor_traffic;      // what the prescribed exchanges send
    uint64_t busy_ns = 0;       // busy the chip imposed on the real code
    uint64_t floor_busy_ns = 0; // busy the prescribed exchanges meet on the model
    uint64_t image_bytes = 0;   // HOST_LOAD image bytes sent
    std::string check;          // empty, or what went wrong on the path
    double ratio() const;
};

// The first start's timeline: one row per phase and per scanned frequency.
struct TimelineRow {
    std::string label;
    uint64_t start_ns = 0;
    uint64_t wire_ns = 0;
    uint64_t fixed_ns = 0;      // fixed waits
    uint64_t cts_ns = 0;        // clear-to-send poll waits
    uint64_t tune_poll_ns = 0;  // 100 ms steps of the tune-complete wait
    uint64_t event_poll_ns = 0; // 200 ms steps of the service-list wait
    uint64_t other_wait_ns = 0; // any wait the classification does not know
    uint64_t end_ns() const {
        return start_ns + wire_ns + fixed_ns + cts_ns + tune_poll_ns + event_poll_ns +
               other_wait_ns;
    }
};

struct BenchRun {
    std::string board; // which Pi the board was, and so which path the link took
    std::vector<PathResult> paths;
    std::vector<TimelineRow> timeline;
    uint64_t first_start_wire_ns = 0;
    uint64_t upload_chunk_bytes = 0; // HOST_LOAD frames of the first start, headers included
    uint64_t upload_phase_bytes = 0; // every byte from the first LOAD_INIT to BOOT
    // The kernel path's system calls in the first start (0 on the bcm2835 path).
    uint64_t upload_chunks = 0; // HOST_LOAD frames
    uint64_t chunk_ioctls = 0;  // SPI_IOC_MESSAGE ioctls that carried a chunk
    uint64_t first_start_syscalls = 0;
    uint64_t first_start_frames = 0;
};

// The boards the benchmark runs on: a Pi 4 (bcm2835 library) and a Pi 5
// (spidev and the GPIO character device).
struct BenchBoard {
    sim::PiModel model;
    const char *name;
};
extern const BenchBoard bench_boards[2];

// Runs every path on the simulated board (paths.cpp). A non-zero
// `chip_slow_ns` adds that much to every busy time the chip takes, unknown to
// the floors: the check that the table can show a path above its floor.
BenchRun run_paths(const std::string &work_dir, uint64_t chip_slow_ns = 0,
                   const BenchBoard &board = bench_boards[0]);
// Only the first start's path, for an instruction count (paths.cpp).
int run_first_start_only(const std::string &work_dir);
// A board directory with the DAB image running and a station list beside it,
// for the real binary's takeover start (or, powered down, for a later start
// with the full bring-up); prints the first audio service's id.
int prepare_takeover(const std::string &dir, bool powered_down);

// Builds the timeline from the frames and calls the board recorded
// (timeline.cpp).
std::vector<TimelineRow> build_timeline(uint64_t start_ns);
bool write_timeline(const std::vector<TimelineRow> &rows, const std::string &path);

// The table, as plain text and as Markdown (report.cpp).
std::string format_table(const BenchRun &run, bool markdown);

// The idle measurement of the real binary in a pseudo-terminal
// (idle_monitor.cpp).
struct IdleOptions {
    std::string program;
    std::string dir;             // prepared by prepare_takeover
    unsigned seconds = 30;       // CPU sampling window
    unsigned trace_seconds = 10; // each of the strace and ltrace windows; 0: no tracing
    std::string out_dir;
};
int run_idle(const IdleOptions &options);

} // namespace bench
