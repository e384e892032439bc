// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built si468x-diag against a simulated board kept in a temporary
// directory, and captures what it prints and how it exits.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "Trace.h"
#include "exec_image.h"
#include "scratch_dir.h"

namespace diagtest {

struct RunResult {
    int exit_status = -1; // -1 when the program did not exit normally
    int signal = 0;       // the signal that ended it, if one did
    std::string out;      // standard output
    std::string err;      // standard error
    bool timed_out = false;

    // stdout and stderr together, for messages whose stream does not matter.
    std::string all() const { return out + err; }
};

// One frame of the board's trace file, read by the board's own reader.
using sim::read_trace;
using sim::TraceFrame;

// A simulated board in a fresh temporary directory, removed at the end.
// Every run sees SI468X_SIM_BOARD=<dir> and SI468X_SIM_CLOCK=virtual, plus
// the variables given to it; SI468X_SIM_* variables of the test's own
// environment are not passed on.
class SimBoardDir {
public:
    SimBoardDir();
    SimBoardDir(const SimBoardDir &) = delete;
    SimBoardDir &operator=(const SimBoardDir &) = delete;

    const std::string &path() const { return dir_.path(); }
    // A file name inside the directory (not created).
    std::string file(const std::string &name) const { return dir_.file(name); }

    // Runs si468x-diag with the arguments; `env` adds or overrides variables
    // (SI468X_SIM_FAULTS, SI468X_SIM_BAND, ...). With `as_user` the program
    // runs under that user id (the test itself must be root for that).
    RunResult run(const std::vector<std::string> &args,
                  const std::map<std::string, std::string> &env = {},
                  std::optional<uid_t> as_user = std::nullopt) const;
    // The same, with SI468X_SIM_TRACE set to a fresh trace file whose frames
    // are returned in `frames`.
    RunResult run_traced(const std::vector<std::string> &args, std::vector<TraceFrame> &frames,
                         const std::map<std::string, std::string> &env = {}) const;

    // Names of the entries in the directory.
    std::vector<std::string> entries() const;

private:
    tunelark::test::ScratchDir dir_;
    mutable int trace_runs_ = 0;
};

// Runs a program with these arguments and environment, standard input from
// /dev/null; killed when it runs longer than `timeout_s`.
RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const tunelark::test::ChildEnvironment &environment,
                      std::optional<uid_t> as_user, int timeout_s);

// Number of commands with this opcode written to the chip (reply reads, whose
// first byte is 0x00, are not commands).
std::size_t count_commands(const std::vector<TraceFrame> &frames, uint8_t opcode);

using tunelark::test::read_file;
using tunelark::test::write_file;

// How often `part` occurs in `text`, overlaps counted.
std::size_t occurrences(const std::string &text, const std::string &part);
// A firmware image of the build's image directory.
std::string image_path(const char *name);

// The lines of a text; the last one without its line end.
std::vector<std::string> lines_of(const std::string &text);
// The value printed after a label of the driver's printouts: the line that
// starts with `label`, with the label and the padding to column 44 removed.
std::optional<std::string> printed_value(const std::string &text, const std::string &label);
// Every such value, in the order printed.
std::vector<std::string> printed_values(const std::string &text, const std::string &label);

} // namespace diagtest
