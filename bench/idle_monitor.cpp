// SPDX-License-Identifier: GPL-3.0-or-later
// The real radio idle in its menu on the real-time clock: run in a
// pseudo-terminal of 24 x 80, wait for the menu, take its CPU time from /proc
// over a window, then count its system calls (strace) and its allocation and
// file calls (ltrace) over further windows, and quit with 'x'.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Bench.h"
#include "exec_image.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

struct CpuSample {
    uint64_t ticks = 0;     // utime + stime, clock ticks
    uint64_t run_ns = 0;    // /proc/<pid>/schedstat: time on a CPU
    uint64_t voluntary = 0; // context switches: the process slept
    uint64_t involuntary = 0;
    uint64_t rss_kb = 0;
};

bool read_cpu(pid_t pid, CpuSample *sample) {
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream stat(base + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    // The command name may hold blanks; the fields after it are plain.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(line.substr(close + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;) {
        values.push_back(value);
    }
    // Field 3 (state) is values[0]; utime is field 14, stime field 15.
    if (values.size() < 13) {
        return false;
    }
    sample->ticks = std::stoull(values[11]) + std::stoull(values[12]);
    std::ifstream schedstat(base + "/schedstat");
    schedstat >> sample->run_ns;
    std::ifstream status(base + "/status");
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
            sample->voluntary = std::stoull(line.substr(line.find(':') + 1));
        } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
            sample->involuntary = std::stoull(line.substr(line.find(':') + 1));
        } else if (line.rfind("VmHWM:", 0) == 0) {
            sample->rss_kb = std::stoull(line.substr(line.find(':') + 1));
        }
    }
    return true;
}

// The radio in its pseudo-terminal; what it writes is kept.
class RadioInPty {
public:
    explicit RadioInPty(const IdleOptions &options) {
        // Prepared before the fork: the child may only make async-signal-safe
        // calls until it has exec'd (no setenv, no allocation).
        tunelark::test::ChildEnvironment environment{
            true,
            // The board's own settings only; nothing else of ours leaks in.
            {"SI468X_SIM_"},
            {{"TERM", "xterm"},
             // A UTF-8 terminal: labels and texts go through the
             // wide-character path, as on a desktop terminal.
             {"LANG", "C.UTF-8"},
             {"SI468X_SIM_BOARD", options.dir + "/board"},
             {"SI468X_SIM_CLOCK", "real"}}};
        const tunelark::test::ExecImage image(options.program, {}, environment);
        struct winsize size {};
        size.ws_row = 24;
        size.ws_col = 80;
        pid_ = forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            if (chdir(options.dir.c_str()) != 0) {
                _exit(126);
            }
            image.exec();
            _exit(127);
        }
    }
    RadioInPty(const RadioInPty &) = delete;
    RadioInPty &operator=(const RadioInPty &) = delete;
    ~RadioInPty() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) {
            close(master_);
        }
    }

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    const std::string &output() const { return output_; }

    // Reads what the radio writes for this long (a radio that can't write
    // would block).
    void drain_for(std::chrono::milliseconds span) {
        const auto end = Clock::now() + span;
        while (Clock::now() < end && !exited_) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            read_some(static_cast<int>(std::max<long long>(1, left.count())));
            reap();
        }
    }

    bool wait_for(const std::string &text, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (output_.find(text) == std::string::npos && Clock::now() < end && !exited_) {
            read_some(50);
            reap();
        }
        return output_.find(text) != std::string::npos;
    }

    void send(const std::string &keys) {
        if (write(master_, keys.data(), keys.size()) < 0) {
            std::perror("write to the radio");
        }
    }

    bool wait_exit(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (!exited_ && Clock::now() < end) {
            read_some(50);
            reap();
        }
        return exited_;
    }

