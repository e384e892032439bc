// SPDX-License-Identifier: GPL-3.0-or-later
// A key loop nobody can use: standard input is at its end (the autostart
// unit gives /dev/null, a pipe whose writer is gone and nothing left in it)
// or its terminal has hung up. Waiting for keys there
// would wait until a time-out kills the run; the run ends instead, with the
// outcome where a journal or a log reads it.
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "CorvaneRadio.h"

bool input_ended(void) {
    pollfd input{};
    input.fd = STDIN_FILENO;
    input.events = POLLIN;
    const bool polled = poll(&input, 1, 0) == 1;
    const bool hung_up = polled && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    if (isatty(STDIN_FILENO) != 0) {
        return hung_up;
    }
    struct stat info {};
    if (fstat(STDIN_FILENO, &info) != 0) {
        return true;
    }
    // A device that is no terminal (/dev/null) never brings a key; a file
    // brings what is left of it; a pipe what is in it until its writer is gone.
    if (S_ISCHR(info.st_mode)) {
        return true;
    }
    if (S_ISREG(info.st_mode)) {
        return lseek(STDIN_FILENO, 0, SEEK_CUR) >= info.st_size;
    }
    return hung_up && (input.revents & POLLIN) == 0;
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
