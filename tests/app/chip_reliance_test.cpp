// SPDX-License-Identifier: GPL-3.0-or-later
// What the radio relies on from a real chip, each pinned by running the real
// binary on a board that does the opposite (sim/README.md, "What the radio
// relies on"). Each test states today's outcome under the opposite setting;
// a change in the radio that makes it robust against one shows up here.
#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/program_checks.h"
#include "support/radio_run.h"
#include "support/test_bands.h"

namespace {

using namespace tunelark::test;
using namespace std::chrono_literals;

// ---- the scan: STCINT and the reception status ------------------------------------

// A first start through the notice and the scan, then quit.
ProgramResult first_start(RadioRun &run) {
    run.term = "xterm";
    return run.run("\nx");
}

std::string ensembles_line(const RadioRun &run) {
    const std::string file = read_file(run.station_list_path());
    const std::size_t at = file.find("Num. Ensembles: ");
    return at == std::string::npos ? std::string() : file.substr(at, file.find('\n', at) - at);
}

// Row (a): a new tune clears STCINT although the radio never acknowledges it.
TEST(ChipReliance, StickyStcintLeavesTheScanWithTheFirstEnsembleOnly) {
    RadioRun plain;
    expect_clean_exit(first_start(plain));
    EXPECT_EQ(ensembles_line(plain), "Num. Ensembles: 6");

    RadioRun run;
    run.faults = "stcint-sticky";
    const ProgramResult result = first_start(run);
    expect_clean_exit(result);
    // Every tune after the first is taken as complete at once, and its channel
    // is judged before the chip has measured it.
    EXPECT_EQ(ensembles_line(run), "Num. Ensembles: 1");
    EXPECT_EQ(count_of(console_part(result.out), "Scanning Freq. "), 41u);
}

// Row (b): the FIC quality and the other reception figures are valid when
// STCINT comes.
TEST(ChipReliance, LateFicQualityLeavesTheScanWithNoEnsemble) {
    RadioRun run;
    run.faults = "fic-quality-late";
    const ProgramResult result = first_start(run);
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("No services found... quit"), std::string::npos);
    EXPECT_EQ(count_of(console_part(result.out), "Scanning Freq. "), 41u);
    EXPECT_FALSE(std::filesystem::exists(run.station_list_path()));
}

// Row (g): a complete service list keeps its version from one event poll to
// the next.
TEST(ChipReliance, ServiceListThatKeepsChangingLeavesTheScanWithNoEnsemble) {
    RadioRun run;
    run.faults = "list-unstable=always";
    const ProgramResult result = first_start(run);
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("No services found... quit"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(run.station_list_path()));
}

// Row (h): a service list, once available, is announced as new.
TEST(ChipReliance, ServiceListNeverAnnouncedLeavesTheScanWithNoEnsemble) {
    RadioRun run;
    run.faults = "list-unannounced=always";
    const ProgramResult result = first_start(run);
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("No services found... quit"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(run.station_list_path()));
}

// ---- the text line: overflow and packets ------------------------------------------

// No two texts share a character at the same position, so curses writes each
// text whole when it replaces another.
const std::vector<std::string> texts = {"abcdefghij", "klmnopqrst", "uvwxyzABCD"};

struct TextRun {
    std::set<std::string> shown; // texts that reached the screen
    std::size_t full_reads = 0;  // GET_DIGITAL_SERVICE_DATA 84 00
};

