// SPDX-License-Identifier: GPL-3.0-or-later
// The station menu: curses set-up and layout, the automatic start of the
// requested service, the key loop with its data-service poll, and the end of
// the menu.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CorvaneRadio.h"

namespace {

constexpr int MENU_WINDOW_ROWS = 14;
constexpr int MENU_WINDOW_COLS = 70;
constexpr int MENU_WINDOW_ROW = 2;
constexpr int MENU_WINDOW_COL = 4;
constexpr int MENU_SUB_ROWS = 12;
constexpr int MENU_SUB_COLS = 68;
constexpr int MENU_FORMAT_ROWS = 12;
constexpr int MENU_FORMAT_COLS = 3;
static_assert(MENU_WINDOW_COL + MENU_WINDOW_COLS == CORVANE_RADIO_MIN_COLS);
static_assert(MENU_WINDOW_ROW + MENU_WINDOW_ROWS + 5 == CORVANE_RADIO_MIN_LINES);

constexpr short COLOR_PAIR_HELP = 1;
constexpr short COLOR_PAIR_STATUS = 2;
constexpr short CORVANE_BLACK = 0;
constexpr short CORVANE_GREEN = 2;
constexpr short CORVANE_BLUE = 4;

constexpr char HELP_LINE_SCROLL[] =
    "Use PageUp and PageDown to scroll, q/w to decrease/increase volume";
constexpr char HELP_LINE_KEYS[] =
    "Use Arrow Keys to navigate, x to quit, ctrl+c to quit with radio left on";

// The only clock of the loop: the data-service poll runs once per key and
// once per time-out.
constexpr int MENU_KEY_TIMEOUT_MS = static_cast<int>(DAB_DATA_POLL_MS);
constexpr int ENTER_CLEARED_ROW = 20;

constexpr uint16_t MENU_KEY_ENTER = 10;
constexpr uint16_t MENU_KEY_NUL = 0;
constexpr uint16_t MENU_KEY_VOLUME_DOWN = 'q';
constexpr uint16_t MENU_KEY_VOLUME_UP = 'w';
constexpr uint16_t MENU_KEY_QUIT = 'x';

// What a time-out reads as in 16 bits.
constexpr uint16_t MENU_KEY_NONE = 0xFFFF;

bool station_menu_fits(void) {
    return LINES >= CORVANE_RADIO_MIN_LINES && COLS >= CORVANE_RADIO_MIN_COLS;
}

// Releases the menu's windows; the menu falls back to the standard screen and
// stays unposted until a layout fits again.
void station_menu_drop_windows(CorvaneRadio_State *state) {
    unpost_menu(state->menu);
    set_menu_sub(state->menu, nullptr);
    set_menu_win(state->menu, nullptr);
    if (state->menu_subwindow != nullptr) {
        delwin(state->menu_subwindow);
        state->menu_subwindow = nullptr;
    }
    if (state->menu_window != nullptr) {
        delwin(state->menu_window);
        state->menu_window = nullptr;
    }
}

// A terminal smaller than the layout would make newwin and derwin fail, and
// every curses call on a missing window returns at once: the key loop would
// spin without its wait and never read a key. Instead the screen says what is
// needed, keys are read from the standard screen with the same time-out (x
// and ctrl+c still work), and a resize to a large enough terminal builds the
// menu.
void station_menu_show_too_small(void) {
    attron(COLOR_PAIR(COLOR_PAIR_HELP));
    mvprintw(0, 0, "Terminal too small: need %dx%d", CORVANE_RADIO_MIN_COLS,
             CORVANE_RADIO_MIN_LINES);
    clrtoeol();
    attroff(COLOR_PAIR(COLOR_PAIR_HELP));
    attron(COLOR_PAIR(COLOR_PAIR_STATUS));
    refresh();
}

void station_menu_show_layout(CorvaneRadio_State *state) {
    if (station_menu_fits()) {
        state->menu_window =
            newwin(MENU_WINDOW_ROWS, MENU_WINDOW_COLS, MENU_WINDOW_ROW, MENU_WINDOW_COL);
    }
    if (state->menu_window != nullptr) {
        keypad(state->menu_window, TRUE);
        leaveok(state->menu_window, TRUE);
        set_menu_win(state->menu, state->menu_window);
        state->menu_subwindow = derwin(state->menu_window, MENU_SUB_ROWS, MENU_SUB_COLS, 1, 1);
    }
    if (state->menu_subwindow == nullptr) {
        station_menu_drop_windows(state);
        station_menu_show_too_small();
        return;
    }
    set_menu_sub(state->menu, state->menu_subwindow);
    set_menu_format(state->menu, MENU_FORMAT_ROWS, MENU_FORMAT_COLS);
    set_menu_mark(state->menu, " * ");
    wborder(state->menu_window, 0, 0, 0, 0, 0, 0, 0, 0);

    attron(COLOR_PAIR(COLOR_PAIR_HELP));
    mvprintw(0, 0, "Velmora DAB Radio %s", CORVANE_RADIO_VERSION);
    mvprintw(LINES - 5, 0, "%s", HELP_LINE_SCROLL);
    mvprintw(LINES - 4, 0, "%s", HELP_LINE_KEYS);
    attroff(COLOR_PAIR(COLOR_PAIR_HELP));
    refresh();
    attron(COLOR_PAIR(COLOR_PAIR_STATUS));

    post_menu(state->menu);
    wrefresh(state->menu_window);
    wtimeout(state->menu_window, MENU_KEY_TIMEOUT_MS);
}

void station_menu_show_text(const char *text);

// After a resize the layout is built anew for the new size, and what the user
// saw comes back: the selected entry, the status and station lines and the
// last text.
void station_menu_relayout(CorvaneRadio_State *state) {
    ITEM *selected = current_item(state->menu);
    const int top = top_row(state->menu);
    station_menu_drop_windows(state);
    erase();
    station_menu_show_layout(state);
    if (state->menu_window == nullptr) {
        return;
    }
    // A new format puts the menu back on its first entry.
    if (top > 0) {
        set_top_row(state->menu, top);
    }
    if (selected != nullptr) {
        set_current_item(state->menu, selected);
    }
    bottom_lines_redraw();
    if (state->text_shown != 0) {
        station_menu_show_text(state->radio.text);
    }
}

// Entries without a screen (curses could not start): released without any
// curses call that needs one.
void station_menu_free_entries(CorvaneRadio_State *state) {
    for (uint16_t k = 0; k <= state->service_count; ++k) {
        free_item(state->items[k]);
    }
    for (uint16_t k = 0; k < state->service_count; ++k) {
        std::free(state->labels[k]);
    }
    std::free(state->labels);
    std::free(state->items);
    state->items = nullptr;
    state->labels = nullptr;
}

bool station_menu_start(CorvaneRadio_State *state) {
    // Console output first, in order, before curses writes to the same stream.
    std::fflush(stdout);
    const bool resumed = state->screen != nullptr;
    if (!resumed) {
        // newterm rather than initscr: without a usable terminal initscr
        // would end the process itself, with a status other than 0 and the
        // chip left running.
        state->screen = newterm(nullptr, stdout, stdin);
        if (state->screen == nullptr) {
            return false;
        }
        // curses puts its own interrupt and termination handlers in, which
        // end the process with status 1: ours replace them.
        signals_install();
    }
    // A menu after a rescan resumes the same screen: the first refresh
    // leaves the console and returns to curses mode.
    start_color();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    // The loop refreshes ten times a second, mostly with nothing to draw:
    // without a typeahead check and with the cursor left where the last
    // update put it, such a refresh makes no system call for its own sake.
    typeahead(-1);
    leaveok(stdscr, TRUE);
    init_color(CORVANE_BLACK, 0, 0, 0);
    init_color(CORVANE_BLUE, 0, 0, 1000);
    init_color(CORVANE_GREEN, 0, 1000, 0);
    wattr_on(stdscr, A_BOLD, nullptr);
    init_pair(COLOR_PAIR_HELP, CORVANE_BLUE, CORVANE_BLACK);
    init_pair(COLOR_PAIR_STATUS, CORVANE_GREEN, CORVANE_BLACK);

    if (resumed) {
        // The bring-up of a rescan reset the chip: the status and text lines
        // of the station that played before must not stay up as if it still
        // did, nor come back with a new layout.
        erase();
        bottom_lines_forget();
        state->text_shown = 0;
    }

    state->menu = new_menu(state->items);
    menu_opts_off(state->menu, O_SHOWDESC);
    station_menu_show_layout(state);
    return true;
}

void station_menu_end(CorvaneRadio_State *state) {
    end_menu(state->items, state->menu, state->labels, state->service_count);
    state->items = nullptr;
    state->labels = nullptr;
    state->menu = nullptr;
    state->menu_window = nullptr;
    state->menu_subwindow = nullptr;
}

void station_menu_change_volume(CorvaneRadio_State *state, uint16_t key) {
    // Written at a bound too: the file always holds the volume in force.
    const int step = key == MENU_KEY_VOLUME_DOWN ? -1 : 1;
    station_menu_save_volume(state, state->radio.volume + step);
}

// Enter on a station: the entry number is the service's position in database
// order. Returns true when the entry was "Rescan".
bool station_menu_enter(CorvaneRadio_State *state) {
    move(ENTER_CLEARED_ROW, 0);
    clrtoeol();
    pos_menu_cursor(state->menu);

    const ITEM *current = current_item(state->menu);
    if (current == state->items[state->service_count]) {
        station_menu_end(state);
        state->rescan = 1;
        state->selected_ensemble = 0;
        state->selected_service = 0;
        state->requested_service_id = 0;
        state->service_found = 0;
        return true;
    }

    for (uint16_t k = 0; k < state->service_count; ++k) {
        if (state->items[k] == current &&
            DAB_service_at(&state->radio.stations, k, &state->selected_ensemble,
                           &state->selected_service)) {
            // The status line shows the outcome.
            play_station(&state->radio, state->selected_ensemble, state->selected_service);
            return false;
        }
    }
    return false;
}

void station_menu_show_text(const char *text) {
    // Four bytes a character at most, whatever the locale.
    static_assert(SI468X_PAYLOAD_SIZE * 4 <= UINT16_MAX);
    char line[SI468X_PAYLOAD_SIZE * 4];
    const int columns = station_menu_utf8_line(text, COLS, line, sizeof(line));
    mvaddstr(LINES - 3, 0, line);
    // A full-width line has already moved the cursor to the next row.
    if (columns < COLS) {
        clrtoeol();
    }
}

void station_menu_poll_data(CorvaneRadio_State *state) {
    const DAB_PollEvent event = DAB_radio_poll(&state->radio);
    if (state->menu_window == nullptr) {
        return;
    }
    if (event == DAB_POLL_TEXT_CHANGED || event == DAB_POLL_TEXT_REPEATED) {
        station_menu_show_text(state->radio.text);
        state->text_shown = 1;
        state->text_link_notice = 0;
    } else if (event == DAB_POLL_LINK_FAILED && state->text_link_notice == 0) {
        // The texts stop because the board link fails, not the station.
        int error = 0;
        DAB_link_failed(&error);
        char words[CORVANE_RADIO_BOTTOM_LINE_SIZE];
        link_failure_words(error, words, sizeof words);
        mvaddnstr(LINES - 3, 0, words, COLS > 1 ? COLS - 1 : 0);
        clrtoeol();
        state->text_link_notice = 1;
    }
}

// Input that has ended (a hung-up terminal, a closed pipe) makes every read
// return at once without a key: the pass then waits out the time-out itself,
// so the loop keeps its rhythm instead of spinning on the chip.
void station_menu_keep_rhythm(std::chrono::steady_clock::time_point asked) {
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - asked)
                            .count();
    if (waited < MENU_KEY_TIMEOUT_MS / 2) {
        napms(MENU_KEY_TIMEOUT_MS - static_cast<int>(waited));
    }
}

