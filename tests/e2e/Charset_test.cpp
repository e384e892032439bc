// SPDX-License-Identifier: GPL-3.0-or-later
// Station names and texts as the air sends them: accented EBU Latin, UTF-8
// and UCS-2 labels and texts, shown as characters in a UTF-8 terminal and in
// their ASCII spelling in the C locale; a band whose labels hold every byte
// value keeps every entry and plays the right one; a resize keeps what the
// user sees.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Band.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

constexpr const char *kUtf8 = "C.UTF-8";

// The name shown for entry k of the first menu page, trailing blanks dropped.
std::string nameAt(const Terminal &term, int k) {
    const int r = kMenuTop + 1 + k / 3;
    const int c = markColumn(k % 3) + 3;
    std::string name;
    for (int col = c; col < c + 16; ++col) {
        name += term.cell(r, col).text;
    }
    name.erase(name.find_last_not_of(' ') + 1);
    return name;
}

int indexOfId(const std::vector<Entry> &entries, uint32_t id) {
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].service_id == id) {
            return static_cast<int>(k);
        }
    }
    ADD_FAILURE() << "no service " << id;
    return 0;
}

std::string freqLine(const Entry &e) {
    return "Freq. Idx " + std::to_string(e.freq_index) + " Service ID " +
           std::to_string(e.service_id) + " Component ID " + std::to_string(e.component_id);
}

// The name of the marked entry, read cell by cell (markedName stops at 16
// cells, which is 16 characters here).
bool waitForMarkAt(Terminal &term, int k) {
    const int r = kMenuTop + 1 + k / 3;
    const int c = markColumn(k % 3) + 1;
    return term.waitUntil([&] { return markPosition(term) == std::pair{r, c}; });
}

// The labels the scan wrote to the console after "Services found:".
std::string servicesFound(const Terminal &term) {
    const std::string console = consoleText(term.output());
    const std::size_t start = console.find("Services found:\n");
    if (start == std::string::npos) {
        return {};
    }
    const std::size_t from = start + std::string("Services found:\n").size();
    return console.substr(from, console.find('\n', from) - from);
}

// ---- the default band in a UTF-8 terminal ----------------------------------------

class Charset : public ::testing::Test {
protected:
    RadioBench bench;
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
};

