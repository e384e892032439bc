// SPDX-License-Identifier: GPL-3.0-or-later
// The real binary and its station list: a list that does not read back whole
// is never lost to a save, a volume out of range acts at once, and nothing but
// a regular file at the list's path is read, replaced or waited on.
#include <filesystem>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "stdout_capture.h"
#include "support/program_checks.h"
#include "support/radio_run.h"
#include "support/test_bands.h"

namespace {

namespace fs = std::filesystem;
using namespace tunelark::test;
using namespace std::chrono_literals;

// One ensemble: two audio services, one with two components, and a data
// service, so every kind of line of the file is there.
sim::Band mutation_band() {
    sim::Service two = audio_service(0xD002, "Lark Two", 2);
    sim::Component extra;
    extra.id = 7;
    extra.ascty_dscty = 1;
    two.components.push_back(extra);
    return band_of({ensemble_at(4, 0x3001, "Mutation Mux",
                                {audio_service(0xD001, "Lark One", 1), two,
                                 data_service(0xE1D0A004, "Lark Data", 0x004)})});
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start + 1));
    }
    return lines;
}

std::vector<std::string> files_holding(const std::string &directory, const std::string &bytes) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(directory)) {
        if (entry.is_regular_file() && read_file(entry.path().string()) == bytes) {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// A valid list is what the writer writes for what the reader makes of it:
// read back and written again, it comes out byte for byte the same.
::testing::AssertionResult is_valid_list(const std::string &path) {
    const std::string text = read_file(path);
    auto results = std::make_unique<DAB_ScanResults>();
    uint8_t volume = 0;
    StdoutCapture quiet;
    const int16_t read = DAB_read_scan_results(results.get(), path.c_str(), &volume);
    ScratchDir other("tunelark_check");
    const std::string again = other.file("stationlist.txt");
    const int16_t saved = DAB_save_scan_results(results.get(), again.c_str(), volume);
    quiet.take();
    if (read != 0 || saved != 0) {
        return ::testing::AssertionFailure() << "read " << read << ", save " << saved;
    }
    if (read_file(again) != text) {
        return ::testing::AssertionFailure() << "not what the writer writes:\n"
                                             << text << "\nwritten again:\n"
                                             << read_file(again);
    }
    return ::testing::AssertionSuccess();
}

// A start with `list` in place, one volume key, then quit: afterwards the
// list's bytes are still in the directory and the list is valid.
void start_press_and_quit(const std::string &list, const std::string &what) {
    SCOPED_TRACE(what);
    RadioRun run;
    run.band = mutation_band();
    run.term = "xterm";
    write_file(run.station_list_path(), list);
    // A chip left running is taken over without the firmware upload: the
    // runs stay short, and the load is the same.
    run.leave_chip_running();
    const ProgramResult result = run.run("qx");
    expect_clean_exit(result);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos) << console_part(result.out);
    const std::vector<std::string> kept = files_holding(run.work.path(), list);
    ASSERT_EQ(kept.size(), 1u) << console_part(result.out);
    EXPECT_NE(kept[0], "stationlist.txt");
    // The console said where, before the menu.
    EXPECT_NE(console_part(result.out).find(kept[0]), std::string::npos)
        << console_part(result.out);
    EXPECT_TRUE(is_valid_list(run.station_list_path()));
}

TEST(DamagedStationList, EveryLineReplacedByGarbageIsKeptAndNeverLost) {
    const std::string list = station_list_text(mutation_band(), 40);
    const std::vector<std::string> lines = lines_of(list);
    ASSERT_GT(lines.size(), 40u);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        std::string damaged;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            damaged += i == k ? std::string("#~ garbage ~#\n") : lines[i];
        }
        start_press_and_quit(damaged, "line " + std::to_string(k + 1) + " garbled");
    }
}

TEST(DamagedStationList, ListCutAfterEveryLineIsKeptAndNeverLost) {
    const std::string list = station_list_text(mutation_band(), 40);
    const std::vector<std::string> lines = lines_of(list);
    std::string cut;
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) {
        cut += lines[k];
        start_press_and_quit(cut, "cut after line " + std::to_string(k + 1));
    }
}

