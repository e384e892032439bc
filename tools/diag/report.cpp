// SPDX-License-Identifier: GPL-3.0-or-later
// Failure messages. They go to standard error; the driver's printouts and the
// results go to standard output, which is flushed first so that a terminal
// shows both in the order they happened.
#include <cstdio>

#include "Diag.h"

namespace diag {

namespace {

void print_error(const std::string &message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message.c_str());
}

std::string status_text(int16_t status, int32_t location) {
    return "failed with status " + std::to_string(status) + " at location " +
           std::to_string(location);
}

} // namespace

int fail_driver(const std::string &what, int16_t status) {
    print_error(what + ": " + status_text(status, Si468x_ErrorCode));
    return exit_failed;
}

int fail_dab(const std::string &what, int16_t status) {
    print_error(what + ": " + status_text(status, DABUtils_ErrorCode));
    return exit_failed;
}

int fail(const std::string &message) {
    print_error(message);
    return exit_failed;
}

int check_regular_file(const std::string &what, const std::string &path) {
    // Looked at before the board is touched: opening a named pipe would wait
    // for ever for its other end, and a device is no file to read or log to.
    const DAB_PathKind kind = DAB_path_kind(path.c_str());
    if (kind == DAB_PATH_NONE || kind == DAB_PATH_REGULAR) {
        return exit_ok;
    }
    return fail(what + ": " + path + " is " + DAB_path_kind_name(kind) + ", not a regular file");
}

int usage_error(const std::string &message) {
    print_error(std::string(program_name) + ": " + message);
    print_error(std::string("Try '") + program_name + " --help'.");
    return exit_usage;
}

} // namespace diag