private:
    void read_some(int timeout_ms) {
        struct pollfd fd {
            master_, POLLIN, 0
        };
        if (poll(&fd, 1, timeout_ms) > 0) {
            char buffer[4096];
            const ssize_t n = read(master_, buffer, sizeof buffer);
            if (n > 0) {
                output_.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    void reap() {
        if (!exited_ && waitpid(pid_, nullptr, WNOHANG) == pid_) {
            exited_ = true;
        }
    }

    int master_ = -1;
    pid_t pid_ = -1;
    bool exited_ = false;
    std::string output_;
};

// A tracer attached to the radio for a window, stopped with SIGINT; it
// writes its file as it detaches.
void trace_window(RadioInPty &radio, std::vector<std::string> argv, const std::string &file,
                  unsigned seconds) {
    std::remove(file.c_str());
    // Looked up and built before the fork, for the same reason as the radio's.
    const std::string program = tunelark::test::find_in_path(argv.front());
    const std::vector<std::string> args(argv.begin() + 1, argv.end());
    const tunelark::test::ExecImage image(program, args, {}, argv.front());
    const pid_t tracer = fork();
    if (tracer == 0) {
        image.exec();
        _exit(127);
    }
    if (tracer < 0) {
        return;
    }
    radio.drain_for(std::chrono::seconds(seconds));
    kill(tracer, SIGINT);
    waitpid(tracer, nullptr, 0);
}

// strace -c's summary: % time, seconds, usecs/call, calls, [errors,] name.
std::map<std::string, uint64_t> parse_summary(const std::string &path) {
    std::map<std::string, uint64_t> calls;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) {
            fields.push_back(word);
        }
        if (fields.size() < 5 || fields[0] == "%" || fields[0][0] == '-' ||
            fields.back() == "total") {
            continue;
        }
        calls[fields.back()] = std::strtoull(fields[3].c_str(), nullptr, 10);
    }
    return calls;
}

// An ltrace log of single calls ("<pid> [<ip>] <caller>-><name>(...) = ..."):
// calls counted by name.
std::map<std::string, uint64_t> parse_call_log(const std::string &path) {
    std::map<std::string, uint64_t> calls;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        const auto arrow = line.find("->");
        const auto open = line.find('(', arrow == std::string::npos ? 0 : arrow);
        if (arrow == std::string::npos || open == std::string::npos) {
            continue;
        }
        ++calls[line.substr(arrow + 2, open - arrow - 2)];
    }
    return calls;
}

std::string rates(const std::map<std::string, uint64_t> &calls, unsigned seconds) {
    std::vector<std::pair<uint64_t, std::string>> sorted;
    for (const auto &[name, count] : calls) {
        sorted.emplace_back(count, name);
    }
    std::sort(sorted.rbegin(), sorted.rend());
    std::string text;
    char line[160];
    for (const auto &[count, name] : sorted) {
        std::snprintf(line, sizeof line, "  %-24s %8llu calls  %8.2f /s\n", name.c_str(),
                      static_cast<unsigned long long>(count), static_cast<double>(count) / seconds);
        text += line;
    }
    return text.empty() ? "  (none)\n" : text;
}

