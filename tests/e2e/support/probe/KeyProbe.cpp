// SPDX-License-Identifier: GPL-3.0-or-later
// A small curses program with the radio's terminal habits (cbreak, noecho,
// keypad, bold colour pairs on black, a bordered window read with a 100 ms
// time-out), so that the harness can be checked on its own: it shows every
// key code it reads and leaves curses mode on x or on NUL.
//
//   e2e_key_probe [line]   "line": first wait for a line end on standard input
#include <cstdio>
#include <cstring>

#include <curses.h>

int main(int argc, char **argv) {
    std::printf("probe: console before curses\n");
    std::fflush(stdout);
    if (argc > 1 && std::strcmp(argv[1], "line") == 0) {
        int c = 0;
        while ((c = std::getchar()) != EOF && c != '\n') {
        }
        std::printf("probe: line read\n");
        std::fflush(stdout);
    }

    initscr();
    start_color();
    cbreak();
    noecho();
    keypad(stdscr, TRUE);
    init_pair(1, COLOR_BLUE, COLOR_BLACK);
    init_pair(2, COLOR_GREEN, COLOR_BLACK);
    wattr_on(stdscr, A_BOLD, nullptr);
    attron(COLOR_PAIR(1));
    mvprintw(0, 0, "probe title");
    attroff(COLOR_PAIR(1));
    attron(COLOR_PAIR(2));
    mvprintw(LINES - 1, 0, "size %dx%d", LINES, COLS);
    refresh();

    WINDOW *window = newwin(5, 20, 2, 4);
    keypad(window, TRUE);
    wborder(window, 0, 0, 0, 0, 0, 0, 0, 0);
    mvwprintw(window, 1, 1, "inside");
    wrefresh(window);
    wtimeout(window, 100);

    unsigned timeouts = 0;
    for (;;) {
        int key = wgetch(window) & 0xFFFF;
        if (key == 0) {
            endwin();
            std::printf("probe: NUL\n");
            return 0;
        }
        if (key == 'x') {
            endwin();
            std::printf("probe: quit after %u time-outs\n", timeouts);
            return 3;
        }
        if (key == 0xFFFF) {
            ++timeouts;
        } else {
            mvprintw(LINES - 2, 0, "key %d        ", key);
        }
        wrefresh(window);
        refresh();
    }
}
