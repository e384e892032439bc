// SPDX-License-Identifier: GPL-3.0-or-later
// The station list file against what may stand at its path or beside it:
// named pipes, sockets, devices and directories are never read as a list,
// waited on or replaced; things planted beside it keep what they hold; a save
// keeps the owner, group and mode the user gave the list; only the temporary
// files of killed saves are cleared away.
#include <array>
#include <cerrno>
#include <functional>
#include <linux/capability.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "FileTest.h"
#include "StationTest.h"

namespace {

namespace fs = std::filesystem;
using file_test::ChildOutcome;
using file_test::FullFileSystem;
using file_test::run_bounded;
using file_test::small_database;
using namespace std::chrono_literals;

// ---- the station list's path holds something that is not a file ----------

class StationListPath : public testing::Test {
protected:
    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
    std::unique_ptr<DAB_ScanResults> results_ = small_database();
};

TEST_F(StationListPath, NamedPipeIsNeitherReadNorReplacedAndNothingBlocks) {
    ASSERT_EQ(mkfifo(path_.c_str(), 0644), 0);
    const ChildOutcome read = run_bounded([&] {
        uint8_t volume = 40;
        return DAB_read_scan_results(results_.get(), path_.c_str(), &volume);
    });
    EXPECT_FALSE(read.hung) << "the read blocked on the named pipe";
    EXPECT_EQ(read.status, -6);
    EXPECT_EQ(read.location, 12);
    const ChildOutcome save =
        run_bounded([&] { return DAB_save_scan_results(results_.get(), path_.c_str(), 40); });
    EXPECT_FALSE(save.hung);
    EXPECT_EQ(save.status, -6);
    EXPECT_EQ(save.location, 11);
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(path_))) << "the named pipe was replaced";
}

TEST_F(StationListPath, SocketIsNeitherReadNorReplaced) {
    file_test::BoundSocket socket(path_);
    uint8_t volume = 40;
    const std::string printed = station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_read_scan_results(results_.get(), path_.c_str(), &volume), -6);
        EXPECT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 40), -6);
    });
    EXPECT_EQ(DABUtils_ErrorCode, 11);
    EXPECT_TRUE(fs::is_socket(fs::symlink_status(path_)));
    EXPECT_NE(printed.find("Could not open file for reading\n"), std::string::npos) << printed;
}

TEST_F(StationListPath, DirectoryIsNotReadAsAnEmptyList) {
    fs::create_directory(path_);
    uint8_t volume = 40;
    results_->num_ensembles = 1;
    const std::string printed = station_test::captured_stdout(
        [&] { EXPECT_EQ(DAB_read_scan_results(results_.get(), path_.c_str(), &volume), -6); });
    EXPECT_EQ(DABUtils_ErrorCode, 12);
    EXPECT_EQ(volume, 40);
    EXPECT_EQ(results_->num_ensembles, 1) << "the database was touched";
    EXPECT_NE(printed.find("Could not open file for reading\n"), std::string::npos) << printed;
}

TEST_F(StationListPath, LinkToADeviceIsNotReadButTheLinkIsReplacedBySaving) {
    fs::create_symlink("/dev/zero", path_);
    const ChildOutcome read = run_bounded([&] {
        uint8_t volume = 40;
        return DAB_read_scan_results(results_.get(), path_.c_str(), &volume);
    });
    EXPECT_FALSE(read.hung);
    EXPECT_EQ(read.status, -6);
    // A link at the path is replaced, as always, and never written through.
    ASSERT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 40), 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path_)));
    EXPECT_TRUE(fs::is_character_file("/dev/zero"));
}

// ---- a list that is there but cannot be read is not a missing one ----------

