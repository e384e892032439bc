// SPDX-License-Identifier: GPL-3.0-or-later
// The command line of si468x-diag: help, unknown subcommands, bad arguments
// and the root check. None of these may touch the board.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DiagRun.h"

namespace {

using diagtest::SimBoardDir;
using testing::HasSubstr;
using testing::IsEmpty;
using testing::Not;

constexpr const char *all_subcommands[] = {"status",    "info",   "freqs", "tune",   "services",
                                           "component", "search", "log",   "upload", "flash-load"};

TEST(DiagHelp, ListsEverySubcommandOnStdoutAndExitsZero) {
    SimBoardDir board;
    const auto result = board.run({"--help"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_THAT(result.err, IsEmpty());
    EXPECT_THAT(result.out, HasSubstr("Usage: si468x-diag"));
    for (const char *name : all_subcommands) {
        bool listed = false;
        for (const auto &line : diagtest::lines_of(result.out)) {
            listed = listed || line.rfind(std::string("  ") + name, 0) == 0;
        }
        EXPECT_TRUE(listed) << name << " is missing from --help";
    }
    EXPECT_THAT(result.out, HasSubstr("--power-down"));
    EXPECT_THAT(board.entries(), IsEmpty()) << "--help must not touch the board";
}

TEST(DiagHelp, WinsOverASubcommandAndItsArguments) {
    SimBoardDir board;
    const auto result = board.run({"tune", "999", "--help"});
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_THAT(result.out, HasSubstr("Usage: si468x-diag"));
    EXPECT_THAT(board.entries(), IsEmpty());
}

TEST(DiagUsage, UnknownSubcommandPrintsUsageOnStderr) {
    SimBoardDir board;
    const auto result = board.run({"frobnicate", "1"});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_THAT(result.err, HasSubstr("unknown subcommand 'frobnicate'"));
    EXPECT_THAT(result.err, HasSubstr("Usage: si468x-diag"));
    EXPECT_THAT(result.out, IsEmpty());
    EXPECT_THAT(board.entries(), IsEmpty());
}

TEST(DiagUsage, NoSubcommandPrintsUsage) {
    SimBoardDir board;
    for (const auto &args :
         {std::vector<std::string>{}, std::vector<std::string>{"--power-down"}}) {
        const auto result = board.run(args);
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_THAT(result.err, HasSubstr("Usage: si468x-diag"));
    }
    EXPECT_THAT(board.entries(), IsEmpty());
}

struct BadCommandLine {
    std::vector<std::string> args;
    const char *message;
};

// Every one of these is refused before the board is opened: the board
// directory stays empty (no state file, no device node).
TEST(DiagUsage, BadArgumentsAreRefusedBeforeTheBoardIsTouched) {
    const BadCommandLine cases[] = {
        {{"tune"}, "tune: expected <index>"},
        {{"tune", "1", "2"}, "tune: expected <index>"},
        {{"tune", "256"}, "tune: bad index '256'"},
        {{"tune", "0x100"}, "tune: bad index '0x100'"},
        {{"tune", "-1"}, "tune: bad index '-1'"},
        {{"tune", "+1"}, "tune: bad index '+1'"},
        {{"tune", "0x"}, "tune: bad index '0x'"},
        {{"tune", "12a"}, "tune: bad index '12a'"},
        {{"tune", "0x1g"}, "tune: bad index '0x1g'"},
        {{"tune", ""}, "tune: bad index ''"},
        {{"tune", " 1"}, "tune: bad index ' 1'"},
        {{"services", "99999999999999999999"}, "services: bad index '99999999999999999999'"},
        {{"component", "0", "4294967296", "1"}, "component: bad service id '4294967296'"},
        {{"component", "0", "0x1C221", "0x1_0"}, "component: bad component id '0x1_0'"},
        {{"component", "0", "1"}, "component: expected <index> <sid> <cid>"},
        {{"search"}, "search: expected <ua type>"},
        {{"search", "65536"}, "search: bad user-application type '65536'"},
        {{"search", "2", "--index", "3", "--count", "4"}, "--index and --count exclude each other"},
        {{"search", "2", "--index"}, "search: --index needs a value"},
        {{"search", "2", "--count=300"}, "search: bad count '300'"},
        {{"search", "2", "--frobnicate"}, "search: unknown option --frobnicate"},
        {{"log", "0", "1", "2", "3"}, "log: expected <index> <sid> <cid> <packets> <file>"},
        {{"log", "0", "1", "2", "x", "f"}, "log: bad packet count 'x'"},
        {{"log", "0", "1", "2", "3", "f", "--time-limit", "0x"}, "log: bad time limit '0x'"},
        {{"log", "0", "1", "2", "3", "f", "--time-limit", "86401"}, "log: bad time limit '86401'"},
        {{"flash-load", "0x100000000"}, "flash-load: bad address '0x100000000'"},
        {{"flash-load"}, "flash-load: expected <address>"},
        {{"upload", "patch.bin"}, "upload: expected <patch file> <image file>"},
        {{"freqs", "extra"}, "freqs: expected [--write-band3]"},
        {{"info", "--write-band3"}, "info: unknown option --write-band3"},
        {{"status", "now"}, "status: expected no arguments"},
        {{"--frobnicate", "info"}, "unknown option --frobnicate"},
    };
    for (const auto &c : cases) {
        SimBoardDir board;
        const auto result = board.run(c.args);
        std::string shown;
        for (const auto &arg : c.args) {
            shown += "'" + arg + "' ";
        }
        EXPECT_EQ(result.exit_status, 2) << shown;
        EXPECT_THAT(result.err, HasSubstr(c.message)) << shown;
        EXPECT_THAT(result.err, HasSubstr("Try 'si468x-diag --help'.")) << shown;
        EXPECT_THAT(board.entries(), IsEmpty()) << shown << "touched the board";
    }
}

// The check needs a user other than root; a test run as root drops to
// "nobody" for the child, a test run as another user is that user already.
TEST(DiagRoot, RefusesToRunWithoutRootAndLeavesTheBoardAlone) {
    SimBoardDir board;
    std::optional<uid_t> user;
    if (geteuid() == 0) {
        user = 65534;
        // The child must be able to reach the program as that user.
        struct stat program {};
        ASSERT_EQ(stat(TUNELARK_DIAG_PROGRAM, &program), 0);
        if ((program.st_mode & S_IXOTH) == 0) {
            GTEST_SKIP() << "the built program is not executable by other users";
        }
    }
    const auto result = board.run({"info"}, {}, user);
    ASSERT_NE(result.exit_status, 127) << "the program could not be started as that user";
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_THAT(result.err, HasSubstr("Must be called as root. Did you forget sudo?"));
    EXPECT_THAT(result.out, Not(HasSubstr("resetting")));
    EXPECT_THAT(board.entries(), IsEmpty());

    // Help needs no rights.
    const auto help = board.run({"--help"}, {}, user);
    EXPECT_EQ(help.exit_status, 0);
}

} // namespace
