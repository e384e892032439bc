// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program as a child process with pipes for its standard streams: a
// working directory, an environment of the test's choosing, input written or
// held open, an optional unprivileged user, and a time limit after which the
// child is killed. The one runner of the test programs; header-only.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "exec_image.h"

namespace tunelark::test {

struct ProgramOptions {
    std::string program;                                  // path of the executable
    std::vector<std::string> args;                        // arguments after the name
    std::optional<std::string> argv0;                     // default: program
    std::string cwd;                                      // default: the test's own
    std::vector<std::pair<std::string, std::string>> env; // set on top of the inherited
    // The terminal type and the locale come from the test, never from the
    // shell that runs it: what the radio shows depends on both.
    std::vector<std::string> env_prefixes_removed{"SI468X_SIM_", "TERM", "LANG", "LC_"};
    std::optional<uid_t> uid; // run as this user (and gid)
    std::optional<gid_t> gid;
    bool stdin_null = false; // /dev/null instead of a pipe
};

struct ProgramResult {
    std::string out;
    std::string err;
    bool exited = false;
    int exit_status = -1; // when exited
    int signal = 0;       // when killed by a signal
    bool timed_out = false;
    std::chrono::milliseconds elapsed{0};
};

// A running child. The destructor kills and reaps a child still running.
class RunningProgram {
public:
    explicit RunningProgram(const ProgramOptions &options) {
        // Writing to a child that has gone must give EPIPE, not end the test.
        std::signal(SIGPIPE, SIG_IGN);
        const ExecImage image(options.program, options.args,
                              {true, options.env_prefixes_removed, options.env}, options.argv0);
        int in[2] = {-1, -1};
        int out[2] = {-1, -1};
        int err[2] = {-1, -1};
        if ((!options.stdin_null && pipe2(in, O_CLOEXEC) != 0) || pipe2(out, O_CLOEXEC) != 0 ||
            pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }

        start_ = std::chrono::steady_clock::now();
        pid_ = fork();
        if (pid_ < 0) {
            throw std::runtime_error("fork failed");
        }
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            std::signal(SIGPIPE, SIG_DFL);
            if (options.stdin_null) {
                const int null = open("/dev/null", O_RDONLY);
                dup2(null, 0);
            } else {
                dup2(in[0], 0);
            }
            dup2(out[1], 1);
            dup2(err[1], 2);
            if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
                _exit(126);
            }
            if (options.gid && (setgroups(0, nullptr) != 0 || setgid(*options.gid) != 0)) {
                _exit(126);
            }
            if (options.uid && setuid(*options.uid) != 0) {
                _exit(126);
            }
            image.exec();
            _exit(127);
        }
        if (!options.stdin_null) {
            close(in[0]);
            in_ = in[1];
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        fcntl(out_, F_SETFL, O_NONBLOCK);
        fcntl(err_, F_SETFL, O_NONBLOCK);
    }

    RunningProgram(const RunningProgram &) = delete;
    RunningProgram &operator=(const RunningProgram &) = delete;

    ~RunningProgram() {
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        close_input();
        for (int fd : {out_, err_}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    // False when the child no longer reads its input.
    bool write_input(std::string_view text) {
        while (!text.empty() && in_ >= 0) {
            const ssize_t n = ::write(in_, text.data(), text.size());
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            text.remove_prefix(static_cast<std::size_t>(n));
        }
        return text.empty();
    }

    void close_input() {
        if (in_ >= 0) {
            close(in_);
            in_ = -1;
        }
    }

    // Collects output until `text` has appeared on standard output, the child
    // has ended or the time is up. True when the text appeared.
    bool wait_for_output(std::string_view text, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (result_.out.find(text) == std::string::npos) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline || !pump(deadline - now)) {
                return result_.out.find(text) != std::string::npos;
            }
        }
        return true;
    }

    // Collects output for this long (or until the child's output ends).
    void collect_for(std::chrono::milliseconds span) {
        const auto deadline = std::chrono::steady_clock::now() + span;
        for (auto now = std::chrono::steady_clock::now(); now < deadline;
             now = std::chrono::steady_clock::now()) {
            if (!pump(deadline - now)) {
                break;
            }
        }
    }

    // True while the child has not exited (reaps it when it has).
    pid_t pid() const { return pid_; }

    bool running() {
        if (reaped_) {
            return false;
        }
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            record_exit(status);
            return false;
        }
        return true;
    }

    const std::string &output() const { return result_.out; }

    // Waits for the end, killing the child when the limit passes first; the
    // output is collected to its end.
    ProgramResult finish(std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (true) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) {
                break;
            }
            if (!pump(std::min<std::chrono::steady_clock::duration>(
                    deadline - now, std::chrono::milliseconds(50)))) {
                // Output closed: the child is ending (or closed its streams).
                if (!running()) {
                    break;
                }
                usleep(1000);
            }
        }
        if (running()) {
            result_.timed_out = true;
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            record_exit(status);
        }
        drain();
        result_.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start_);
        return result_;
    }

private:
    // Reads what is available within `wait`. False when both output streams
    // have ended.
    bool pump(std::chrono::steady_clock::duration wait) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        const int open_streams = (out_ >= 0 ? 1 : 0) + (err_ >= 0 ? 1 : 0);
        if (open_streams == 0) {
            return false;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(wait).count();
        const int ready = poll(fds, 2, static_cast<int>(std::max<long long>(ms, 0)));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        read_from(out_, result_.out);
        read_from(err_, result_.err);
        return out_ >= 0 || err_ >= 0;
    }

    void drain() {
        while (out_ >= 0 || err_ >= 0) {
            if (!pump(std::chrono::milliseconds(0)) || (!readable(out_) && !readable(err_))) {
                break;
            }
        }
    }

    static bool readable(int fd) {
        if (fd < 0) {
            return false;
        }
        pollfd one{fd, POLLIN, 0};
        return poll(&one, 1, 0) > 0;
    }

    static void read_from(int &fd, std::string &sink) {
        if (fd < 0) {
            return;
        }
        char buffer[4096];
        while (true) {
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n > 0) {
                sink.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0) {
                close(fd);
                fd = -1;
            } else if (errno == EINTR) {
                continue;
            }
            return; // EAGAIN: nothing more for now
        }
    }

    void record_exit(int status) {
        reaped_ = true;
        if (WIFEXITED(status)) {
            result_.exited = true;
            result_.exit_status = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            result_.signal = WTERMSIG(status);
        }
    }

    pid_t pid_ = -1;
    bool reaped_ = false;
    int in_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::chrono::steady_clock::time_point start_;
    ProgramResult result_;
};

// Runs the program with `input` on its standard input (closed afterwards) and
// waits for its end, at most `limit`.
inline ProgramResult run_program(const ProgramOptions &options, std::string_view input = {},
                                 std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    RunningProgram child(options);
    child.write_input(input);
    child.close_input();
    return child.finish(limit);
}

} // namespace tunelark::test
