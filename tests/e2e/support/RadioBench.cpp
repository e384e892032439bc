// SPDX-License-Identifier: GPL-3.0-or-later
#include "RadioBench.h"

#include "DAB_charset.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "Band.h"

namespace e2e {

namespace fs = std::filesystem;

RadioBench::RadioBench() : run_(root_.file("run")), board_(root_.file("board")) {
    fs::create_directories(run_);
}

std::unique_ptr<Terminal> RadioBench::start(std::vector<std::string> args, int rows,
                                            int cols) const {
    Launch launch;
    launch.program = TUNELARK_PROGRAM;
    launch.args = std::move(args);
    launch.directory = run_;
    launch.rows = rows;
    launch.cols = cols;
    launch.environment = environment();
    return std::make_unique<Terminal>(launch);
}

std::map<std::string, std::string> RadioBench::environment() const {
    std::map<std::string, std::string> environment = {
        {"TERM", "xterm"},
        {"PATH", "/usr/bin:/bin"},
        {"SI468X_SIM_BOARD", board_},
        {"SI468X_SIM_CLOCK", clock},
    };
    if (!faults.empty()) {
        environment["SI468X_SIM_FAULTS"] = faults;
    }
    if (!band.empty()) {
        environment["SI468X_SIM_BAND"] = band;
    }
    if (!timing.empty()) {
        environment["SI468X_SIM_TIMING"] = timing;
    }
    if (!locale.empty()) {
        environment["LANG"] = locale;
    }
    // A sanitizer build reads its own settings, and the board which Pi it
    // is (the e2e-kernel run says Pi 5); they are the test run's, not the
    // radio's inputs.
    for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "SI468X_SIM_PI"}) {
        if (const char *value = std::getenv(name)) {
            environment[name] = value;
        }
    }
    if (!calls.empty()) {
        environment["SI468X_SIM_CALLS"] = calls;
    }
    return environment;
}

std::unique_ptr<Terminal> RadioBench::firstStart(int rows, int cols) const {
    auto term = start({}, rows, cols);
    EXPECT_TRUE(term->waitForOutput("Please confirm with pressing ENTER")) << term->output();
    term->send("\r");
    EXPECT_TRUE(waitForMenu(*term)) << term->output() << "\n" << term->dump();
    return term;
}

bool RadioBench::hasStationList() const {
    return fs::exists(run_ + "/stationlist.txt");
}

std::string RadioBench::stationList() const {
    return tunelark::test::read_file(run_ + "/stationlist.txt");
}

std::optional<unsigned> RadioBench::storedVolume() const {
    std::istringstream lines(stationList());
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("Volume: ", 0) == 0) {
            return static_cast<unsigned>(std::stoul(line.substr(8)));
        }
    }
    return std::nullopt;
}

void RadioBench::removeStationList() const {
    fs::remove(run_ + "/stationlist.txt");
}

