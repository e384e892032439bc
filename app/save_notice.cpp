// SPDX-License-Identifier: GPL-3.0-or-later
// A volume key's save while the menu owns the screen: the console text of a
// failed save would be written into the curses screen and garble it, so the
// engine hands the failure back and it is shown on the bottom line instead,
// where it stays until a later save succeeds.
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

namespace {

// What the user reads after "Volume N not saved: " or "not set: ": the words
// the failure printing gives a failed save, or the link's.
void save_notice_reason(const DAB_Volume *result, char *reason, std::size_t room) {
    if (result->outcome == DAB_VOLUME_NOT_SET) {
        link_failure_words(result->link_errno, reason, room);
        return;
    }
    std::snprintf(reason, room, "DABUtils error No: %d, returned retval: %d ",
                  static_cast<int>(result->save_location), static_cast<int>(result->save_status));
}

} // namespace

void station_menu_save_volume(CorvaneRadio_State *state, int volume) {
    DAB_Volume result{};
    DAB_radio_set_volume(&state->radio, volume, CORVANE_RADIO_STATION_LIST, &result);

    if (result.outcome == DAB_VOLUME_SAVED) {
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
    char reason[SAVE_NOTICE_ROOM];
    save_notice_reason(&result, reason, sizeof reason);
    char line[SAVE_NOTICE_ROOM + 64];
    std::snprintf(line, sizeof line, "Volume %u %s: %s", static_cast<unsigned>(volume),
                  result.outcome == DAB_VOLUME_NOT_SET ? "not set" : "not saved", reason);
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