TEST(DamagedStationList, ASecondStartWithTheSameDamageKeepsNoSecondCopy) {
    RadioRun run;
    run.band = mutation_band();
    run.term = "xterm";
    std::string list = station_list_text(mutation_band(), 40);
    list.replace(list.find("PTY 0"), 5, "PTY 99");
    for (int start = 0; start < 2; ++start) {
        write_file(run.station_list_path(), list);
        expect_clean_exit(run.run("x"));
    }
    // An earlier copy of other bytes is never written over either.
    std::string other = list;
    other.replace(other.find("Volume: 40"), 10, "Volume: 41");
    write_file(run.station_list_path(), other);
    const ProgramResult result = run.run("qx");
    expect_clean_exit(result);
    EXPECT_EQ(files_holding(run.work.path(), list).size(), 1u);
    EXPECT_EQ(files_holding(run.work.path(), other).size(), 1u);
    std::size_t entries = 0;
    for (const auto &entry : fs::directory_iterator(run.work.path())) {
        static_cast<void>(entry);
        ++entries;
    }
    EXPECT_EQ(entries, 3u) << "the list and two kept copies";
}

TEST(DamagedStationList, ListThatCannotBeKeptIsNeverOverwritten) {
    RadioRun run;
    run.band = mutation_band();
    run.term = "xterm";
    std::string list = station_list_text(mutation_band(), 40);
    list.replace(list.find("Num services: 3"), 15, "Num services: 4");
    write_file(run.station_list_path(), list);
    // Every name a copy could take is taken, by other bytes.
    for (int n = 1; n <= 999; ++n) {
        write_file(run.station_list_path() + ".damaged-" + std::to_string(n), "other\n");
    }
    const ProgramResult result = run.run("qwx");
    expect_clean_exit(result);
    EXPECT_NE(console_part(result.out).find("stationlist.txt did not read back whole"),
              std::string::npos)
        << console_part(result.out);
    EXPECT_NE(console_part(result.out).find("could not be kept"), std::string::npos);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    EXPECT_EQ(read_file(run.station_list_path()), list);
    // The volume keys still act on the chip.
    const auto writes = commands(run.trace(), opcode::SET_PROPERTY);
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(property_value(writes.back()), 40);
}

TEST(StationListVolume, VolumeOutOfRangeIsTakenAsTheNearestBoundAndKeysActAtOnce) {
    struct Case {
        const char *stored;
        const char *key;
        unsigned started;
        unsigned after_key;
    };
    for (const Case &c : {Case{"200", "q", 63, 62}, Case{"64", "q", 63, 62}, Case{"-1", "w", 0, 1},
                          Case{"255", "w", 63, 63}}) {
        SCOPED_TRACE(c.stored);
        RadioRun run;
        run.band = mutation_band();
        run.term = "xterm";
        std::string list = station_list_text(mutation_band(), 40);
        list.replace(list.find("Volume: 40"), 10, std::string("Volume: ") + c.stored);
        write_file(run.station_list_path(), list);
        const ProgramResult result = run.run(std::string(c.key) + "x");
        expect_clean_exit(result);
        EXPECT_NE(console_part(result.out).find("Volume: " + std::to_string(c.started) + "\n"),
                  std::string::npos)
            << console_part(result.out);
        const auto writes = commands(run.trace(), opcode::SET_PROPERTY);
        ASSERT_FALSE(writes.empty());
        EXPECT_EQ(property_id(writes.back()), 0x0300);
        EXPECT_EQ(property_value(writes.back()), c.after_key);
        EXPECT_EQ(second_line(read_file(run.station_list_path())),
                  "Volume: " + std::to_string(c.after_key));
        EXPECT_EQ(files_holding(run.work.path(), list).size(), 1u) << "the user's file is kept";
    }
}

// ---- what stands at the path ----------------------------------------------------------

