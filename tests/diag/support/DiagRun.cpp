// SPDX-License-Identifier: GPL-3.0-or-later
#include "DiagRun.h"

#include "run_program.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include <unistd.h>

namespace diagtest {

namespace {

constexpr int run_timeout_s = 90;

} // namespace

SimBoardDir::SimBoardDir() : dir_("si468x-diag-test") {}

RunResult SimBoardDir::run(const std::vector<std::string> &args,
                           const std::map<std::string, std::string> &env,
                           std::optional<uid_t> as_user) const {
    std::map<std::string, std::string> variables{{"SI468X_SIM_BOARD", path()},
                                                 {"SI468X_SIM_CLOCK", "virtual"}};
    for (const auto &[name, value] : env) {
        variables[name] = value;
    }
    // Without the test's own board variables and without a locale (decoded
    // labels follow it), so a developer's shell settings cannot leak into a
    // run.
    tunelark::test::ChildEnvironment environment{true, {"SI468X_SIM_", "LANG", "LC_"}, {}};
    environment.set.assign(variables.begin(), variables.end());
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
    for (const auto &entry : std::filesystem::directory_iterator(path())) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const tunelark::test::ChildEnvironment &environment,
                      std::optional<uid_t> as_user, int timeout_s) {
    tunelark::test::ProgramOptions options;
    options.program = program;
    options.args = args;
    options.env_prefixes_removed = environment.prefixes_removed;
    options.env = environment.set;
    options.stdin_null = true;
    if (as_user) {
        // The user's own number as its group: the users the tests take have
        // a group of the same number.
        options.uid = *as_user;
        options.gid = static_cast<gid_t>(*as_user);
    }
    const auto finished = tunelark::test::run_program(options, {}, std::chrono::seconds(timeout_s));
    RunResult result;
    result.out = finished.out;
    result.err = finished.err;
    result.exit_status = finished.exited ? finished.exit_status : -1;
    result.signal = finished.signal;
    result.timed_out = finished.timed_out;
    return result;
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

std::size_t occurrences(const std::string &text, const std::string &part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string image_path(const char *name) {
    return std::string(TUNELARK_FIRMWARE_IMAGE_DIR) + "/" + name;
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
