// SPDX-License-Identifier: GPL-3.0-or-later
// The command line, the first-start notice and the failure exit, called as
// functions.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CorvaneRadio.h"
#include "stdout_capture.h"

namespace {

using tunelark::test::StdinFeed;
using tunelark::test::StdoutCapture;

const std::string usage_text =
    "Useage either without arguments: sudo ./Tunelark,\n"
    "or with Service Identifier: sudo ./Tunelark -S [service identifier number].\n"
    "See the stationlist.txt file to find the service identifier number of a service\n";

struct CommandLineCase {
    const char *name;
    std::vector<std::string> words; // after the program name
    uint32_t expected;
    bool usage;
};

class CommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLine, GivesTheServiceIdentifierAndUsage) {
    const CommandLineCase &c = GetParam();
    std::vector<std::string> words{"./Tunelark"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    std::vector<const char *> argv;
    for (const auto &word : words) {
        argv.push_back(word.c_str());
    }
    argv.push_back(nullptr);

    StdoutCapture capture;
    const uint32_t id = parse_cmd_line_args(static_cast<int>(words.size()), argv.data());
    const std::string out = capture.take();

    EXPECT_EQ(id, c.expected);
    EXPECT_EQ(out, c.usage ? usage_text : "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommandLine,
    ::testing::Values(CommandLineCase{"NoArguments", {}, 0, false},
                      CommandLineCase{"MarkerAlone", {"-S"}, 0, true},
                      CommandLineCase{"EmptyWord", {"-S", ""}, 0, false},
                      CommandLineCase{"Zero", {"-S", "0"}, 0, false},
                      CommandLineCase{"OneDigit", {"-S", "7"}, 7, false},
                      CommandLineCase{"Typical", {"-S", "1234"}, 1234, false},
                      CommandLineCase{"AnyMarkerWord", {"x", "1234"}, 1234, false},
                      CommandLineCase{"EmptyMarker", {"", "1234"}, 1234, false},
                      CommandLineCase{"LeadingZeros", {"-S", "0000000042"}, 42, false},
                      CommandLineCase{"LargestValue", {"-S", "4294967295"}, 4294967295u, false},
                      CommandLineCase{"TenDigitsWrap", {"-S", "4294967296"}, 0, false},
                      CommandLineCase{
                          "TenDigitsWrapFurther", {"-S", "9999999999"}, 1410065407u, false},
                      CommandLineCase{"ElevenDigits", {"-S", "12345678901"}, 0, true},
                      CommandLineCase{"ElevenZeros", {"-S", "00000000000"}, 0, true},
                      CommandLineCase{"LetterInside", {"-S", "12a4"}, 0, true},
                      CommandLineCase{"LetterFirst", {"-S", "a"}, 0, true},
                      CommandLineCase{"TrailingBlank", {"-S", "12 "}, 0, true},
                      CommandLineCase{"Sign", {"-S", "+12"}, 0, true},
                      CommandLineCase{"Negative", {"-S", "-1"}, 0, true},
                      CommandLineCase{"HexPrefix", {"-S", "0x1F"}, 0, true},
                      CommandLineCase{"NonDigitAsEleventh", {"-S", "1234567890x"}, 0, true},
                      CommandLineCase{"ByteAboveAscii", {"-S", "12\xB9"}, 0, true},
                      CommandLineCase{"ThreeArguments", {"-S", "1234", "5"}, 0, true},
                      CommandLineCase{"FourArguments", {"-S", "1", "2", "3"}, 0, true}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CommandLineCount, ZeroWordsCountAsNoArguments) {
    const char *argv[] = {nullptr};
    StdoutCapture capture;
    EXPECT_EQ(parse_cmd_line_args(0, argv), 0u);
    EXPECT_EQ(capture.take(), "");
}

// The notice's fixed lines; its three middle lines are ours to word.
void expect_notice(const std::string &out) {
    ASSERT_EQ(out.rfind("Please note:\n", 0), 0u) << out;
    const std::string tail = "\n\nPlease confirm with pressing ENTER\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    // Heading, three notice lines, the empty line and the request.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 6);
}

TEST(FirstStartNotice, WaitsForTheNewlineAndLeavesLaterKeys) {
    StdinFeed input("abc\nx");
    StdoutCapture capture;
    print_new_start_banner();
    const std::string out = capture.take();
    expect_notice(out);
    // Everything after the newline is still there for the menu to read.
    EXPECT_EQ(input.unread(), "x");
}

TEST(FirstStartNotice, EndOfInputWithoutNewlineGoesOnAtOnce) {
    StdinFeed input("no newline here");
    StdoutCapture capture;
    const auto start = std::chrono::steady_clock::now();
    print_new_start_banner();
    const auto spent = std::chrono::steady_clock::now() - start;
    expect_notice(capture.take());
    EXPECT_LT(spent, std::chrono::seconds(1));
    EXPECT_EQ(input.unread(), "");
}

TEST(FirstStartNotice, EmptyInputGoesOnAtOnce) {
    StdinFeed input("");
    StdoutCapture capture;
    print_new_start_banner();
    expect_notice(capture.take());
}

} // namespace
