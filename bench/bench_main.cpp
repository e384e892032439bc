// SPDX-License-Identifier: GPL-3.0-or-later
// tunelark-bench: the benchmark program. Not part of the test suite;
// scripts/bench.sh runs every mode and writes the table and the picture.
//
//   tunelark-bench table OUT_DIR          every path on both link paths (a Pi 4 and
//                                         a Pi 5 board): the table, timeline.dat
//   tunelark-bench self-check OUT_DIR     the same with a chip 50 us slower per
//                                         command than its model: must exceed the floors
//   tunelark-bench first-start WORK_DIR   the first start only (instruction count)
//   tunelark-bench prepare DIR [down]     a board and station list for the real binary
//   tunelark-bench idle PROGRAM DIR OUT_DIR [SECONDS [TRACE_SECONDS]]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "Bench.h"

namespace {

int usage() {
    std::fputs("usage: tunelark-bench table OUT_DIR\n"
               "       tunelark-bench self-check OUT_DIR\n"
               "       tunelark-bench first-start WORK_DIR\n"
               "       tunelark-bench prepare DIR [down]\n"
               "       tunelark-bench idle PROGRAM DIR OUT_DIR [SECONDS [TRACE_SECONDS]]\n",
               stderr);
    return 2;
}

int table(const std::string &out_dir) {
    namespace fs = std::filesystem;
    const std::string out = fs::absolute(out_dir).string();
    fs::create_directories(out);
    std::string text;
    std::string markdown;
    bool ok = true;
    // Both paths of the link, one after the other; the first start of the
    // bcm2835 path draws the timeline.
    for (const bench::BenchBoard &board : bench::bench_boards) {
        const bench::BenchRun run = bench::run_paths(out + "/work", 0, board);
        text += bench::format_table(run, false) + "\n";
        markdown += bench::format_table(run, true) + "\n";
        if (&board == &bench::bench_boards[0] &&
            !bench::write_timeline(run.timeline, out + "/timeline.dat")) {
            std::fprintf(stderr, "cannot write %s/timeline.dat\n", out.c_str());
            return 1;
        }
        for (const bench::PathResult &path : run.paths) {
            ok = ok && path.check.empty();
        }
    }
    std::fputs(text.c_str(), stdout);
    std::ofstream(out + "/table.txt") << text;
    std::ofstream(out + "/table.md") << markdown;
    return ok ? 0 : 1;
}

// With every busy time 50 us longer than the model's table the floors (taken
// from the table) must fall short: every path that sends a command must come
// out above 1.
int self_check(const std::string &out_dir) {
    namespace fs = std::filesystem;
    const std::string out = fs::absolute(out_dir).string();
    fs::create_directories(out);
    constexpr uint64_t SLOW_NS = 50'000;
    int failures = 0;
    for (const bench::BenchBoard &board : bench::bench_boards) {
        const bench::BenchRun run = bench::run_paths(out + "/self-check", SLOW_NS, board);
        std::fputs(bench::format_table(run, false).c_str(), stdout);
        for (const bench::PathResult &path : run.paths) {
            if (path.ratio() <= 1.0) {
                std::fprintf(stderr, "self-check: %s (%s) stays at ratio %.5f with a slower chip\n",
                             path.name.c_str(), board.name, path.ratio());
                ++failures;
            }
        }
    }
    std::printf("self-check: %s\n",
                failures == 0 ? "every path above its floor with a slower chip" : "FAILED");
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    try {
        if (mode == "table") {
            return table(argv[2]);
        }
        if (mode == "self-check") {
            return self_check(argv[2]);
        }
        if (mode == "first-start") {
            return bench::run_first_start_only(std::filesystem::absolute(argv[2]).string());
        }
        if (mode == "prepare") {
            const bool down = argc >= 4 && std::string(argv[3]) == "down";
            return bench::prepare_takeover(std::filesystem::absolute(argv[2]).string(), down);
        }
        if (mode == "idle" && argc >= 5) {
            bench::IdleOptions options;
            options.program = std::filesystem::absolute(argv[2]).string();
            options.dir = std::filesystem::absolute(argv[3]).string();
            options.out_dir = std::filesystem::absolute(argv[4]).string();
            if (argc >= 6) {
                options.seconds = static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10));
            }
            if (argc >= 7) {
                options.trace_seconds = static_cast<unsigned>(std::strtoul(argv[6], nullptr, 10));
            }
            std::filesystem::create_directories(options.out_dir);
            return bench::run_idle(options);
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tunelark-bench: %s\n", error.what());
        return 1;
    }
    return usage();
}
