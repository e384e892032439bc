// SPDX-License-Identifier: GPL-3.0-or-later
// Starting stations from the menu: the status lines at the bottom of the
// screen, what the chip then plays, and the station's broadcast texts.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

class Playback : public ::testing::Test {
protected:
    RadioBench bench;
    const std::vector<Entry> entries = expectedEntries(sim::default_band());

    const Entry &entry(int k) const { return entries[static_cast<std::size_t>(k)]; }
    static std::string freqLine(const Entry &e) {
        return "Freq. Idx " + std::to_string(e.freq_index) + " Service ID " +
               std::to_string(e.service_id) + " Component ID " + std::to_string(e.component_id);
    }
    // The label as "%.16s" prints it: blank padded to 16, so trim for rows.
    static std::string shown(std::string text) {
        text.erase(text.find_last_not_of(' ') + 1);
        return text;
    }
    // Index of the first entry with that name.
    int indexOf(const std::string &name) const {
        for (std::size_t k = 0; k < entries.size(); ++k) {
            if (shown(entries[k].name) == name) {
                return static_cast<int>(k);
            }
        }
        ADD_FAILURE() << "no entry " << name;
        return 0;
    }
};

TEST_F(Playback, EnterTunesAndShowsTheStationOnTheBottomLines) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    const Entry &harbour = entry(0);
    ASSERT_FALSE(harbour.data);

    const std::size_t before = term->output().size();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: " + shown(harbour.name))) << term->dump();
    ASSERT_TRUE(term->waitForRow(22, freqLine(harbour))) << term->dump();
    EXPECT_EQ(term->trimmed(23), "Playing: " + shown(harbour.name));
    EXPECT_EQ(term->trimmed(22), freqLine(harbour));
    // "Tuning..." went out first, on the same row.
    const std::string drawn = consoleText(std::string_view(term->output()).substr(before));
    const std::size_t tuning = drawn.find("Tuning...");
    ASSERT_NE(tuning, std::string::npos);
    EXPECT_LT(tuning, drawn.find("Playing: "));

    for (int r : {22, 23}) {
        Cell cell = term->cell(r, 0);
        EXPECT_TRUE(cell.bold && cell.fg == 2 && cell.bg == 0) << "status row " << r;
    }
    // On 24 rows the second help line sits on row 20, which Enter clears;
    // the first stays.
    EXPECT_EQ(term->trimmed(20), "");
    EXPECT_EQ(term->trimmed(19), kHelpScroll);
    // The menu and its mark stay as they were.
    EXPECT_EQ(markedName(*term), shown(harbour.name));

    BoardReading board = bench.board();
    EXPECT_EQ(board.chip, sim::ChipState::Running);
    EXPECT_TRUE(board.playing);
    EXPECT_EQ(board.service_id, harbour.service_id);
    EXPECT_EQ(board.component_id, harbour.component_id);
    EXPECT_EQ(board.tuned_index, harbour.freq_index);
}

TEST_F(Playback, DataServiceIsRefusedAndTheStationPlayingGoesOn) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    const int harbour = 0;
    const int tides = indexOf("Tide Tables");
    const int voice = indexOf("Midland Voice");
    ASSERT_TRUE(entry(tides).data);
    ASSERT_EQ(entry(tides).freq_index, entry(harbour).freq_index) << "same ensemble";
    ASSERT_NE(entry(voice).freq_index, entry(harbour).freq_index);

    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: " + shown(entry(harbour).name))) << term->dump();

    ASSERT_TRUE(moveMark(*term, harbour, tides, entry(tides).name)) << term->dump();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "No audio service: " + shown(entry(tides).name)))
        << term->dump();
    EXPECT_EQ(term->trimmed(23), "No audio service: " + shown(entry(tides).name));
    // The line of the station still playing is left as it was.
    EXPECT_EQ(term->trimmed(22), freqLine(entry(harbour)));
    BoardReading board = bench.board();
    EXPECT_TRUE(board.playing);
    EXPECT_EQ(board.service_id, entry(harbour).service_id);

    // A station of another ensemble: retuned, and the shorter status line
    // leaves nothing of the longer one behind.
    ASSERT_TRUE(moveMark(*term, tides, voice, entry(voice).name)) << term->dump();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: " + shown(entry(voice).name))) << term->dump();
    ASSERT_TRUE(term->waitForRow(22, freqLine(entry(voice)))) << term->dump();
    EXPECT_EQ(term->trimmed(23), "Playing: " + shown(entry(voice).name));
    board = bench.board();
    EXPECT_EQ(board.service_id, entry(voice).service_id);
    EXPECT_EQ(board.component_id, entry(voice).component_id);
    EXPECT_EQ(board.tuned_index, entry(voice).freq_index);
}

TEST_F(Playback, TuneAndStartFailuresShowOnTheStatusLineAndKeysStillWork) {
    // A board that fails these cannot be scanned, so the station list comes
    // from a good first run.
    {
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }
    struct Case {
        const char *faults;
        const char *status;
    };
    for (const Case &c :
         {Case{"no-signal=0", "Tune failed"}, Case{"start-fail", "Station failed"}}) {
        SCOPED_TRACE(c.faults);
        bench.faults = c.faults;
        auto term = bench.start();
        ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output()) << term->dump();
        term->send("\r");
        ASSERT_TRUE(term->waitForRow(23, c.status)) << term->dump();
        term->settle(200ms, 1s);
        EXPECT_EQ(term->trimmed(23), c.status);
        EXPECT_EQ(term->trimmed(22), "") << "no station line for a station that does not play";
        EXPECT_FALSE(bench.board().playing);
        term->key(VTERM_KEY_RIGHT);
        EXPECT_TRUE(waitForMark(*term, entry(1).name)) << term->dump();
        term->send("x");
        ExitStatus status = term->waitExit();
        EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
    }
}