std::string RadioBench::writeFile(const std::string &name, const std::string &content) const {
    const std::string path = root_.file(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

BoardReading RadioBench::board() const {
    // Loads the state file as a new process of the board would find it; the
    // test process only reads it.
    sim::reset_for_test();
    sim::use_directory(board_);
    BoardReading reading;
    reading.chip = sim::chip_state();
    reading.reset_high = sim::pin(23).level;
    reading.playing = sim::service_started(&reading.service_id, &reading.component_id);
    reading.tuned_index = sim::tuned_index();
    reading.volume = sim::property(0x0300);
    return reading;
}

std::vector<Entry> expectedEntries(const sim::Band &band) {
    std::vector<Entry> entries;
    for (std::size_t index = 0; index < band.frequencies.size(); ++index) {
        const sim::Ensemble *ensemble = band.on_frequency(band.frequencies[index]);
        if (ensemble == nullptr || !ensemble->reception.acquires ||
            ensemble->reception.rssi_valid == false) {
            continue;
        }
        for (const sim::Service &service : ensemble->services) {
            Entry entry;
            // The radio's tests run it in the C locale: every letter outside
            // ASCII in its ASCII spelling.
            char name[DAB_LABEL_TEXT_SIZE];
            const int columns =
                DAB_label_for_terminal(reinterpret_cast<const char *>(service.label.data()),
                                       service.si_charset, true, name);
            entry.name = columns > 0 ? name : "(No Label)";
            entry.charset = service.si_charset;
            entry.label.assign(service.label.begin(), service.label.end());
            entry.service_id = service.id;
            entry.component_id = service.components.empty() ? 0 : service.components[0].id;
            entry.freq_index = static_cast<int>(index);
            entry.data = service.data;
            entry.texts = service.texts;
            entries.push_back(entry);
        }
    }
    return entries;
}

bool waitForMenu(Terminal &term, Millis timeout) {
    const int bottom = kMenuTop + kMenuRows - 1;
    const int right = kMenuLeft + kMenuCols - 1;
    bool shown = term.waitUntil(
        [&] {
            return term.row(0).rfind(kTitle, 0) == 0 &&
                   term.row(term.rows() - 4).rfind(kHelpKeys, 0) == 0 &&
                   term.cell(bottom, right).text == "┘" && markPosition(term).first >= 0;
        },
        timeout);
    // The menu is drawn in a few writes: let the last of them land.
    term.settle(150ms);
    return shown;
}

std::pair<int, int> markPosition(const Terminal &term) {
    for (int r = kMenuTop + 1; r <= kMenuTop + kVisibleRows; ++r) {
        for (int c = kMenuLeft + 1; c + 2 < kMenuLeft + kMenuCols - 1; ++c) {
            if (term.cell(r, c).text == " " && term.cell(r, c + 1).text == "*" &&
                term.cell(r, c + 2).text == " ") {
                return {r, c + 1};
            }
        }
    }
    return {-1, -1};
}

std::string markedName(const Terminal &term) {
    auto [r, c] = markPosition(term);
    if (r < 0) {
        return "";
    }
    std::string name;
    for (int col = c + 2; col < c + 2 + 16 && col < kMenuLeft + kMenuCols - 1; ++col) {
        name += term.cell(r, col).text;
    }
    name.erase(name.find_last_not_of(' ') + 1);
    return name;
}

bool waitForMark(Terminal &term, const std::string &name, Millis timeout) {
    std::string wanted = name;
    wanted.erase(wanted.find_last_not_of(' ') + 1);
    return term.waitUntil([&] { return markedName(term) == wanted; }, timeout);
}

bool moveMark(Terminal &term, int from, int to, const std::string &name) {
    pressArrows(term, from, to);
    return waitForMark(term, name);
}

void pressArrows(Terminal &term, int from, int to) {
    for (int row = from / 3; row < to / 3; ++row) {
        term.key(VTERM_KEY_DOWN);
    }
    for (int row = from / 3; row > to / 3; --row) {
        term.key(VTERM_KEY_UP);
    }
    for (int col = from % 3; col < to % 3; ++col) {
        term.key(VTERM_KEY_RIGHT);
    }
    for (int col = from % 3; col > to % 3; --col) {
        term.key(VTERM_KEY_LEFT);
    }
}

std::string consoleText(std::string_view raw) {
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '\r') {
            continue;
        }
        if (c != '\x1b') {
            text += c;
            continue;
        }
        if (i + 1 >= raw.size()) {
            break;
        }
        const char kind = raw[++i];
        if (kind == '[') {
            // parameters and intermediates up to the final byte
            while (i + 1 < raw.size() && !(raw[i + 1] >= 0x40 && raw[i + 1] <= 0x7E)) {
                ++i;
            }
            ++i;
        } else if (kind == ']') {
            while (i + 1 < raw.size() && raw[i + 1] != '\a' && raw[i + 1] != '\x1b') {
                ++i;
            }
            ++i;
        } else if (kind == '(' || kind == ')') {
            ++i; // character set designation
        }
        // anything else: a two-byte sequence (ESC =, ESC >, ESC 7 ...)
    }
    return text;
}

} // namespace e2e
