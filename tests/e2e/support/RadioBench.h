// SPDX-License-Identifier: GPL-3.0-or-later
// One end-to-end scene: a scratch directory that holds the radio's working
// directory (where stationlist.txt lives) and the simulated board's
// directory (where the chip's state survives from one run to the next), the
// environment the radio is started with, and readings of what the radio left
// behind: the station list file and the state of the board.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SimBoard.h"
#include "Terminal.h"
#include "scratch_dir.h"

namespace e2e {

// The chip as the board's state file describes it after (or during) a run.
struct BoardReading {
    sim::ChipState chip = sim::ChipState::Reset;
    bool reset_high = false; // GPIO 23 level: high lets the chip run
    bool playing = false;    // a digital service is started
    uint32_t service_id = 0;
    uint32_t component_id = 0;
    int tuned_index = -1;
    std::optional<uint16_t> volume; // property 0x0300
};

// One entry of the menu as the radio should list it.
struct Entry {
    std::string name;  // as the menu shows it in the C locale, trailing blanks dropped
    std::string label; // the 16 bytes as broadcast
    uint8_t charset = 0;
    uint32_t service_id = 0;
    uint32_t component_id = 0;
    int freq_index = 0;
    bool data = false;
    std::vector<std::string> texts;
};

class RadioBench {
public:
    RadioBench();
    RadioBench(const RadioBench &) = delete;
    RadioBench &operator=(const RadioBench &) = delete;

    const std::string &runDirectory() const { return run_; }
    const std::string &boardDirectory() const { return board_; }
    const std::string &scratch() const { return root_.path(); }

    // The board's knobs for the next start.
    std::string clock = "virtual";
    std::string faults;
    std::string band;   // path of a band file; empty: the built-in band
    std::string timing; // receiver timings, as SI468X_SIM_TIMING takes them
    // The terminal's locale (LANG); empty: none, which is the C locale.
    std::string locale;
    // A file the board appends the run's pin, bus and lock calls to
    // (SI468X_SIM_CALLS); empty: none.
    std::string calls;
    // The environment start() gives the radio; other programs of a scene
    // (a second radio, the diagnostics) take the same board this way.
    std::map<std::string, std::string> environment() const;

    std::unique_ptr<Terminal> start(std::vector<std::string> args = {}, int rows = 24,
                                    int cols = 80) const;
    // A first start through the notice to the menu, in a 24x80 terminal
    // unless told otherwise. Fails the test (and returns what it has) when a
    // step does not come.
    std::unique_ptr<Terminal> firstStart(int rows = 24, int cols = 80) const;

    bool hasStationList() const;
    std::string stationList() const;
    std::optional<unsigned> storedVolume() const;
    void removeStationList() const;
    // Writes a file to the scratch directory and returns its path.
    std::string writeFile(const std::string &name, const std::string &content) const;

    BoardReading board() const;

private:
    tunelark::test::ScratchDir root_{"tunelark-e2e"};
    std::string run_;
    std::string board_;
};

// The menu entries a full scan of the band should give, in database order:
// the receivable ensembles in the order of the chip's frequency list, their
// services in list order.
std::vector<Entry> expectedEntries(const sim::Band &band);

// Screen positions of the menu, fixed by the layout.
inline constexpr int kMenuTop = 2;      // border row of the menu window
inline constexpr int kMenuLeft = 4;     // border column
inline constexpr int kMenuRows = 14;    // window height with the border
inline constexpr int kMenuCols = 70;    // window width with the border
inline constexpr int kVisibleRows = 12; // menu rows inside the border

// Screen column of the mark cell of menu column `col` (three columns of 16
// character names, each behind a three-character mark, one blank apart).
constexpr int markColumn(int col) {
    return kMenuLeft + 1 + col * 20;
}

inline constexpr const char *kTitle = "Velmora DAB Radio v0.16.5";
inline constexpr const char *kHelpScroll =
    "Use PageUp and PageDown to scroll, q/w to decrease/increase volume";
inline constexpr const char *kHelpKeys =
    "Use Arrow Keys to navigate, x to quit, ctrl+c to quit with radio left on";

// Waits until the menu is on the screen: title, border, help lines.
bool waitForMenu(Terminal &term, Millis timeout = kWait);

// The name of the entry that carries the menu's mark " * ", without its
// trailing blanks; empty when no visible entry carries it.
std::string markedName(const Terminal &term);
// The screen position of the mark (row, column of the '*'), or (-1, -1).
std::pair<int, int> markPosition(const Terminal &term);
bool waitForMark(Terminal &term, const std::string &name, Millis timeout = kWait);
// The arrow keys that lead from entry `from` to entry `to` (three entries
// to a row), then a wait for the mark to arrive on `name`.
bool moveMark(Terminal &term, int from, int to, const std::string &name);
// The arrow keys alone, for entries whose names the test does not spell.
void pressArrows(Terminal &term, int from, int to);

// Text as a console shows it: escape sequences and carriage returns removed.
std::string consoleText(std::string_view raw);
// Control sequences that enter and leave curses mode (the alternate screen).
inline constexpr std::string_view kEnterCurses = "\x1b[?1049h";
inline constexpr std::string_view kLeaveCurses = "\x1b[?1049l";

} // namespace e2e
