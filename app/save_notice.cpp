// SPDX-License-Identifier: GPL-3.0-or-later
// A volume key's save while the menu owns the screen: the console text of a
// failed save would be written into the curses screen and garble it, so it
// is held and shown on the bottom line instead, where it stays until a later
// save succeeds.
#include <cstdio>
#include <cstring>

#include "CorvaneRadio.h"

namespace {

// Room for the error line of a failed save and what comes with it.
constexpr std::size_t SAVE_NOTICE_ROOM = 200;

} // namespace

void station_menu_save_volume(CorvaneRadio_State *state) {
    char held[SAVE_NOTICE_ROOM];
    DABUtils_hold_output(held, sizeof held);
    const int16_t status = station_list_save(state);
    DABUtils_hold_output(nullptr, 0);

    if (status == 0) {
        if (state->save_notice_shown != 0) {
            move(LINES - 1, 0);
            clrtoeol();
            state->save_notice_shown = 0;
        }
        return;
    }
    // One line: the held text without its line ends.
    for (char *end = std::strchr(held, '\n'); end != nullptr; end = std::strchr(end, '\n')) {
        *end = ' ';
    }
    char line[SAVE_NOTICE_ROOM + 64];
    std::snprintf(line, sizeof line, "Volume %u not saved: %s",
                  static_cast<unsigned>(state->volume), held);
    // The last column stays free: a character there would scroll the screen.
    const int width = COLS > 1 ? COLS - 1 : 0;
    mvaddnstr(LINES - 1, 0, line, width);
    clrtoeol();
    state->save_notice_shown = 1;
}
