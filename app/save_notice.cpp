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

// The status line the notice took the place of, given back once a save works,
// and the notice as shown.
char CorvaneRadio_StatusUnderNotice[CORVANE_RADIO_BOTTOM_LINE_SIZE];
char CorvaneRadio_SaveNotice[CORVANE_RADIO_BOTTOM_LINE_SIZE];

void station_menu_save_volume(CorvaneRadio_State *state) {
    char held[SAVE_NOTICE_ROOM];
    DABUtils_hold_output(held, sizeof held);
    const int16_t status = station_list_save(state);
    DABUtils_hold_output(nullptr, 0);

    if (status == 0) {
        // Only while the notice is still up: a station started since then
        // wrote a status line of its own.
        if (state->save_notice_shown != 0 &&
            std::strcmp(CorvaneRadio_BottomLines[CORVANE_RADIO_STATUS_ROW - 1],
                        CorvaneRadio_SaveNotice) == 0) {
            bottom_line_print(CORVANE_RADIO_STATUS_ROW, "%s", CorvaneRadio_StatusUnderNotice);
            clrtoeol();
        }
        state->save_notice_shown = 0;
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
    const std::size_t width = COLS > 1 ? static_cast<std::size_t>(COLS - 1) : 0;
    if (width < std::strlen(line)) {
        line[width] = '\0';
    }
    if (state->save_notice_shown == 0 ||
        std::strcmp(CorvaneRadio_BottomLines[CORVANE_RADIO_STATUS_ROW - 1],
                    CorvaneRadio_SaveNotice) != 0) {
        std::memcpy(CorvaneRadio_StatusUnderNotice,
                    CorvaneRadio_BottomLines[CORVANE_RADIO_STATUS_ROW - 1],
                    sizeof CorvaneRadio_StatusUnderNotice);
    }
    // Kept like a status line, so a new layout shows it again.
    bottom_line_print(CORVANE_RADIO_STATUS_ROW, "%s", line);
    clrtoeol();
    std::memcpy(CorvaneRadio_SaveNotice, CorvaneRadio_BottomLines[CORVANE_RADIO_STATUS_ROW - 1],
                sizeof CorvaneRadio_SaveNotice);
    state->save_notice_shown = 1;
}