// Runs `call` in a child process without root's override of file
// permissions (as a service running as its own user sees a root-owned
// list), and hands back the numbers it returns; all -1 when the child could
// not drop the override.
using Numbers = std::array<int, 6>;
Numbers without_permission_override(const std::function<Numbers()> &call) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        Numbers numbers;
        numbers.fill(-1);
        if (syscall(SYS_capget, &header, caps) == 0) {
            for (const int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
                caps[cap / 32].effective &= ~(1u << (cap % 32));
                caps[cap / 32].permitted &= ~(1u << (cap % 32));
                caps[cap / 32].inheritable &= ~(1u << (cap % 32));
            }
            if (syscall(SYS_capset, &header, caps) == 0) {
                numbers = call();
            }
        }
        const ssize_t written = write(fds[1], numbers.data(), sizeof numbers);
        _exit(written == static_cast<ssize_t>(sizeof numbers) ? 0 : 1);
    }
    close(fds[1]);
    Numbers numbers{};
    const ssize_t got = read(fds[0], numbers.data(), sizeof numbers);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(got, static_cast<ssize_t>(sizeof numbers));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return numbers;
}

class UnreadableList : public StationListPath {
protected:
    void SetUp() override {
        ASSERT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 33), 0);
        saved_ = station_test::read_file(path_);
    }
    // In the child: what the path is, and what a read, a check and a save of
    // it do. The database must stay as it was and the volume untouched.
    Numbers try_the_list() {
        DAB_PathKind kind = DAB_PATH_NONE;
        int error = 0;
        const int fd = DAB_open_regular_error(path_.c_str(), O_RDONLY, &kind, &error);
        auto results = station_test::make_results();
        uint8_t volume = 7;
        const int read = DAB_read_scan_results(results.get(), path_.c_str(), &volume);
        DAB_ListCheck check{};
        const int checked = DAB_check_station_list(path_.c_str(), &check);
        const int saved = DAB_save_scan_results(results_.get(), path_.c_str(), 9);
        return {fd,      kind,
                error,   read + (volume == 7 && results->num_ensembles == 0 ? 0 : 1000),
                checked, saved};
    }
    std::string saved_;
};

TEST_F(UnreadableList, ModeZeroIsAFileThatCannotBeOpenedAndNothingSavesOverIt) {
    ASSERT_EQ(chmod(path_.c_str(), 0), 0);
    const Numbers got = without_permission_override([&] { return try_the_list(); });
    EXPECT_EQ(got[0], -1);
    EXPECT_EQ(got[1], DAB_PATH_REGULAR) << "a file that is there is not missing";
    EXPECT_EQ(got[2], EACCES);
    EXPECT_EQ(got[3], -6) << "read, or database or volume touched";
    EXPECT_EQ(got[4], -6);
    EXPECT_EQ(got[5], -6);
    ASSERT_EQ(chmod(path_.c_str(), 0644), 0);
    EXPECT_EQ(station_test::read_file(path_), saved_);
}

TEST_F(UnreadableList, ListInADirectoryThatCannotBeSearchedIsNotMissing) {
    const fs::path inner = dir_ / "closed";
    fs::create_directory(inner);
    path_ = (inner / "stationlist.txt").string();
    SetUp();
    ASSERT_EQ(chmod(inner.c_str(), 0), 0);
    const Numbers got = without_permission_override([&] { return try_the_list(); });
    ASSERT_EQ(chmod(inner.c_str(), 0755), 0);
    EXPECT_EQ(got[1], DAB_PATH_UNREADABLE);
    EXPECT_EQ(got[2], EACCES);
    EXPECT_EQ(got[3], -6);
    EXPECT_EQ(got[5], -6);
    EXPECT_EQ(station_test::read_file(path_), saved_);
}

TEST_F(StationListPath, LinkThatLoopsIsNamedSoAndNeverReplaced) {
    int error = 0;
    EXPECT_EQ(DAB_path_kind_error(path_.c_str(), &error), DAB_PATH_NONE);
    EXPECT_EQ(error, ENOENT);
    fs::create_symlink("stationlist.txt", path_);
    EXPECT_EQ(DAB_path_kind_error(path_.c_str(), &error), DAB_PATH_LINK_LOOP);
    EXPECT_EQ(error, ELOOP);
    EXPECT_STREQ(DAB_path_kind_name(DAB_PATH_LINK_LOOP), "a symbolic link that loops");

    uint8_t volume = 40;
    const std::string printed = station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_read_scan_results(results_.get(), path_.c_str(), &volume), -6);
        EXPECT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 40), -6);
    });
    EXPECT_EQ(DABUtils_ErrorCode, 11);
    EXPECT_NE(printed.find(path_ + " is a symbolic link that loops ("), std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("not a regular file"), std::string::npos) << printed;
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(path_))) << "the link was replaced";
    EXPECT_EQ(fs::read_symlink(path_), "stationlist.txt");
}

