// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the start sequence and the phase loop. A rescan chosen in the
// menu runs the full bring-up, a forced scan and a new menu.
#include <clocale>
#include <cstdio>

#include "CorvaneRadio.h"

int main(int argc, char *argv[]) {
    CorvaneRadio_State state;
    CorvaneRadio_init_state(&state);

    // Station names are shown in the terminal's own character set, which its
    // locale tells, as the terminal's type tells curses how to drive it.
    std::setlocale(LC_ALL, "");

    // Line by line also on a pipe, so the console lines keep their order
    // with the waits between them and nothing is lost when the run ends.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    std::printf("Starting...Corvane Software %s\n", CORVANE_RADIO_VERSION);
    if (check_sudo() != 0) {
        return 0;
    }
    state.requested_service_id = parse_cmd_line_args(argc, argv);

    // Only a test for the file; the station set-up reads it.
    if (!station_list_present(true)) {
        print_new_start_banner();
    }

    if (Si468x_bus_init() < 0) {
        Si468x_BusHolder holder{};
        if (Si468x_bus_held(&holder) != 0) {
            return main_chip_held();
        }
        return main_failure("Error initializing SPI bus. Check that SPI is enabled and that "
                            "/dev/spidev0.0 exists");
    }
    std::puts("SPI bus enabled.");

    // Only at program start may a running chip be taken over.
    if (!bringup_take_over_running_chip(&state) && bringup_full(&state) != CORVANE_RADIO_GO_ON) {
        return 0;
    }
    for (;;) {
        if (station_setup(&state) != CORVANE_RADIO_GO_ON) {
            return 0;
        }
        if (station_menu(&state) != CORVANE_RADIO_RESCAN) {
            return 0;
        }
        if (bringup_full(&state) != CORVANE_RADIO_GO_ON) {
            return 0;
        }
    }
}
