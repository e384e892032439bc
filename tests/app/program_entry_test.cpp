// SPDX-License-Identifier: GPL-3.0-or-later
// The real binary from its start to the bring-up: root check, command line,
// first-start notice, link failures. Every run must end with status 0.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/radio_run.h"
#include "support/test_bands.h"

namespace {

using namespace tunelark::test;
using namespace std::chrono_literals;

constexpr uid_t nobody = 65534;

const std::string program_usage_text =
    "Useage either without arguments: sudo ./Tunelark,\n"
    "or with Service Identifier: sudo ./Tunelark -S [service identifier number].\n"
    "See the stationlist.txt file to find the service identifier number of a service\n";
const std::string not_found = "Si468x resetting...\nThe Si468x chip could not be found. \nExit.\n";
const std::string notice_request = "Please confirm with pressing ENTER\n";

void open_to_everyone(const RadioRun &run) {
    chmod(run.work.path().c_str(), 0777);
    chmod(run.board.path().c_str(), 0777);
}

// A clean end that wrote nothing to standard error.
void expect_quiet_clean_exit(const ProgramResult &result) {
    EXPECT_FALSE(result.timed_out);
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
}

// ---- root check ---------------------------------------------------------------

TEST(RootCheck, NonRootGetsOnlyTheStartLineAndTheNotice) {
    RadioRun run;
    run.uid = nobody;
    run.args = {"-S", "12a4"}; // would print the usage if it were read
    open_to_everyone(run);
    const ProgramResult result = run.run();
    expect_quiet_clean_exit(result);
    EXPECT_EQ(result.out, start_line + "Must be called as root. Did you forget sudo?\n");
    // No station list was created and the board was never touched.
    EXPECT_FALSE(std::filesystem::exists(run.station_list_path()));
    EXPECT_FALSE(std::filesystem::exists(run.trace_path()));
    EXPECT_FALSE(std::filesystem::exists(run.board.file("state")));
}

TEST(RootCheck, NonRootNeverOpensTheStationList) {
    RadioRun run;
    run.uid = nobody;
    open_to_everyone(run);
    // Opening a FIFO for reading blocks until a writer comes: a run that
    // touched the file would hang here.
    ASSERT_EQ(mkfifo(run.station_list_path().c_str(), 0666), 0);
    run.limit = 10s;
    const ProgramResult result = run.run();
    expect_quiet_clean_exit(result);
    EXPECT_EQ(result.out, start_line + "Must be called as root. Did you forget sudo?\n");
}

// ---- command line through the binary --------------------------------------------

// An absent chip ends every run right after the bring-up's first reset, so
// the output shows what the command line did and nothing else differs.
struct BinaryCommandLineCase {
    const char *name;
    std::vector<std::string> args;
    bool usage;
};

class BinaryCommandLine : public ::testing::TestWithParam<BinaryCommandLineCase> {};

TEST_P(BinaryCommandLine, UsageThenTheNormalStart) {
    RadioRun run;
    run.args = GetParam().args;
    run.faults = "absent";
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    const ProgramResult result = run.run();
    expect_quiet_clean_exit(result);
    EXPECT_EQ(result.out, start_line + (GetParam().usage ? program_usage_text : "") +
                              "SPI bus enabled.\n" + not_found);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BinaryCommandLine,
    ::testing::Values(BinaryCommandLineCase{"NoArguments", {}, false},
                      BinaryCommandLineCase{"MarkerAlone", {"-S"}, true},
                      BinaryCommandLineCase{"EmptyWord", {"-S", ""}, false},
                      BinaryCommandLineCase{"Zero", {"-S", "0"}, false},
                      BinaryCommandLineCase{"Digits", {"-S", "1234"}, false},
                      BinaryCommandLineCase{"LetterInside", {"-S", "12a4"}, true},
                      BinaryCommandLineCase{"ElevenDigits", {"-S", "12345678901"}, true},
                      BinaryCommandLineCase{"TenDigitsWrap", {"-S", "4294967296"}, false},
                      BinaryCommandLineCase{"TooManyWords", {"-S", "1", "2"}, true}),
    [](const auto &info) { return std::string(info.param.name); });

// Which identifier the binary took shows in the service lookup: one that is
// not in the station list ends the run before the menu, 0 never does.
struct RequestedIdCase {
    const char *name;
    std::vector<std::string> args;
    bool unknown;
};

class BinaryRequestedId : public ::testing::TestWithParam<RequestedIdCase> {};

TEST_P(BinaryRequestedId, ReachesTheServiceLookup) {
    RadioRun run;
    run.args = GetParam().args;
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult result = run.run("x");
    expect_quiet_clean_exit(result);
    const std::string unknown = "Volume: 30\nUnknown service identifier, stop.\n";
    if (GetParam().unknown) {
        EXPECT_EQ(
            result.out.substr(result.out.size() - std::min(result.out.size(), unknown.size())),
            unknown);
    } else {
        EXPECT_EQ(count_of(result.out, "Unknown service identifier"), 0u);
        EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BinaryRequestedId,
    ::testing::Values(RequestedIdCase{"LargestValue", {"-S", "4294967295"}, true},
                      RequestedIdCase{"WrapsToZero", {"-S", "4294967296"}, false},
                      RequestedIdCase{"AnyMarker", {"x", "4711"}, true},
                      RequestedIdCase{"Rejected", {"-S", "47a11"}, false},
                      RequestedIdCase{"EmptyWord", {"-S", ""}, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(BinaryRequestedIdStart, AnyMarkerWordSelectsTheServiceAndLeavesItPlaying) {
    RadioRun run;
    run.args = {"x", "1234"};
    run.band = two_ensemble_band();
    run.term = "xterm";
    write_file(run.station_list_path(), station_list_text(*run.band, 30));
    const ProgramResult result = run.run();
    expect_quiet_clean_exit(result);
    EXPECT_EQ(count_of(result.out, "User quits."), 0u);
    EXPECT_NE(result.out.find("Playing: Alpha One"), std::string::npos);
    run.load_board();
    uint32_t service = 0;
    uint32_t component = 0;
    ASSERT_TRUE(sim::service_started(&service, &component));
    EXPECT_EQ(service, 1234u);
    EXPECT_EQ(component, 1u);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_TRUE(sim::pin(reset_pin).level);
}

// ---- first-start notice ----------------------------------------------------------

TEST(FirstStartNotice, WaitsForEnterBeforeOpeningTheLink) {
    RadioRun run;
    run.faults = "absent";
    RunningProgram child(run.options());
    ASSERT_TRUE(child.wait_for_output(notice_request, 20s)) << child.output();
    // Input held open without a newline: the program must wait.
    child.collect_for(700ms);
    EXPECT_TRUE(child.running());
    EXPECT_EQ(count_of(child.output(), "SPI bus enabled."), 0u);
    EXPECT_FALSE(std::filesystem::exists(run.trace_path()) && !read_file(run.trace_path()).empty());
    EXPECT_FALSE(std::filesystem::exists(run.board.file("state")));

    child.write_input("\n");
    const ProgramResult result = child.finish(30s);
    expect_quiet_clean_exit(result);
    const auto notice_at = result.out.find(notice_request);
    ASSERT_NE(notice_at, std::string::npos);
    EXPECT_EQ(result.out.substr(notice_at + notice_request.size()),
              "SPI bus enabled.\n" + not_found);
    EXPECT_EQ(result.out.rfind(start_line + "Please note:\n", 0), 0u);
}

TEST(FirstStartNotice, ProgramGoesOnAtOnceWhenInputEndsWithoutNewline) {
    RadioRun run;
    run.faults = "absent";
    const auto started = std::chrono::steady_clock::now();
    const ProgramResult result = run.run("no newline");
    expect_quiet_clean_exit(result);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_NE(result.out.find(notice_request + "SPI bus enabled.\n" + not_found),
              std::string::npos);
}

TEST(FirstStartNotice, NotShownAndNothingWaitsWhenTheStationListExists) {
    RadioRun run;
    run.faults = "absent";
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    // Input open and silent: nothing may wait for it.
    RunningProgram child(run.options());
    const ProgramResult result = child.finish(30s);
    expect_quiet_clean_exit(result);
    EXPECT_EQ(result.out, start_line + "SPI bus enabled.\n" + not_found);
}

// ---- console output on a pipe ----------------------------------------------------

TEST(ConsoleOutput, ReachesAPipeLineByLineWhileTheRunGoesOn) {
    RadioRun run;
    run.faults = "patch-fail=always";
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    ProgramOptions options = run.options();
    // Real time: each failed attempt keeps the program busy for over two
    // seconds, long after its lines were written.
    for (auto &[name, value] : options.env) {
        if (name == "SI468X_SIM_CLOCK") {
            value = "real";
        }
    }
    RunningProgram child(options);
    // The first attempt ends after about 2.3 s; a full buffer of 4 KiB
    // would hold its lines until the fifth.
    ASSERT_TRUE(child.wait_for_output("Patch not transmitted successfully\n", 4s))
        << child.output();
    EXPECT_TRUE(child.running());
    EXPECT_EQ(child.output().rfind(start_line + "SPI bus enabled.\nSi468x resetting...\n", 0), 0u);
}

// ---- link failures ---------------------------------------------------------------

const std::string link_failure =
    "Error initializing SPI bus. Check that SPI is enabled and that /dev/spidev0.0 exists\n";

TEST(LinkFailure, MissingDeviceNodeEndsWithTheLinkMessageAndPowersDown) {
    RadioRun run;
    run.faults = "no-spidev";
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    const ProgramResult result = run.run();
    expect_quiet_clean_exit(result);
    EXPECT_EQ(result.out, start_line + link_failure);
    run.load_board();
    EXPECT_FALSE(sim::peripherals_open());
    EXPECT_FALSE(sim::pin(reset_pin).level);
}

TEST(LinkFailure, FailedPeripheralAccessLeavesTheResetLineAlone) {
    RadioRun run;
    run.faults = "init-fail";
    run.leave_chip_running();
    write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
    const ProgramResult result = run.run();
    expect_quiet_clean_exit(result);
    EXPECT_EQ(result.out, start_line + link_failure);
    // The chip an earlier run left playing is not reset by the power-down.
    run.load_board();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
}

// The same exit where the link goes through the kernel's devices: on a Pi 5
// without SPI enabled, with the reset line held by another program, and on a
// board whose missing device tree names no GPIO line. A chip left running
// stays running: a failed open writes no level.
struct KernelLinkFailure {
    const char *pi;
    const char *faults;
};

TEST(LinkFailure, KernelPathFailuresEndWithTheSameMessageAndLeaveTheChipAlone) {
    const std::vector<KernelLinkFailure> cases = {
        {"5", "no-spidev"},
        {"5", "spi-fail"},
        {"5", "init-fail"},
        {"none", ""},
    };
    for (const auto &c : cases) {
        RadioRun run;
        run.pi = c.pi;
        run.faults = c.faults;
        run.leave_chip_running();
        write_file(run.station_list_path(), station_list_text(two_ensemble_band(), 30));
        const ProgramResult result = run.run();
        expect_quiet_clean_exit(result);
        EXPECT_EQ(result.out, start_line + link_failure) << c.pi << " " << c.faults;
        run.load_board();
        EXPECT_EQ(sim::chip_state(), sim::ChipState::Running) << c.pi << " " << c.faults;
        EXPECT_TRUE(sim::pin(reset_pin).level) << c.pi << " " << c.faults;
        // The kernel's devices were asked, not the bcm2835 library; without
        // the node the chip lock stops the open before either path is asked.
        if (std::string(c.faults) == "no-spidev") {
            continue;
        }
        const std::string stats = read_file(run.board.file("stats"));
        EXPECT_EQ(stats.find("\nsyscalls=0\n"), std::string::npos) << stats;
        EXPECT_NE(stats.find("\nsyscalls="), std::string::npos) << stats;
    }
}

} // namespace
