// SPDX-License-Identifier: GPL-3.0-or-later
#include "DiagRun.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace diagtest {

namespace {

constexpr int run_timeout_s = 90;

std::vector<uint8_t> parse_hex(const std::string &text) {
    std::vector<uint8_t> bytes;
    std::string digits;
    for (const char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits += c;
        }
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The test's environment without the simulated board's own variables and
// without a locale (decoded labels follow it), so a developer's shell
// settings cannot leak into a run.
std::vector<std::string> base_environment() {
    std::vector<std::string> environment;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "SI468X_SIM_", 11) != 0 && std::strncmp(*entry, "LANG", 4) != 0 &&
            std::strncmp(*entry, "LC_", 3) != 0) {
            environment.emplace_back(*entry);
        }
    }
    return environment;
}

} // namespace

SimBoardDir::SimBoardDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "si468x-diag-test-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

SimBoardDir::~SimBoardDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

RunResult SimBoardDir::run(const std::vector<std::string> &args,
                           const std::map<std::string, std::string> &env,
                           std::optional<uid_t> as_user) const {
    std::map<std::string, std::string> variables{{"SI468X_SIM_BOARD", path_},
                                                 {"SI468X_SIM_CLOCK", "virtual"}};
    for (const auto &[name, value] : env) {
        variables[name] = value;
    }
    std::vector<std::string> environment = base_environment();
    for (const auto &[name, value] : variables) {
        environment.push_back(name + "=" + value);
    }
    RunResult result =
        run_program(TUNELARK_DIAG_PROGRAM, args, environment, as_user, run_timeout_s);
    // Many runs are expected to fail with status 1; a crash or a sanitizer
    // report must not pass for such a failure.
    EXPECT_FALSE(result.timed_out) << "si468x-diag did not finish";
    EXPECT_EQ(result.signal, 0) << "si468x-diag was killed by signal " << result.signal;
    for (const char *report : {"AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
        EXPECT_EQ(result.err.find(report), std::string::npos) << result.err;
    }
    return result;
}

RunResult SimBoardDir::run_traced(const std::vector<std::string> &args,
                                  std::vector<TraceFrame> &frames,
                                  const std::map<std::string, std::string> &env) const {
    const std::string trace = file("trace-" + std::to_string(++trace_runs_));
    auto variables = env;
    variables["SI468X_SIM_TRACE"] = trace;
    RunResult result = run(args, variables);
    frames = read_trace(trace);
    return result;
}

std::vector<std::string> SimBoardDir::entries() const {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::vector<std::string> &environment, std::optional<uid_t> as_user,
                      int timeout_s) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const auto &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char *> envp;
    for (const auto &entry : environment) {
        envp.push_back(const_cast<char *>(entry.c_str()));
    }
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        close(out_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[0]);
        close(err_pipe[1]);
        const int null_in = open("/dev/null", O_RDONLY);
        if (null_in >= 0) {
            dup2(null_in, STDIN_FILENO);
        }
        if (as_user && (setgid(*as_user) != 0 || setuid(*as_user) != 0)) {
            _exit(126);
        }
        execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_s);
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int open_pipes = 2;
    while (open_pipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (const auto &fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

std::vector<TraceFrame> read_trace(const std::string &path) {
    std::vector<TraceFrame> frames;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto bar = line.find('|');
        if (bar == std::string::npos) {
            continue;
        }
        // "<start> <end> <out hex> | <in hex>": the out bytes follow the
        // second blank.
        const auto first_blank = line.find(' ');
        const auto second_blank =
            first_blank == std::string::npos ? first_blank : line.find(' ', first_blank + 1);
        if (second_blank == std::string::npos || second_blank > bar) {
            continue;
        }
        TraceFrame frame;
        frame.out = parse_hex(line.substr(second_blank + 1, bar - second_blank - 1));
        frame.in = parse_hex(line.substr(bar + 1));
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::size_t count_commands(const std::vector<TraceFrame> &frames, uint8_t opcode) {
    std::size_t count = 0;
    for (const auto &frame : frames) {
        if (!frame.out.empty() && frame.out[0] == opcode && opcode != 0x00) {
            ++count;
        }
    }
    return count;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

void write_file(const std::string &path, const std::string &contents) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> printed_values(const std::string &text, const std::string &label) {
    constexpr std::size_t value_column = 44;
    std::vector<std::string> values;
    for (const auto &line : lines_of(text)) {
        if (line.size() >= value_column && line.rfind(label, 0) == 0 &&
            line.find_first_not_of(' ', label.size()) >= value_column) {
            values.push_back(line.substr(value_column));
        }
    }
    return values;
}

std::optional<std::string> printed_value(const std::string &text, const std::string &label) {
    auto values = printed_values(text, label);
    if (values.empty()) {
        return std::nullopt;
    }
    return values.front();
}

} // namespace diagtest
