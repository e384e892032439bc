// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the station list replaces the file as a whole: a save cut short at
// any point leaves the old database, a link at the path is replaced rather
// than followed, and a save that cannot finish reports it and tidies up.
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

namespace fs = std::filesystem;
using station_test::names_in;

std::unique_ptr<DAB_ScanResults> database_with(unsigned num_ensembles, uint32_t first_id) {
    auto results = station_test::make_results();
    for (unsigned e = 0; e < num_ensembles; ++e) {
        std::vector<station_test::RawService> services;
        for (unsigned s = 0; s < 6; ++s) {
            services.push_back({first_id + 16 * e + s,
                                0,
                                static_cast<uint8_t>(s),
                                0,
                                0,
                                0,
                                0,
                                "Station " + std::to_string(e) + "." + std::to_string(s),
                                {{static_cast<uint16_t>(s + 1)}, {static_cast<uint16_t>(s + 2)}}});
        }
        results->ensembles[e] = station_test::make_ensemble(static_cast<uint16_t>(e + 1),
                                                            static_cast<uint8_t>(2 * e), services);
    }
    results->num_ensembles = static_cast<uint8_t>(num_ensembles);
    return results;
}

// Runs one save in a child process whose files may not grow beyond `limit`
// bytes; returns the child's wait status. With SIGXFSZ at its default the
// child dies at the write that crosses the limit, as a crash would take it;
// ignored, the write fails instead.
int save_in_child(const DAB_ScanResults &results, const std::string &path, rlim_t limit,
                  bool ignore_size_signal) {
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        const rlimit size{limit, limit};
        setrlimit(RLIMIT_FSIZE, &size);
        if (ignore_size_signal) {
            std::signal(SIGXFSZ, SIG_IGN);
        }
        const int16_t status = DAB_save_scan_results(&results, path.c_str(), 9);
        _exit(status == 0 ? 0 : 100 - status);
    }
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    return wait_status;
}

class StationListSave : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(DAB_save_scan_results(old_.get(), path_.c_str(), 1), 0);
        old_text_ = station_test::read_file(path_);
        // The new database is written once in a directory of its own to know
        // its text and size.
        station_test::ScratchDir other;
        const std::string other_path = (other / "stationlist.txt").string();
        ASSERT_EQ(DAB_save_scan_results(new_.get(), other_path.c_str(), 9), 0);
        new_text_ = station_test::read_file(other_path);
        ASSERT_NE(old_text_, new_text_);
    }

    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "stationlist.txt").string();
    std::unique_ptr<DAB_ScanResults> old_ = database_with(2, 100);
    std::unique_ptr<DAB_ScanResults> new_ = database_with(12, 5000);
    std::string old_text_;
    std::string new_text_;
};

TEST_F(StationListSave, SaveKilledAtAnyFileSizeLeavesTheOldDatabase) {
    ASSERT_GT(new_text_.size(), 8192u); // more than the stream's buffer: several writes
    std::vector<rlim_t> limits{0, 1, 61, 62, 63, 4095, 4096, 4097, new_text_.size() - 1};
    for (rlim_t limit = 0; limit < new_text_.size(); limit += 997) {
        limits.push_back(limit);
    }
    for (const rlim_t limit : limits) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        const int wait_status = save_in_child(*new_, path_, limit, false);
        ASSERT_TRUE(WIFSIGNALED(wait_status));
        EXPECT_EQ(WTERMSIG(wait_status), SIGXFSZ);
        ASSERT_EQ(station_test::read_file(path_), old_text_);
    }
    // Exactly enough room: the new database replaces the old one.
    const int wait_status = save_in_child(*new_, path_, new_text_.size(), false);
    ASSERT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), 0);
    EXPECT_EQ(station_test::read_file(path_), new_text_);
}