// System calls, then library calls, each over its own window of the idle
// menu: the tracers slow the radio down, so the CPU window comes first.
std::string trace_idle(RadioInPty &radio, const IdleOptions &options) {
    std::string report;
    char line[256];
    const std::string pid = std::to_string(radio.pid());
    const std::string strace_file = options.out_dir + "/idle-strace.txt";
    trace_window(radio, {"strace", "-c", "-f", "-qq", "-o", strace_file, "-p", pid}, strace_file,
                 options.trace_seconds);
    const auto syscalls = parse_summary(strace_file);
    std::snprintf(line, sizeof line, "system calls over %u s (strace -c -p)%s:\n",
                  options.trace_seconds, syscalls.empty() ? " -- NO SUMMARY" : "");
    report += line + rates(syscalls, options.trace_seconds);

    // Library calls made from the radio's binary (the radio, the driver and the
    // simulated board linked into it), each with its call site, so that
    // scripts/bench.sh can tell whose code allocates. wgetch counts the passes.
    const std::string ltrace_file = options.out_dir + "/idle-ltrace.txt";
    // /proc files show no size, so they are copied by reading.
    std::ofstream(options.out_dir + "/idle-maps.txt")
        << std::ifstream("/proc/" + pid + "/maps").rdbuf();
    trace_window(radio,
                 {"ltrace", "-i", "-o", ltrace_file, "-p", pid, "-e",
                  "wgetch+malloc+calloc+realloc+free+_Znwm+_Znam+_ZdlPvm+"
                  "_ZdaPv+_ZdlPv+fopen+fopen64+fclose+fread+fwrite+fprintf+"
                  "fputs+fflush+open+open64+openat"},
                 ltrace_file, options.trace_seconds);
    const auto library = parse_call_log(ltrace_file);
    const uint64_t passes = library.count("wgetch") ? library.at("wgetch") : 0;
    std::snprintf(line, sizeof line,
                  "library calls from the radio's binary over %u s (ltrace -i -e): %llu key-loop "
                  "passes%s\n",
                  options.trace_seconds, static_cast<unsigned long long>(passes),
                  library.empty() ? " -- NO CALL SEEN" : "");
    report += line;
    for (const auto &[name, count] : library) {
        std::snprintf(line, sizeof line, "  %-24s %8llu calls  %8.2f a pass\n", name.c_str(),
                      static_cast<unsigned long long>(count),
                      passes ? static_cast<double>(count) / static_cast<double>(passes) : 0.0);
        report += line;
    }

    return report;
}

} // namespace

int run_idle(const IdleOptions &options) {
    RadioInPty radio(options);
    if (!radio.started()) {
        std::perror("forkpty");
        return 1;
    }
    // The menu is up once its help lines are drawn; the entries follow in the
    // same refresh, and a second later the loop runs on its own.
    if (!radio.wait_for("Use Arrow Keys", std::chrono::seconds(60))) {
        std::fprintf(stderr, "the menu did not come up; the radio wrote:\n%s\n",
                     radio.output().c_str());
        return 1;
    }
    radio.drain_for(std::chrono::seconds(1));

    std::string report;
    char line[256];
    CpuSample before;
    CpuSample after;
    const auto t0 = Clock::now();
    if (!read_cpu(radio.pid(), &before)) {
        return 1;
    }
    radio.drain_for(std::chrono::seconds(options.seconds));
    const auto t1 = Clock::now();
    if (!read_cpu(radio.pid(), &after)) {
        return 1;
    }
    const double wall = std::chrono::duration<double>(t1 - t0).count();
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double cpu_ticks_s = static_cast<double>(after.ticks - before.ticks) / ticks;
    const double cpu_run_s = static_cast<double>(after.run_ns - before.run_ns) / 1e9;
    std::snprintf(line, sizeof line,
                  "idle window: %.2f s on the real-time clock\n"
                  "cpu (utime+stime): %.3f s = %.3f %% of one core\n"
                  "cpu (schedstat):   %.4f s = %.3f %% of one core\n"
                  "wake-ups: %.1f voluntary and %.1f involuntary context switches a second\n"
                  "peak RSS so far (VmHWM): %llu kB\n",
                  wall, cpu_ticks_s, 100.0 * cpu_ticks_s / wall, cpu_run_s,
                  100.0 * cpu_run_s / wall,
                  static_cast<double>(after.voluntary - before.voluntary) / wall,
                  static_cast<double>(after.involuntary - before.involuntary) / wall,
                  static_cast<unsigned long long>(after.rss_kb));
    report += line;

    if (options.trace_seconds > 0) {
        report += trace_idle(radio, options);
    }

    radio.send("x");
    const bool quit = radio.wait_exit(std::chrono::seconds(10)) &&
                      radio.output().find("User quits.") != std::string::npos;
    report += quit ? "quit with 'x': \"User quits.\"\n" : "quit with 'x' FAILED\n";

    std::fputs(report.c_str(), stdout);
    std::ofstream(options.out_dir + "/idle.txt") << report;
    return quit ? 0 : 1;
}

} // namespace bench
