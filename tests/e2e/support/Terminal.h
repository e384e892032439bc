// SPDX-License-Identifier: GPL-3.0-or-later
// A program under test in a real pseudo-terminal whose screen is rendered by
// libvterm, so that tests read what a person would see: text row by row, with
// the bold attribute and the palette colours of every cell. Everything the
// program writes is also kept raw, for the plain console output before curses
// mode begins and after it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>
#include <termios.h>
#include <vterm.h>

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// Waits succeed as soon as they can, so a generous bound costs nothing on a
// pass and keeps a slow sanitizer build from failing spuriously.
inline constexpr Millis kWait = 20s;

struct Launch {
    std::string program;
    std::vector<std::string> args; // argv[1] onwards
    std::string directory;         // working directory; empty: the caller's
    // The whole environment of the child: nothing is inherited.
    std::map<std::string, std::string> environment;
    int rows = 24;
    int cols = 80;
};

// A palette index, or one of these for colours that are not indexed.
inline constexpr int kDefaultColour = -1;
inline constexpr int kRgbColour = -2;

struct Cell {
    std::string text; // UTF-8; " " for an empty cell
    bool bold = false;
    bool reverse = false;
    int fg = kDefaultColour;
    int bg = kDefaultColour;
};

struct ExitStatus {
    bool finished = false; // false: still running when the wait ended
    bool exited = false;
    int code = -1;
    bool signaled = false;
    int signal = 0;
};

class Terminal {
public:
    explicit Terminal(const Launch &launch);
    ~Terminal();
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    pid_t pid() const { return pid_; }
    int rows() const { return rows_; }
    int cols() const { return cols_; }

    // ---- input -----------------------------------------------------------
    // Bytes as typed: "\r" for Enter, "\x03" for ctrl+c, std::string(1, '\0').
    void send(std::string_view bytes);
    // A key of the emulated keyboard; the terminal picks the sequence that the
    // program's modes ask for (application cursor keys once keypad is on).
    void key(VTermKey key);
    // The terminal takes a new size, as a window does when dragged: the
    // kernel tells the program with SIGWINCH.
    void resize(int rows, int cols);

    // ---- output ----------------------------------------------------------
    // Reads what the program wrote, waiting at most `wait` for the first byte.
    // False once the program's side of the terminal is closed.
    bool pump(Millis wait);
    // Everything the program wrote, escape sequences included.
    const std::string &output() const { return output_; }
    bool closed() const { return closed_; }

    // ---- screen ----------------------------------------------------------
    Cell cell(int row, int col) const;
    // The row's text, one character per cell, blanks for empty cells.
    std::string row(int row) const;
    // The row without its trailing blanks.
    std::string trimmed(int row) const;
    // Every row, numbered, for failure messages.
    std::string dump() const;
    // The row of the first line that holds the text, or -1.
    int find(std::string_view text) const;
    int cursorRow() const;
    int cursorCol() const;

    // ---- waiting ---------------------------------------------------------
    // Pumps output until the condition holds; false on time-out or when the
    // program closed the terminal without the condition coming true.
    bool waitUntil(const std::function<bool()> &condition, Millis timeout = kWait);
    bool waitForText(std::string_view text, Millis timeout = kWait);
    bool waitForRow(int row, std::string_view text, Millis timeout = kWait);
    // The raw output from offset `from` on holds the text.
    bool waitForOutput(std::string_view text, std::size_t from = 0, Millis timeout = kWait);
    // Reads output until no cell of the screen changed for `quiet` (bounded
    // by `timeout`); cursor movements alone do not count.
    void settle(Millis quiet = 300ms, Millis timeout = kWait);

    // ---- the process -----------------------------------------------------
    ExitStatus waitExit(Millis timeout = kWait);
    bool running();
    // User plus system CPU time of the running program, in clock ticks.
    std::optional<uint64_t> cpuTicks() const;
    // The terminal's line modes as the program left them.
    termios modes() const;

private:
    static void writeBack(const char *bytes, std::size_t length, void *self);
    void feed(const char *bytes, std::size_t length);
    void reap(int options);
    static int damaged(VTermRect rect, void *self);

    int rows_ = 24;
    int cols_ = 80;
    int master_ = -1;
    pid_t pid_ = -1;
    bool reaped_ = false;
    int waitStatus_ = 0;
    bool closed_ = false;
    VTerm *vt_ = nullptr;
    VTermScreen *screen_ = nullptr;
    VTermScreenCallbacks callbacks_{};
    uint64_t changes_ = 0; // screen updates that changed cells
    std::string output_;
};

// A readable name of an exit status for failure messages.
std::string describe(const ExitStatus &status);

} // namespace e2e
