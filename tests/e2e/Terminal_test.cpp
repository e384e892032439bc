// SPDX-License-Identifier: GPL-3.0-or-later
// The harness itself, on a small curses program with the radio's terminal
// habits: if these fail, the radio's end-to-end tests cannot be trusted.
#include <csignal>
#include <string>

#include <gtest/gtest.h>

#include "support/Terminal.h"

namespace e2e {
namespace {

Launch probe(std::vector<std::string> args = {}, int rows = 24, int cols = 80) {
    Launch launch;
    launch.program = E2E_KEY_PROBE;
    launch.args = std::move(args);
    launch.environment = {{"TERM", "xterm"}};
    launch.rows = rows;
    launch.cols = cols;
    return launch;
}

// The probe's key line once it shows `expected`, or what it shows after 2 s.
std::string keyLine(Terminal &term, const std::string &expected) {
    term.waitUntil([&] { return term.trimmed(term.rows() - 2) == expected; }, 2s);
    return term.trimmed(term.rows() - 2);
}

TEST(TerminalScreen, ReadsTextBoldColoursAndBorderOfACursesScreen) {
    Terminal term(probe());
    ASSERT_TRUE(term.waitForText("inside")) << term.dump();
    term.settle(100ms);
    EXPECT_NE(term.output().find("probe: console before curses\r\n"), std::string::npos);

    EXPECT_EQ(term.trimmed(0), "probe title");
    Cell title = term.cell(0, 0);
    EXPECT_TRUE(title.bold);
    EXPECT_EQ(title.fg, 4);
    EXPECT_EQ(title.bg, 0);
    Cell status = term.cell(23, 0);
    EXPECT_EQ(status.fg, 2);
    EXPECT_EQ(status.bg, 0);
    // A cell nothing was written to has neither pair's colour nor bold.
    Cell empty = term.cell(12, 60);
    EXPECT_EQ(empty.text, " ");
    EXPECT_NE(empty.fg, 4);
    EXPECT_NE(empty.fg, 2);
    EXPECT_FALSE(empty.bold);

    // The window's line-drawing border arrives as box-drawing characters.
    EXPECT_EQ(term.cell(2, 4).text, "┌");
    EXPECT_EQ(term.cell(2, 23).text, "┐");
    EXPECT_EQ(term.cell(6, 4).text, "└");
    EXPECT_EQ(term.cell(6, 23).text, "┘");
    EXPECT_EQ(term.cell(3, 4).text, "│");
    EXPECT_EQ(term.cell(2, 10).text, "─");
    EXPECT_EQ(term.row(3).substr(term.row(3).find("│") + 3, 6), "inside");
}

TEST(TerminalScreen, ProgramSeesTheSizeItWasGiven) {
    for (auto [rows, cols] : {std::pair{24, 80}, {30, 100}, {20, 60}}) {
        Terminal term(probe({}, rows, cols));
        std::string expected = "size " + std::to_string(rows) + "x" + std::to_string(cols);
        EXPECT_TRUE(term.waitForRow(rows - 1, expected)) << term.dump();
        term.send("x");
        EXPECT_TRUE(term.waitExit().finished);
    }
}

TEST(TerminalKeys, ArriveAsTheKeyCodesTheRadioReads) {
    Terminal term(probe());
    ASSERT_TRUE(term.waitForText("inside"));
    struct Case {
        const char *name;
        std::function<void()> press;
        const char *code;
    };
    const Case cases[] = {
        {"Enter as typed", [&] { term.send("\r"); }, "key 10"},
        {"Enter key", [&] { term.key(VTERM_KEY_ENTER); }, "key 10"},
        {"Down", [&] { term.key(VTERM_KEY_DOWN); }, "key 258"},
        {"Up", [&] { term.key(VTERM_KEY_UP); }, "key 259"},
        {"Left", [&] { term.key(VTERM_KEY_LEFT); }, "key 260"},
        {"Right", [&] { term.key(VTERM_KEY_RIGHT); }, "key 261"},
        {"PageDown", [&] { term.key(VTERM_KEY_PAGEDOWN); }, "key 338"},
        {"PageUp", [&] { term.key(VTERM_KEY_PAGEUP); }, "key 339"},
        {"application-mode Down as bytes", [&] { term.send("\x1bOB"); }, "key 258"},
        {"q", [&] { term.send("q"); }, "key 113"},
        {"w", [&] { term.send("w"); }, "key 119"},
    };
    for (const Case &c : cases) {
        // A marker key first, so each case sees its own code appear.
        term.send("a");
        ASSERT_TRUE(term.waitForRow(22, "key 97")) << c.name;
        c.press();
        EXPECT_EQ(keyLine(term, c.code), c.code) << c.name << "\n" << term.dump();
    }
}

TEST(TerminalExit, EndsByKeyWithConsoleOutputAfterCursesMode) {
    {
        Terminal term(probe());
        ASSERT_TRUE(term.waitForText("inside"));
        std::size_t before = term.output().size();
        term.send("x");
        ExitStatus status = term.waitExit();
        ASSERT_TRUE(status.exited) << describe(status);
        EXPECT_EQ(status.code, 3);
        EXPECT_TRUE(term.closed());
        EXPECT_NE(term.output().find("probe: quit after ", before), std::string::npos);
        // Curses mode has left the alternate screen: the console line shows
        // on the normal screen below the line printed before curses began.
        int quit = term.find("probe: quit after");
        EXPECT_GT(quit, term.find("probe: console before curses")) << term.dump();
    }
    {
        Terminal term(probe());
        ASSERT_TRUE(term.waitForText("inside"));
        term.send(std::string(1, '\0'));
        ExitStatus status = term.waitExit();
        EXPECT_TRUE(status.exited && status.code == 0) << describe(status);
        EXPECT_NE(term.output().find("probe: NUL"), std::string::npos);
    }
}

// The curses library catches the interrupt of a program that has no handler
// of its own: it restores the terminal and ends the process with status 1.
TEST(TerminalExit, CtrlCEndsTheProgramThroughTheCursesLibrary) {
    Terminal term(probe());
    ASSERT_TRUE(term.waitForText("inside"));
    EXPECT_EQ(term.modes().c_lflag & (ICANON | ECHO), 0u);
    term.send("\x03");
    ExitStatus status = term.waitExit();
    EXPECT_TRUE(status.exited && status.code == 1) << describe(status);
    EXPECT_EQ(term.modes().c_lflag & (ICANON | ECHO), tcflag_t(ICANON | ECHO));
    EXPECT_EQ(term.output().find("probe: quit"), std::string::npos);
}

TEST(TerminalExit, WaitEndsAtItsBoundWhileTheProgramRuns) {
    Terminal term(probe());
    ASSERT_TRUE(term.waitForText("inside"));
    ExitStatus status = term.waitExit(200ms);
    EXPECT_FALSE(status.finished);
    EXPECT_TRUE(term.running());
    EXPECT_FALSE(term.waitForText("never shown", 200ms));
}

TEST(TerminalProcess, LineWaitHoldsUntilEnterAndIdleLoopCostsLittleCpu) {
    Terminal term(probe({"line"}));
    ASSERT_TRUE(term.waitForOutput("probe: console before curses"));
    term.settle(200ms);
    EXPECT_EQ(term.output().find("probe: line read"), std::string::npos);
    term.send("\r");
    ASSERT_TRUE(term.waitForOutput("probe: line read\r\n")) << term.output();
    ASSERT_TRUE(term.waitForText("inside"));

    auto before = term.cpuTicks();
    ASSERT_TRUE(before.has_value());
    term.settle(1500ms, 1500ms);
    auto after = term.cpuTicks();
    ASSERT_TRUE(after.has_value());
    // A key loop with a 100 ms time-out sleeps nearly all the time.
    EXPECT_LT(*after - *before, 30u);
    EXPECT_NE(term.modes().c_lflag & ISIG, 0u) << "ctrl+c must still raise an interrupt";
    EXPECT_EQ(term.modes().c_lflag & ICANON, 0u) << "cbreak mode";
}

} // namespace
} // namespace e2e