// Texts come on the board's clock, which stands still while the radio waits
// for keys: these scenes run it in real time once the station list exists,
// with a station that sends its first text 300 ms after the start and then
// one a second.
class BroadcastText : public Playback {
protected:
    static constexpr Millis kTextInterval = 1000ms;

    void SetUp() override {
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
        bench.clock = "real";
        bench.timing = "first-text=300,text-interval=" + std::to_string(kTextInterval.count());
    }
    // A row that shows one of the texts, waiting up to `timeout`; returns it.
    static std::string waitForTextOf(Terminal &term, int row, const std::vector<std::string> &texts,
                                     const std::string &other, Millis timeout) {
        std::string seen;
        term.waitUntil(
            [&] {
                seen = term.trimmed(row);
                for (const std::string &text : texts) {
                    if (seen == text && seen != other) {
                        return true;
                    }
                }
                return false;
            },
            timeout);
        return seen;
    }
};

TEST_F(BroadcastText, TextsOfThePlayingStationAppearAboveTheStatusAndChange) {
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    const Entry &harbour = entry(0);
    ASSERT_GE(harbour.texts.size(), 2u);
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: " + shown(harbour.name))) << term->dump();

    const std::string first = waitForTextOf(*term, 21, harbour.texts, "", 5s);
    ASSERT_NE(std::find(harbour.texts.begin(), harbour.texts.end(), first), harbour.texts.end())
        << term->dump();
    Cell cell = term->cell(21, 0);
    EXPECT_TRUE(cell.bold && cell.fg == 2 && cell.bg == 0);
    EXPECT_EQ(term->trimmed(22), freqLine(harbour));

    // The next text replaces it within an interval (and some slack).
    const std::string second = waitForTextOf(*term, 21, harbour.texts, first, 2 * kTextInterval);
    EXPECT_NE(second, first) << term->dump();
    EXPECT_NE(std::find(harbour.texts.begin(), harbour.texts.end(), second), harbour.texts.end())
        << term->dump();

    // A station without texts: the last text stays until a newer one comes.
    const int quiet = indexOf("Dyke Road FM");
    ASSERT_TRUE(entry(quiet).texts.empty());
    ASSERT_TRUE(moveMark(*term, 0, quiet, entry(quiet).name)) << term->dump();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: " + shown(entry(quiet).name))) << term->dump();
    term->settle(3 * kTextInterval, 4 * kTextInterval);
    EXPECT_EQ(term->trimmed(21), second) << term->dump();
}

TEST_F(BroadcastText, LongTextsAndControlBytesStayOnTheirOwnRow) {
    const std::string wide = "Now playing: a title long enough that its padding would run on";
    const std::string rough = "Breaking news\n\rfrom the coast:\ta bell \a, an escape \x1b[2J, "
                              "and then a great deal more text than any terminal row can hold, "
                              "well past the right edge ENDMARK";
    sim::Band band;
    band.frequencies = sim::band_iii_frequencies();
    sim::Ensemble ensemble;
    ensemble.frequency_khz = band.frequencies[0];
    ensemble.id = 0x30A1;
    ensemble.label = sim::make_label("Text Mux");
    sim::Service service;
    service.id = 0xC0F1;
    service.label = sim::make_label("Long Text FM");
    sim::Component component;
    component.id = 4;
    component.ascty_dscty = 63;
    service.components.push_back(component);
    service.texts = {wide, rough};
    ensemble.services.push_back(service);
    band.ensembles.push_back(ensemble);
    std::string error;
    ASSERT_TRUE(sim::validate_band(band, &error)) << error;
    bench.band = bench.writeFile("text-band.json", sim::band_to_json(band));
    bench.removeStationList();
    bench.clock = "virtual";
    {
        auto scan = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        scan->send("x");
        ASSERT_TRUE(scan->waitExit().exited);
    }
    bench.clock = "real";
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    term->send("\r");
    const std::string playing = "Playing: Long Text FM";
    const std::string freq = "Freq. Idx 0 Service ID 49393 Component ID 4";
    ASSERT_TRUE(term->waitForRow(23, playing)) << term->dump();

    // A text of 62 characters: its padding must not run into the next row.
    ASSERT_TRUE(term->waitForRow(21, wide, 5s)) << term->dump();
    term->settle(200ms, 1s);
    EXPECT_EQ(term->trimmed(21), wide);
    EXPECT_EQ(term->trimmed(22), freq) << term->dump();
    EXPECT_EQ(term->trimmed(23), playing) << term->dump();

    // Wider than the screen and full of control bytes: cut at the edge, the
    // rows around it untouched, nothing of it anywhere else.
    std::vector<std::string> above;
    for (int r = 0; r < 21; ++r) {
        above.push_back(term->row(r));
    }
    ASSERT_TRUE(term->waitForRow(21, "Breaking news", 2 * kTextInterval)) << term->dump();
    term->settle(300ms, 2s);
    for (int r = 0; r < 21; ++r) {
        EXPECT_EQ(term->row(r), above[static_cast<std::size_t>(r)]) << "row " << r << "\n"
                                                                    << term->dump();
    }
    EXPECT_EQ(term->row(21).rfind("Breaking news", 0), 0u) << term->dump();
    EXPECT_EQ(term->trimmed(22), freq) << term->dump();
    EXPECT_EQ(term->trimmed(23), playing) << term->dump();
    EXPECT_EQ(term->find("ENDMARK"), -1) << term->dump();
    EXPECT_TRUE(term->running());
}

} // namespace
} // namespace e2e
