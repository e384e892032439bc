// SPDX-License-Identifier: GPL-3.0-or-later
// A key loop nobody can use: standard input is no terminal (the autostart
// unit gives /dev/null) or its terminal has hung up. Waiting for keys there
// would wait until a time-out kills the run; the run ends instead, with the
// outcome where a journal or a log reads it.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "CorvaneRadio.h"

bool input_ended(void) {
    if (isatty(STDIN_FILENO) == 0) {
        return true;
    }
    pollfd input{};
    input.fd = STDIN_FILENO;
    input.events = POLLIN;
    return poll(&input, 1, 0) == 1 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void input_ended_print_outcome(void) {
    const char *line = CorvaneRadio_BottomLines[CORVANE_RADIO_STATUS_ROW - 1];
    std::size_t length = std::strlen(line);
    // The blanks that clear the screen row mean nothing on the console.
    while (length > 0 && line[length - 1] == ' ') {
        --length;
    }
    std::printf("%.*s\n", static_cast<int>(length), line);
    std::fflush(stdout);
}