CorvaneRadio_Next station_menu_key_loop(CorvaneRadio_State *state) {
    wtimeout(stdscr, MENU_KEY_TIMEOUT_MS);
    for (;;) {
        if (signals_pending()) {
            // The chip plays on; the terminal is given back.
            station_menu_end(state);
            return CORVANE_RADIO_END_RUN;
        }
        const bool shown = state->menu_window != nullptr;
        WINDOW *input = shown ? state->menu_window : stdscr;
        const auto asked = std::chrono::steady_clock::now();
        const uint16_t key = static_cast<uint16_t>(wgetch(input));
        if (key == MENU_KEY_NONE) {
            station_menu_keep_rhythm(asked);
        }

        if (key == MENU_KEY_NUL) {
            station_menu_end(state);
            main_failure("Unplanned exit");
            return CORVANE_RADIO_END_RUN;
        }
        switch (key) {
        case MENU_KEY_ENTER:
            if (shown && station_menu_enter(state)) {
                return CORVANE_RADIO_RESCAN;
            }
            break;
        case MENU_KEY_VOLUME_DOWN:
        case MENU_KEY_VOLUME_UP:
            station_menu_change_volume(state, key);
            break;
        case MENU_KEY_QUIT:
            Si468x_power_down();
            station_menu_end(state);
            std::puts("User quits.");
            return CORVANE_RADIO_END_RUN;
        case KEY_DOWN:
            menu_driver(state->menu, REQ_DOWN_ITEM);
            break;
        case KEY_UP:
            menu_driver(state->menu, REQ_UP_ITEM);
            break;
        case KEY_LEFT:
            menu_driver(state->menu, REQ_LEFT_ITEM);
            break;
        case KEY_RIGHT:
            menu_driver(state->menu, REQ_RIGHT_ITEM);
            break;
        case KEY_NPAGE:
            menu_driver(state->menu, REQ_SCR_DPAGE);
            break;
        case KEY_PPAGE:
            menu_driver(state->menu, REQ_SCR_UPAGE);
            break;
        case KEY_RESIZE:
            station_menu_relayout(state);
            break;
        default:
            break;
        }

        station_menu_poll_data(state);
        // Menu window, then the standard screen, in one update of the
        // terminal.
        if (state->menu_window != nullptr) {
            wnoutrefresh(state->menu_window);
        }
        wnoutrefresh(stdscr);
        doupdate();
    }
}

} // namespace