// A first start with something that is not a file at the list's path: it is
// named on the console, the notice and the scan follow, and the save that
// would replace it fails; the thing is left as it was. Nothing waits on it.
void expect_not_a_list(RadioRun &run, const std::string &kind) {
    run.limit = 30s;
    const ProgramResult result = run.run("\n");
    expect_clean_exit(result);
    const std::string line = "stationlist.txt is " + kind + ", not a regular file";
    EXPECT_NE(result.out.find(line), std::string::npos) << result.out;
    EXPECT_LT(result.out.find(line), result.out.find("Please note:")) << result.out;
    EXPECT_NE(result.out.find("Do full DAB scan"), std::string::npos);
    const std::string end = "Could not save scan results. Exit.\n";
    ASSERT_GE(result.out.size(), end.size());
    EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end) << result.out;
    EXPECT_EQ(result.out.find("Reading station list"), std::string::npos);
}

TEST(StationListPath, NamedPipeIsNamedAndNeverWaitedOn) {
    RadioRun run;
    run.band = mutation_band();
    ASSERT_EQ(mkfifo(run.station_list_path().c_str(), 0644), 0);
    expect_not_a_list(run, "a named pipe (FIFO)");
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(run.station_list_path())));
}

TEST(StationListPath, DirectoryIsNamedAndLeftAlone) {
    RadioRun run;
    run.band = mutation_band();
    fs::create_directory(run.station_list_path());
    write_file(run.station_list_path() + "/inside", "x");
    expect_not_a_list(run, "a directory");
    EXPECT_EQ(read_file(run.station_list_path() + "/inside"), "x");
}

TEST(StationListPath, SocketIsNamedAndLeftAlone) {
    RadioRun run;
    run.band = mutation_band();
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", run.station_list_path().c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    expect_not_a_list(run, "a socket");
    EXPECT_TRUE(fs::is_socket(fs::symlink_status(run.station_list_path())));
    close(fd);
}

TEST(StationListPath, DeviceIsNamedAndLeftAlone) {
    RadioRun run;
    run.band = mutation_band();
    if (mknod(run.station_list_path().c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "cannot make a device node here";
    }
    expect_not_a_list(run, "a character device");
    EXPECT_TRUE(fs::is_character_file(fs::symlink_status(run.station_list_path())));
}

TEST(StationListPath, LinkToADeviceIsNamedAndReplacedByTheScansList) {
    RadioRun run;
    run.band = mutation_band();
    run.term = "xterm";
    fs::create_symlink("/dev/null", run.station_list_path());
    const ProgramResult result = run.run("\nx");
    expect_clean_exit(result);
    EXPECT_NE(console_part(result.out)
                  .find("stationlist.txt is a character device, not a regular "
                        "file"),
              std::string::npos)
        << console_part(result.out);
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    // A link at the path is replaced, never written through.
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(run.station_list_path())));
    EXPECT_TRUE(is_valid_list(run.station_list_path()));
}

// A list that is there but cannot be read (here a link that loops) is no
// first start: no notice, the reason on the console, a scan for the menu,
// and no save over it, not even on a volume key.
TEST(StationListPath, UnreadableListIsNamedScannedOverAndNeverSavedOver) {
    RadioRun run;
    run.band = mutation_band();
    run.term = "xterm";
    fs::create_symlink("stationlist.txt", run.station_list_path());
    const ProgramResult result = run.run("qx");
    expect_clean_exit(result);
    const std::string console = console_part(result.out);
    EXPECT_NE(console.find("stationlist.txt cannot be read (Too many levels of symbolic links): "
                           "it is not used, and nothing is saved over it.\n"),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find("Please note:"), std::string::npos) << "not a first start";
    EXPECT_NE(console.find("Do full DAB scan"), std::string::npos);
    EXPECT_EQ(console.find("Saving scan results."), std::string::npos) << console;
    EXPECT_NE(result.out.find("User quits.\n"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(run.station_list_path())));
    EXPECT_EQ(fs::read_symlink(run.station_list_path()), "stationlist.txt");
}

} // namespace
