// SPDX-License-Identifier: GPL-3.0-or-later
// The root check and the command line.
#include <cstdio>

#include <unistd.h>

#include "CorvaneRadio.h"

namespace {

// A service identifier has at most 10 decimal digits; an eleventh position
// that is not the word's end rejects the word.
constexpr int CORVANE_RADIO_SERVICE_ID_POSITIONS = 11;

} // namespace

int check_sudo(void) {
    // Peripheral access on the Pi needs root rights.
    if (geteuid() == 0) {
        return 0;
    }
    std::puts("Must be called as root. Did you forget sudo?");
    return 1;
}

void print_usage(void) {
    std::puts("Useage either without arguments: sudo ./Tunelark,");
    std::puts("or with Service Identifier: sudo ./Tunelark -S [service identifier number].");
    std::puts("See the stationlist.txt file to find the service identifier number of a service");
}

uint32_t parse_cmd_line_args(int argc, const char *const argv[]) {
    // A count of 0 (a caller that passed no program name) has no arguments
    // either.
    if (argc <= 1) {
        return 0;
    }
    // The second word is only a marker ("-S" in the usage); any word will do.
    if (argc == 3) {
        const char *word = argv[2];
        uint32_t value = 0;
        for (int position = 0; position < CORVANE_RADIO_SERVICE_ID_POSITIONS; ++position) {
            const char c = word[position];
            if (c == '\0') {
                return value;
            }
            if (c < '0' || c > '9') {
                break;
            }
            // Unsigned arithmetic: a ten-digit number above 2^32 - 1 wraps.
            value = value * 10u + static_cast<uint32_t>(c - '0');
        }
        // A non-digit, or an eleventh digit, is no service identifier.
    }
    print_usage();
    return 0;
}