int station_menu_text_line(const char *text, int width, char *line, uint16_t size) {
    char utf8[DAB_RADIO_TEXT_SIZE];
    DAB_radio_text_to_utf8(text, SI468X_PAYLOAD_SIZE, utf8, sizeof utf8);
    return station_menu_utf8_line(utf8, width, line, size);
}

int station_menu_utf8_line(const char *utf8, int width, char *line, uint16_t size) {
    // The broadcast text is the station's, not ours: it is kept to one row (a
    // longer text would wrap over the station and status lines), and what
    // reaches the terminal are characters of its locale, never control codes.
    char32_t chars[SI468X_PAYLOAD_SIZE];
    const uint16_t count = DAB_utf8_chars(utf8, chars, SI468X_PAYLOAD_SIZE);
    return DAB_terminal_text(chars, count, width, false, line, size);
}

CorvaneRadio_Next station_menu(CorvaneRadio_State *state) {
    // A signal during the scan and its save: the run ends before the menu.
    if (signals_pending()) {
        station_menu_free_entries(state);
        return CORVANE_RADIO_END_RUN;
    }
    if (!station_menu_start(state)) {
        station_menu_free_entries(state);
        main_failure("Could not start the terminal screen. Exit.");
        return CORVANE_RADIO_END_RUN;
    }

    if (state->service_found != 0) {
        state->radio.last_tuned_index = CORVANE_RADIO_NO_FREQ_INDEX;
        const int started =
            play_station(&state->radio, state->selected_ensemble, state->selected_service);
        refresh();
        if (started == 0) {
            // The chip keeps playing the service after the program ends.
            station_menu_end(state);
            return CORVANE_RADIO_END_RUN;
        }
        if (input_ended()) {
            // No key can come: the outcome goes where a journal reads it.
            station_menu_end(state);
            input_ended_print_outcome();
            return CORVANE_RADIO_END_RUN;
        }
    }
    return station_menu_key_loop(state);
}

void end_menu(ITEM **items, MENU *menu, char **labels, uint16_t service_count) {
    WINDOW *window = menu_win(menu);
    WINDOW *subwindow = menu_sub(menu);
    unpost_menu(menu);
    free_menu(menu);
    for (uint16_t k = 0; k < service_count; ++k) {
        free_item(items[k]);
        std::free(labels[k]);
    }
    std::free(labels);
    // The "Rescan" entry, the item array and the windows go too, so a
    // rescan does not leave the previous menu behind.
    free_item(items[service_count]);
    std::free(items);
    if (subwindow != stdscr && subwindow != window) {
        delwin(subwindow);
    }
    if (window != stdscr) {
        delwin(window);
    }
    endwin();
}

void print_in_middle(WINDOW *window, int row, int column, int width, const char *text,
                     chtype attributes) {
    if (window == nullptr) {
        window = stdscr;
    }
    int y = getcury(window);
    if (row != 0) {
        y = row;
    }
    if (width == 0) {
        width = 80;
    }
    const int length = static_cast<int>(std::strlen(text));
    const int x = column + (width - length) / 2;
    wattron(window, attributes);
    mvwprintw(window, y, x, "%s", text);
    wattroff(window, attributes);
    refresh();
}