TEST_F(Charset, Utf8TerminalShowsAccentedAndUtf8LabelsAsCharacters) {
    bench.locale = kUtf8;
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    const std::vector<std::pair<uint32_t, std::string>> shown = {
        {0xC503, "Opéra Classique"}, {0xC504, "Łódź Jazz"},    {0xC506, "Öresund Klassik"},
        {0xC405, "Český Sport"},     {0xC605, "Kölner Welle"}, {0xC602, "Malmö Väst FM"},
    };
    for (const auto &[id, name] : shown) {
        const int k = indexOfId(entries, id);
        ASSERT_LT(k, 3 * kVisibleRows) << "on the first page";
        EXPECT_EQ(nameAt(*term, k), name) << "entry " << k << "\n" << term->dump();
    }
    // Plain labels and the special cases are as they were.
    EXPECT_EQ(nameAt(*term, 0), "Harbour FM");
    EXPECT_EQ(nameAt(*term, 2), "  Lantern Talk");
    EXPECT_EQ(nameAt(*term, 3), "(No Label)");

    // The console named the same stations in the same characters, 16 columns
    // each: a blank-only field for the label with nothing to show.
    const std::string found = servicesFound(*term);
    for (const char *field : {"Harbour FM      ", "  Lantern Talk  ", "                ",
                              "Łódź Jazz       ", "Kölner Welle    "}) {
        EXPECT_NE(found.find(field), std::string::npos) << field << "\n" << found;
    }

    // Enter plays the marked station and names it in its characters.
    const int opera = indexOfId(entries, 0xC503);
    pressArrows(*term, 0, opera);
    ASSERT_TRUE(waitForMarkAt(*term, opera)) << term->dump();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: Opéra Classique")) << term->dump();
    EXPECT_EQ(term->trimmed(22), freqLine(entries[static_cast<std::size_t>(opera)]));
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

TEST_F(Charset, CLocaleSpellsTheSameLabelsInAscii) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(nameAt(*term, indexOfId(entries, 0xC503)), "Opera Classique");
    EXPECT_EQ(nameAt(*term, indexOfId(entries, 0xC504)), "Lodz Jazz");
    EXPECT_EQ(nameAt(*term, indexOfId(entries, 0xC506)), "Oresund Klassik");
    EXPECT_EQ(nameAt(*term, indexOfId(entries, 0xC605)), "Kolner Welle");
    EXPECT_EQ(nameAt(*term, indexOfId(entries, 0xC602)), "Malmo Vast FM");
    // The console spells the labels in ASCII too: one 16-column field each.
    const std::string found = servicesFound(*term);
    EXPECT_EQ(found.size(), 16 * entries.size()) << found;
    EXPECT_NE(found.find("Lodz Jazz       "), std::string::npos) << found;
    EXPECT_NE(found.find("Oresund Klassik "), std::string::npos) << found;
    for (const char c : found) {
        ASSERT_TRUE(c >= 0x20 && c < 0x7F) << "byte " << int(static_cast<unsigned char>(c));
    }
    for (int r = 0; r < term->rows(); ++r) {
        for (int c = kMenuLeft + 1; c < kMenuLeft + kMenuCols - 1; ++c) {
            const std::string cell = term->cell(r, c).text;
            if (r > kMenuTop && r < kMenuTop + kMenuRows - 1) {
                ASSERT_EQ(cell.size(), 1u) << "row " << r << " col " << c << "\n" << term->dump();
                EXPECT_TRUE(cell[0] >= 0x20 && cell[0] < 0x7F) << "row " << r << " col " << c;
            }
        }
    }
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

// Texts arrive only on the real clock, once the station list exists.
class CharsetText : public Charset {
protected:
    void SetUp() override {
        bench.locale = kUtf8;
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
        bench.clock = "real";
        bench.timing = "first-text=300,text-interval=1000";
    }
};

TEST_F(CharsetText, AccentedTextOnItsRowAndAResizeKeepsWhatTheUserSees) {
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    const int koeln = indexOfId(entries, 0xC605);
    const int malmo = indexOfId(entries, 0xC602);
    pressArrows(*term, 0, koeln);
    ASSERT_TRUE(waitForMarkAt(*term, koeln)) << term->dump();
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: Kölner Welle")) << term->dump();
    const std::vector<std::string> texts = {"Grüße aus Köln", "Jetzt: Straßenbahn-Geflüster"};
    const auto showsText = [&](int row) {
        const std::string seen = term->trimmed(row);
        return seen == texts[0] || seen == texts[1];
    };
    ASSERT_TRUE(term->waitUntil([&] { return showsText(21); }, 5s)) << term->dump();
    const std::string station = freqLine(entries[static_cast<std::size_t>(koeln)]);
    EXPECT_EQ(term->trimmed(22), station);

    // Another entry selected, not started; then the window grows.
    pressArrows(*term, koeln, malmo);
    ASSERT_TRUE(waitForMarkAt(*term, malmo)) << term->dump();
    term->resize(30, 100);
    ASSERT_TRUE(term->waitForRow(29, "Playing: Kölner Welle")) << term->dump();
    term->settle(200ms, 2s);
    EXPECT_EQ(term->trimmed(0), kTitle);
    EXPECT_EQ(term->trimmed(25), kHelpScroll) << term->dump();
    EXPECT_EQ(term->trimmed(26), kHelpKeys);
    EXPECT_TRUE(showsText(27)) << term->dump();
    EXPECT_EQ(term->trimmed(28), station);
    EXPECT_EQ(markedName(*term), "Malmö Väst FM");
    for (int r = 21; r < 25; ++r) {
        EXPECT_EQ(term->trimmed(r), "") << "the old bottom rows are gone: row " << r << "\n"
                                        << term->dump();
    }

    // Too small for the menu, then back: everything comes back again.
    term->resize(20, 60);
    term->settle(300ms, 2s);
    EXPECT_NE(term->find("Terminal too small"), -1) << term->dump();
    term->resize(24, 80);
    ASSERT_TRUE(term->waitForRow(23, "Playing: Kölner Welle")) << term->dump();
    term->settle(200ms, 2s);
    EXPECT_TRUE(showsText(21)) << term->dump();
    EXPECT_EQ(term->trimmed(22), station);
    EXPECT_EQ(markedName(*term), "Malmö Väst FM");

    // The selection is still the one the keys act on.
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: Malmö Väst FM")) << term->dump();
    EXPECT_EQ(term->trimmed(22), freqLine(entries[static_cast<std::size_t>(malmo)]));
    EXPECT_TRUE(term->running());
}

// Texts sent in UTF-8 and in UCS-2 show on the text row as characters; each
// station's text takes the place of the one before.
TEST_F(CharsetText, Utf8AndUcs2TextsOnTheTextRow) {
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    const int ridgeway = indexOfId(entries, 0xC806);
    const int moorland = indexOfId(entries, 0xC802);
    pressArrows(*term, 0, ridgeway);
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: Ridgeway")) << term->dump();
    EXPECT_TRUE(term->waitForRow(21, "Ridgeway: walkers’ forecast", 5s)) << term->dump();

    // Up the rows first, then along: the last row holds one entry.
    pressArrows(*term, ridgeway, moorland);
    term->send("\r");
    ASSERT_TRUE(term->waitForRow(23, "Playing: Moorland Radio")) << term->dump();
    EXPECT_TRUE(term->waitUntil(
        [&] {
            const std::string seen = term->trimmed(21);
            return seen == "Now playing: Heather & Slate – Grey Skies" || seen == "Grüße vom Moor";
        },
        5s))
        << term->dump();
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

// ---- a band whose labels hold every byte value -----------------------------------

// "Café" first (once it emptied the menu), then sixteen labels that together
// hold the 256 byte values in four character sets, then labels of nothing but
// blanks and controls, broken UTF-8 and UCS-2 controls and non-characters.
sim::Band hostileBand() {
    sim::Band band;
    band.frequencies = sim::band_iii_frequencies();
    sim::Ensemble ensemble;
    ensemble.frequency_khz = band.frequencies[0];
    ensemble.id = 0x30B1;
    ensemble.label = sim::make_label("Hostile Mux");
    auto add = [&](std::initializer_list<uint8_t> bytes, uint8_t charset) {
        sim::Service service;
        service.id = 0xCA00 + static_cast<uint32_t>(ensemble.services.size());
        service.si_charset = charset;
        service.label = sim::make_label("");
        std::size_t i = 0;
        for (uint8_t byte : bytes) {
            service.label[i++] = byte;
        }
        sim::Component component;
        component.id = static_cast<uint16_t>(ensemble.services.size() + 1);
        component.ascty_dscty = 63;
        component.charset = charset;
        component.label = service.label;
        service.components.push_back(component);
        ensemble.services.push_back(service);
    };
    add({'C', 'a', 'f', 0x82}, 0);
    const uint8_t charsets[] = {0, 15, 6, 4};
    for (int s = 0; s < 16; ++s) {
        add({}, charsets[s % 4]);
        auto &label = ensemble.services.back().label;
        for (int i = 0; i < 16; ++i) {
            label[static_cast<std::size_t>(i)] = static_cast<uint8_t>(s * 16 + i);
        }
        ensemble.services.back().components[0].label = label;
    }
    add({' ', 0x0A, 0x0B, 0x1F, 0x0A, ' ', 0x1F}, 0);
    add({0xC0, 0xAF, 0xED, 0xA0, 0x80, 0xF4, 0x90, 0x80, 0x80, 0xFF, 0xFE, 0xC3}, 15);
    add({0x00, 0x07, 0xFF, 0xFF, 0x00, 0x1B, 0xD8, 0x00, 0x00, 'A', 0xFF, 0xFE}, 6);
    // Texts with every byte value but the terminator.
    std::string every;
    for (int b = 1; b < 256; ++b) {
        every.push_back(static_cast<char>(b));
    }
    for (auto &service : ensemble.services) {
        service.texts = {every};
    }
    band.ensembles.push_back(ensemble);
    return band;
}

class HostileLabels : public ::testing::Test {
protected:
    RadioBench bench;
    const sim::Band band = hostileBand();
    const std::vector<Entry> entries = expectedEntries(band);

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(sim::validate_band(band, &error)) << error;
        bench.band = bench.writeFile("hostile-band.json", sim::band_to_json(band));
        ASSERT_EQ(entries.size(), 20u);
    }
};

TEST_F(HostileLabels, CLocaleListsEveryEntryAndRescanLast) {
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(nameAt(*term, 0), "Cafe");
    EXPECT_EQ(nameAt(*term, 1), "(No Label)") << "its first byte is zero";
    for (int k = 0; k < 20; ++k) {
        const std::string name = nameAt(*term, k);
        EXPECT_FALSE(name.empty()) << "entry " << k << "\n" << term->dump();
        EXPECT_EQ(name, entries[static_cast<std::size_t>(k)].name) << "entry " << k;
        for (char c : name) {
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "entry " << k << ": " << name;
        }
    }
    EXPECT_EQ(nameAt(*term, 17), "(No Label)") << "blanks and controls only";
    EXPECT_EQ(nameAt(*term, 18), "????????????") << "twelve ill-formed parts";
    EXPECT_EQ(nameAt(*term, 19), "????A???")
        << "UCS-2 controls, non-characters and daggers; a first byte of zero is no empty name";
    EXPECT_EQ(nameAt(*term, 20), "Rescan");
    EXPECT_EQ(nameAt(*term, 21), "") << "nothing after Rescan";
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

TEST_F(HostileLabels, EnterOnEveryEntryPlaysItsOwnService) {
    bench.locale = kUtf8;
    auto term = bench.firstStart();
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(nameAt(*term, 0), "Café");
    EXPECT_EQ(nameAt(*term, 20), "Rescan");
    for (int k = 0; k < 20; ++k) {
        if (k > 0) {
            pressArrows(*term, k - 1, k);
        }
        ASSERT_TRUE(waitForMarkAt(*term, k)) << "entry " << k << "\n" << term->dump();
        term->send("\r");
        const Entry &entry = entries[static_cast<std::size_t>(k)];
        ASSERT_TRUE(term->waitForRow(22, freqLine(entry))) << "entry " << k << "\n" << term->dump();
        EXPECT_TRUE(term->waitUntil([&] { return term->row(23).rfind("Playing:", 0) == 0; }))
            << "entry " << k << "\n"
            << term->dump();
    }
    EXPECT_EQ(bench.board().service_id, entries.back().service_id);
    term->send("x");
    EXPECT_TRUE(term->waitExit().exited);
}

} // namespace
} // namespace e2e
