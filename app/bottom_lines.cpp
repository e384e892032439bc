// SPDX-License-Identifier: GPL-3.0-or-later
// The playback status and station lines at the bottom of the screen, kept as
// they were last written so that a new layout after a terminal resize shows
// them again where the new size puts them.
#include <cstdarg>
#include <cstdio>

#include "CorvaneRadio.h"

char CorvaneRadio_BottomLines[CORVANE_RADIO_BOTTOM_LINES][CORVANE_RADIO_BOTTOM_LINE_SIZE];

void bottom_line_print(uint8_t from_bottom, const char *format, ...) {
    if (from_bottom == 0 || from_bottom > CORVANE_RADIO_BOTTOM_LINES) {
        return;
    }
    char *line = CorvaneRadio_BottomLines[from_bottom - 1];
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, CORVANE_RADIO_BOTTOM_LINE_SIZE, format, arguments);
    va_end(arguments);
    mvaddstr(LINES - from_bottom, 0, line);
}

void bottom_lines_redraw(void) {
    for (uint8_t row = 1; row <= CORVANE_RADIO_BOTTOM_LINES; ++row) {
        const char *line = CorvaneRadio_BottomLines[row - 1];
        if (line[0] != '\0') {
            mvaddstr(LINES - row, 0, line);
        }
    }
}

void bottom_lines_forget(void) {
    for (auto &line : CorvaneRadio_BottomLines) {
        line[0] = '\0';
    }
}