// ---- things planted beside the list -----------------------------------------

class PlantedBesideTheList : public testing::Test {
protected:
    void TearDown() override {
        if (immutable_) {
            file_test::set_immutable(planted_, false);
        }
    }
    void expect_saves() {
        for (uint8_t volume : {10, 11}) {
            EXPECT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), volume), 0)
                << "location " << DABUtils_ErrorCode;
        }
        const std::string text = station_test::read_file(path_);
        EXPECT_NE(text.find("Volume: 11\n"), std::string::npos) << text;
    }

    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
    fs::path planted_ = dir_ / "stationlist.txt.tmp";
    std::unique_ptr<DAB_ScanResults> results_ = small_database();
    bool immutable_ = false;
};

TEST_F(PlantedBesideTheList, UsersFileAtTheOldTemporaryNameIsKept) {
    station_test::write_file(planted_, "my own notes\n");
    expect_saves();
    EXPECT_EQ(station_test::read_file(planted_), "my own notes\n");
}

TEST_F(PlantedBesideTheList, DirectoryAtTheOldTemporaryNameDoesNotBlockSaving) {
    fs::create_directory(planted_);
    station_test::write_file(planted_ / "inside", "x");
    expect_saves();
    EXPECT_EQ(station_test::read_file(planted_ / "inside"), "x");
}

TEST_F(PlantedBesideTheList, LinkAtTheOldTemporaryNameStaysAndIsNotWrittenThrough) {
    const fs::path victim = dir_ / "victim.txt";
    station_test::write_file(victim, "victim\n");
    fs::create_symlink(victim, planted_);
    expect_saves();
    EXPECT_EQ(station_test::read_file(victim), "victim\n");
    ASSERT_TRUE(fs::is_symlink(fs::symlink_status(planted_)));
    EXPECT_EQ(fs::read_symlink(planted_), victim);
}

TEST_F(PlantedBesideTheList, ImmutableFileAtTheOldTemporaryNameDoesNotBlockSaving) {
    station_test::write_file(planted_, "locked\n");
    if (!file_test::set_immutable(planted_, true)) {
        GTEST_SKIP() << "the file system refuses the immutable flag";
    }
    immutable_ = true;
    expect_saves();
    EXPECT_EQ(station_test::read_file(planted_), "locked\n");
}

// ---- what the user set on the list -------------------------------------------

class ListAttributes : public testing::Test {
protected:
    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
    std::unique_ptr<DAB_ScanResults> results_ = small_database();
};

TEST_F(ListAttributes, OwnerGroupAndModeAreCarriedOverToTheNewFile) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "giving a file away needs root";
    }
    struct Case {
        uid_t uid;
        gid_t gid;
        mode_t mode;
    };
    for (const Case c : {Case{4321, 8765, 0640}, Case{0, 100, 0600}, Case{1000, 0, 0664},
                         Case{65534, 65534, 0444}}) {
        SCOPED_TRACE(std::to_string(c.uid) + ":" + std::to_string(c.gid));
        ASSERT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 1), 0);
        ASSERT_EQ(chown(path_.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(chmod(path_.c_str(), c.mode), 0);
        ASSERT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 2), 0);
        struct stat info {};
        ASSERT_EQ(stat(path_.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, c.uid);
        EXPECT_EQ(info.st_gid, c.gid);
        EXPECT_EQ(info.st_mode & 07777, c.mode);
        EXPECT_NE(station_test::read_file(path_).find("Volume: 2\n"), std::string::npos);
    }
}

