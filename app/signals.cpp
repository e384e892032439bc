// SPDX-License-Identifier: GPL-3.0-or-later
// The ways out by signal. An interrupt, a termination (systemctl stop), a
// hang-up (an SSH connection dropping) and a quit (ctrl+\) end the run as
// ctrl+c always promised: the terminal given back, the chip left exactly as
// it is (playing), exit status 0. The handler only records the signal; the
// run ends at its next safe point (the key loop's next pass, the end of a
// scan or a save), so no station list is ever left half written and no
// curses or stdio call runs inside a handler. A broken output pipe is
// ignored: the write fails and the run goes on to a clean end.
#include <csignal>

#include "CorvaneRadio.h"

namespace {

volatile std::sig_atomic_t CorvaneRadio_Signal = 0;

void signals_record(int signal_number) {
    CorvaneRadio_Signal = signal_number;
}

} // namespace

void signals_install(void) {
    struct sigaction action {};
    action.sa_handler = signals_record;
    sigemptyset(&action.sa_mask);
    // Reads and writes of files and the console go on after the handler;
    // the key read's wait returns at once either way.
    action.sa_flags = SA_RESTART;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        sigaction(signal_number, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool signals_pending(void) {
    return CorvaneRadio_Signal != 0;
}