TEST_F(StationListSave, SaveThatCannotWriteInFullFailsAndRemovesItsTemporaryFile) {
    for (const rlim_t limit : {rlim_t{0}, rlim_t{100}, rlim_t{new_text_.size() - 1}}) {
        SCOPED_TRACE("limit " + std::to_string(limit));
        const int wait_status = save_in_child(*new_, path_, limit, true);
        ASSERT_TRUE(WIFEXITED(wait_status));
        EXPECT_EQ(WEXITSTATUS(wait_status), 106); // status -6
        EXPECT_EQ(station_test::read_file(path_), old_text_);
        EXPECT_EQ(names_in(dir_.path()), std::set<std::string>{"stationlist.txt"});
    }
}

TEST_F(StationListSave, TemporaryFileLeftByAKilledSaveIsReplacedByTheNextSave) {
    ASSERT_TRUE(WIFSIGNALED(save_in_child(*new_, path_, 1000, false)));
    ASSERT_EQ(names_in(dir_.path()).size(), 2u);
    ASSERT_EQ(DAB_save_scan_results(new_.get(), path_.c_str(), 9), 0);
    EXPECT_EQ(station_test::read_file(path_), new_text_);
    EXPECT_EQ(names_in(dir_.path()), std::set<std::string>{"stationlist.txt"});
}

// A child saving the two databases in turn is killed at random moments; the
// file is always one of them, whole.
TEST_F(StationListSave, FileIsAlwaysOneWholeDatabaseWhenTheWriterIsKilled) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            for (uint8_t turn = 0;; turn ^= 1) {
                DAB_save_scan_results(turn ? old_.get() : new_.get(), path_.c_str(), turn ? 1 : 9);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200 + random() % 5000));
        kill(pid, SIGKILL);
        int wait_status = 0;
        waitpid(pid, &wait_status, 0);
        const std::string text = station_test::read_file(path_);
        EXPECT_TRUE(text == old_text_ || text == new_text_)
            << "round " << round << ": " << text.size() << " bytes";
    }
}

TEST_F(StationListSave, LinkAtThePathIsReplacedAndItsTargetLeftAlone) {
    const fs::path target = dir_ / "precious.txt";
    station_test::write_file(target, "precious\n");
    fs::remove(path_);
    fs::create_symlink(target, path_);
    ASSERT_EQ(DAB_save_scan_results(new_.get(), path_.c_str(), 9), 0);
    EXPECT_EQ(station_test::read_file(target), "precious\n");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path_)));
    EXPECT_EQ(station_test::read_file(path_), new_text_);
}

TEST_F(StationListSave, LinkPlantedAtTheTemporaryNameIsNotWrittenThrough) {
    const fs::path victim = dir_ / "victim.txt";
    station_test::write_file(victim, "victim\n");
    fs::create_symlink(victim, path_ + ".tmp");
    ASSERT_EQ(DAB_save_scan_results(new_.get(), path_.c_str(), 9), 0);
    EXPECT_EQ(station_test::read_file(victim), "victim\n");
    EXPECT_EQ(station_test::read_file(path_), new_text_);
    // Not ours: it stays as it was planted.
    EXPECT_EQ(fs::read_symlink(path_ + ".tmp"), victim);
}

TEST_F(StationListSave, NewFileTakesItsModeFromTheUmaskAsAPlainCreateWould) {
    fs::remove(path_);
    const mode_t previous = umask(022);
    const int16_t status = DAB_save_scan_results(new_.get(), path_.c_str(), 9);
    umask(previous);
    ASSERT_EQ(status, 0);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(StationListSave, PathThatCannotBeReplacedFailsAndLeavesNoTemporaryFile) {
    const fs::path directory = dir_ / "a-directory";
    fs::create_directory(directory);
    const std::string too_long = (dir_ / std::string(5000, 'x')).string();
    for (const std::string &path : {directory.string(), too_long}) {
        int16_t status = 0;
        const std::string printed = station_test::captured_stdout(
            [&] { status = DAB_save_scan_results(new_.get(), path.c_str(), 9); });
        EXPECT_EQ(status, -6);
        EXPECT_EQ(DABUtils_ErrorCode, 11);
        EXPECT_EQ(printed, "DABUtils error No: 11, returned retval: -6\n");
    }
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_EQ(names_in(dir_.path()), (std::set<std::string>{"a-directory", "stationlist.txt"}));
    EXPECT_EQ(station_test::read_file(path_), old_text_);
}

} // namespace