TEST_F(ListAttributes, LinkAtThePathGivesTheNewFileItsTargetsMode) {
    const fs::path target = dir_ / "elsewhere.txt";
    ASSERT_EQ(DAB_save_scan_results(results_.get(), target.c_str(), 1), 0);
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    fs::create_symlink(target, path_);
    ASSERT_EQ(DAB_save_scan_results(results_.get(), path_.c_str(), 2), 0);
    struct stat info {};
    ASSERT_EQ(lstat(path_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(FullFileSystem, SaveThatDoesNotFitLeavesTheOldListAndNoTemporaryFile) {
    fs::remove(dir_ / "filler");
    const std::string path = (dir_ / "stationlist.txt").string();
    auto results = small_database();
    ASSERT_EQ(DAB_save_scan_results(results.get(), path.c_str(), 5), 0);
    const std::string old_text = station_test::read_file(path);
    // Filled again, now with the list in it.
    file_test::fill_up(dir_ / "filler");
    int16_t status = 0;
    station_test::captured_stdout(
        [&] { status = DAB_save_scan_results(results.get(), path.c_str(), 6); });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(station_test::read_file(path), old_text);
    std::size_t entries = 0;
    for (const auto &entry : fs::directory_iterator(dir_.path())) {
        static_cast<void>(entry);
        ++entries;
    }
    EXPECT_EQ(entries, 2u) << "the list and the filler only";
}

// ---- temporary files of killed saves ---------------------------------------------------

TEST(KilledSaves, OnlyTheirTemporaryFilesAreClearedAway) {
    station_test::ScratchDir dir;
    const std::string path = (dir / "stationlist.txt").string();
    const auto results = small_database();
    ASSERT_EQ(DAB_save_scan_results(results.get(), path.c_str(), 3), 0);
    const std::string list = station_test::read_file(path);
    // What saves killed before they could rename their files leave: an
    // empty file, or the first part of a list.
    const std::set<std::string> left{"stationlist.txt.saving-Kild01",
                                     "stationlist.txt.saving-kild02"};
    station_test::write_file(dir / "stationlist.txt.saving-Kild01", "");
    station_test::write_file(dir / "stationlist.txt.saving-kild02", list.substr(0, 100));
    // Under the same name pattern, but not a killed save's: a save still
    // writing (it holds the lock), a file of other bytes, a link and a file
    // of another user.
    const fs::path held = dir / "stationlist.txt.saving-HELD01";
    station_test::write_file(held, list.substr(0, 20));
    const int held_fd = open(held.c_str(), O_RDONLY);
    ASSERT_EQ(flock(held_fd, LOCK_EX), 0);
    const fs::path users = dir / "stationlist.txt.saving-Mine01";
    station_test::write_file(users, "my notes\n");
    const fs::path link = dir / "stationlist.txt.saving-Link01";
    fs::create_symlink(path, link);
    const fs::path others = dir / "stationlist.txt.saving-Othr01";
    station_test::write_file(others, "");
    if (geteuid() == 0) {
        ASSERT_EQ(chown(others.c_str(), 4321, 4321), 0);
    }
    // Nor anything not of the pattern.
    const fs::path near = dir / "stationlist.txt.saving-ABC";
    station_test::write_file(near, "");

    ASSERT_EQ(DAB_save_scan_results(results.get(), path.c_str(), 5), 0);
    for (const std::string &name : left) {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / name))) << name;
    }
    EXPECT_EQ(station_test::read_file(held), list.substr(0, 20));
    EXPECT_EQ(station_test::read_file(users), "my notes\n");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_TRUE(fs::exists(near));
    if (geteuid() == 0) {
        EXPECT_TRUE(fs::exists(others));
    }
    close(held_fd);
    EXPECT_EQ(station_test::names_in(dir.path()),
              (std::set<std::string>{"stationlist.txt", held.filename(), users.filename(),
                                     link.filename(), others.filename(), near.filename()}));
    EXPECT_NE(station_test::read_file(path).find("Volume: 5\n"), std::string::npos);
}

} // namespace
