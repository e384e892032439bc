// SPDX-License-Identifier: GPL-3.0-or-later
// The first-start notice, shown when no station list exists yet.
#include <cstdio>

#include "CorvaneRadio.h"

void print_new_start_banner(void) {
    std::puts("Please note:");
    std::puts(
        "No station list (stationlist.txt) was found here, so this is taken as a first start.");
    std::puts("The receiver will scan the whole DAB band for ensembles and their services.");
    std::puts("This takes a while; the stations found are saved for the next start.");
    std::puts("");
    std::puts("Please confirm with pressing ENTER");
    std::fflush(stdout);
    // Unbuffered, so the wait consumes its line and nothing more: keys typed
    // ahead stay for the menu, which reads the descriptor itself.
    std::setvbuf(stdin, nullptr, _IONBF, 0);
    // End of input (no terminal, or input closed) counts as confirmation: the
    // start goes on rather than waiting for a newline that cannot come.
    int c = 0;
    do {
        c = std::getchar();
    } while (c != '\n' && c != EOF);
}