// A later start that plays the first station, on the virtual clock with a
// text every millisecond: every full read (with its 10 ms wait) lets the
// buffer of 8 overflow.
TextRun play_with_texts(const std::string &faults, bool first_text_shown = true) {
    RadioRun run;
    sim::Band band = two_ensemble_band();
    band.ensembles[0].services[0].texts = texts;
    run.band = band;
    run.term = "xterm";
    run.faults = faults;
    write_file(run.station_list_path(), station_list_text(band, 30));
    ProgramOptions options = run.options();
    options.env.emplace_back("SI468X_SIM_TIMING", "first-text=0,text-interval=1");
    RunningProgram child(options);
    child.write_input("\n");
    if (first_text_shown) {
        EXPECT_TRUE(child.wait_for_output(texts[0], 20s)) << child.output();
    } else {
        EXPECT_TRUE(child.wait_for_output("Playing: ", 20s)) << child.output();
    }
    child.collect_for(1500ms);
    child.write_input("x");
    const ProgramResult result = child.finish(20s);
    expect_clean_exit(result);
    TextRun outcome;
    for (const auto &text : texts) {
        if (result.out.find(text) != std::string::npos) {
            outcome.shown.insert(text);
        }
    }
    for (const auto &frame : commands(run.trace(), opcode::GET_DIGITAL_SERVICE_DATA)) {
        if (frame.out.size() > 1 && frame.out[1] == 0x00) {
            ++outcome.full_reads;
        }
    }
    return outcome;
}

// Row (c): the overflow bit clears itself on the read that reports it.
TEST(ChipReliance, StickyOverflowStopsTheTextsAfterTheFirst) {
    const TextRun plain = play_with_texts("");
    EXPECT_GE(plain.shown.size(), 2u) << "texts go on changing";
    EXPECT_GE(plain.full_reads, 3u);

    const TextRun sticky = play_with_texts("overflow-sticky");
    // The first text is read before the buffer overflows; from then on every
    // poll reports the overflow and the radio never reads a packet again.
    EXPECT_EQ(sticky.shown, (std::set<std::string>{texts[0]}));
    EXPECT_EQ(sticky.full_reads, 1u);
}

// Row (d): a packet leaves the buffer on the read, without an acknowledgement.
TEST(ChipReliance, PacketThatNeedsAnAckRepeatsTheFirstTextForever) {
    const TextRun acked = play_with_texts("packet-needs-ack");
    EXPECT_EQ(acked.shown, (std::set<std::string>{texts[0]}));
    EXPECT_GE(acked.full_reads, 3u) << "the radio goes on reading the same packet";
}

// Row (i): the packet-ready bit is set whenever a packet waits.
TEST(ChipReliance, PacketReadyBitNeverSetShowsNoText) {
    const TextRun unready = play_with_texts("data-not-ready", false);
    EXPECT_TRUE(unready.shown.empty());
    EXPECT_EQ(unready.full_reads, 0u) << "the radio never asks for the packet";
}

// ---- a running chip taken over ----------------------------------------------------

// Row (e): properties survive while the chip runs without a host, so the
// radio takes a running chip over without setting them again.
TEST(ChipReliance, TakeoverOfAChipThatForgotItsPropertiesSavesItsBootVolume) {
    RadioRun run;
    run.leave_chip_running(40);
    run.band = two_ensemble_band();
    run.faults = "takeover-defaults";
    const ProgramResult result = first_start(run);
    expect_clean_exit(result);
    EXPECT_EQ(count_of(result.out, "Si468x resetting..."), 0u) << "still taken over";
    EXPECT_EQ(count_of(result.out, "Set properties"), 0u);
    // The volume the last run left (40) is gone; the chip's boot value is saved.
    EXPECT_NE(result.out.find("Saving scan results.\nVolume: 63\n"), std::string::npos)
        << result.out;
    EXPECT_NE(read_file(run.station_list_path()).find("\nVolume: 63\n"), std::string::npos);
}

// Row (f): the chip keeps running (and playing) after the host exits with
// ctrl+c, so the next start takes it over.
TEST(ChipReliance, ChipResetAtHostExitMakesTheNextStartBringItUpAgain) {
    RadioRun run;
    run.leave_chip_running(40);
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 21));
    run.faults = "host-exit-resets-chip";
    const ProgramResult result = run.run("x");
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_EQ(count_of(console, "Si468x resetting..."), 1u) << console;
    EXPECT_NE(console.find("Set properties"), std::string::npos);
    EXPECT_NE(console.find("Volume: 21\n"), std::string::npos);
    const auto frames = run.trace();
    EXPECT_FALSE(commands(frames, opcode::POWER_UP).empty());
    EXPECT_FALSE(commands(frames, opcode::BOOT).empty());
}

} // namespace
