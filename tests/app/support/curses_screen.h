// SPDX-License-Identifier: GPL-3.0-or-later
// A curses screen for function tests: an xterm of 24 x 80 whose output goes
// nowhere; what the code drew is read back from the windows.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include <curses.h>

namespace tunelark::test {

class CursesScreen {
public:
    CursesScreen() {
        // The size comes from the terminal description, not the environment.
        use_env(FALSE);
        out_ = std::fopen("/dev/null", "w");
        in_ = std::fopen("/dev/null", "r");
        screen_ = newterm("xterm", out_, in_);
        if (screen_ == nullptr) {
            throw std::runtime_error("no xterm terminal description");
        }
    }
    CursesScreen(const CursesScreen &) = delete;
    CursesScreen &operator=(const CursesScreen &) = delete;
    ~CursesScreen() {
        endwin();
        delscreen(screen_);
        std::fclose(out_);
        std::fclose(in_);
    }

    // The characters of one row of a window, trailing blanks included.
    static std::string row(int y, WINDOW *window = stdscr) {
        char text[512] = {};
        const int width = getmaxx(window);
        mvwinnstr(window, y, 0, text, width < 511 ? width : 511);
        return text;
    }

    // The row without its trailing blanks.
    static std::string trimmed_row(int y, WINDOW *window = stdscr) {
        std::string text = row(y, window);
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }

private:
    FILE *out_ = nullptr;
    FILE *in_ = nullptr;
    SCREEN *screen_ = nullptr;
};

} // namespace tunelark::test
