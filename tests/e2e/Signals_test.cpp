// SPDX-License-Identifier: GPL-3.0-or-later
// Every signal that ends a run ends it cleanly, whatever the radio is doing:
// exit status 0, the terminal given back, the station list whole, and the
// chip left for the next start to take over.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "Band.h"
#include "run_program.h"
#include "support/RadioBench.h"

namespace e2e {
namespace {

// The list without its volume line: a save in the menu changes only that.
std::string withoutVolume(const std::string &list) {
    const std::size_t at = list.find("Volume: ");
    return at == std::string::npos ? list : list.substr(0, at) + list.substr(list.find('\n', at));
}

enum class Phase { Menu, Scan, Save };

TEST(Signals, EachSignalInEachPhaseEndsTheRunCleanly) {
    RadioBench reference;
    {
        auto term = reference.firstStart();
        ASSERT_FALSE(::testing::Test::HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }
    const std::string whole = withoutVolume(reference.stationList());

    const std::pair<int, const char *> signals[] = {
        {SIGINT, "INT"}, {SIGTERM, "TERM"}, {SIGHUP, "HUP"}, {SIGQUIT, "QUIT"}};
    const std::pair<Phase, const char *> phases[] = {
        {Phase::Menu, "menu"}, {Phase::Scan, "scan"}, {Phase::Save, "save"}};
    for (const auto &[signal_number, signal_name] : signals) {
        for (const auto &[phase, phase_name] : phases) {
            SCOPED_TRACE(std::string(signal_name) + " in the " + phase_name);
            RadioBench bench;
            std::unique_ptr<Terminal> term;
            if (phase == Phase::Scan) {
                term = bench.start();
                ASSERT_TRUE(term->waitForOutput("Please confirm with pressing ENTER"));
                term->send("\r");
                ASSERT_TRUE(term->waitForOutput("Do full DAB scan"));
            } else {
                term = bench.firstStart();
                if (phase == Phase::Save) {
                    term->send("q");
                }
            }
            kill(term->pid(), signal_number);
            const ExitStatus status = term->waitExit(5s);
            ASSERT_TRUE(status.exited && status.code == 0) << describe(status);
            const std::string &raw = term->output();
            // Curses mode left (when it was entered) with no word of its own
            // on the way out; echo and line mode back.
            if (const std::size_t entered = raw.rfind(kEnterCurses); entered != std::string::npos) {
                const std::size_t left = raw.rfind(kLeaveCurses);
                ASSERT_NE(left, std::string::npos);
                EXPECT_GT(left, entered);
                const std::string after = consoleText(raw.substr(left + kLeaveCurses.size()));
                EXPECT_EQ(after.find_first_not_of(" \n"), std::string::npos) << after;
            }
            EXPECT_NE(term->modes().c_lflag & ECHO, 0u);
            EXPECT_NE(term->modes().c_lflag & ICANON, 0u);
            EXPECT_EQ(withoutVolume(bench.stationList()), whole);

            auto next = bench.start();
            ASSERT_TRUE(waitForMenu(*next)) << consoleText(next->output());
            EXPECT_EQ(consoleText(next->output()).find("Si468x resetting..."), std::string::npos)
                << "the chip was left running and is taken over";
            next->send("x");
            EXPECT_TRUE(next->waitExit().exited);
        }
    }
}

// As the autostart unit runs it: no keyboard, a dumb terminal, the service
// failing to start. The run ends at once with the outcome for the journal.
TEST(Signals, AFailedStartWithoutInputEndsWithItsOutcome) {
    RadioBench bench;
    {
        auto term = bench.firstStart();
        ASSERT_FALSE(::testing::Test::HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }
    const std::vector<Entry> entries = expectedEntries(sim::default_band());
    bench.faults = "start-fail";
    tunelark::test::ProgramOptions options;
    options.program = TUNELARK_PROGRAM;
    options.args = {"-S", std::to_string(entries[0].service_id)};
    options.cwd = bench.runDirectory();
    for (const auto &[name, value] : bench.environment()) {
        options.env.emplace_back(name, name == "TERM" ? "dumb" : value);
    }
    options.stdin_null = true;
    const auto result = tunelark::test::run_program(options, {}, 10s);
    ASSERT_FALSE(result.timed_out) << result.out;
    EXPECT_TRUE(result.exited && result.exit_status == 0);
    EXPECT_LT(result.elapsed, 5s);
    // The last line, after what the dumb terminal's carriage returns drew.
    const std::size_t last = result.out.find_last_of("\r\n", result.out.size() - 2);
    EXPECT_EQ(result.out.substr(last + 1), "Station failed\n") << result.out;
}

} // namespace
} // namespace e2e
