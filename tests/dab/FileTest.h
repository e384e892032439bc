// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the tests of station management's files: a call run in a child
// process that may not outlive a time limit, a socket bound at a path, the
// immutable flag, and a file system filled to the last block.
#pragma once

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace file_test {

inline std::unique_ptr<DAB_ScanResults> small_database() {
    auto results = station_test::make_results();
    results->ensembles[0] = station_test::make_ensemble(
        3, 5, {{0xD001, 0, 4, 0, 0, 0, 0, "Lark One", {{1, 0, 1, 63, 1}}}});
    results->num_ensembles = 1;
    return results;
}

// The outcome of a call run in a child process that may not outlive `limit`:
// a call that blocks is killed and shows as `hung`.
struct ChildOutcome {
    bool hung = false;
    int16_t status = 0;
    int32_t location = 0;
};

template <typename Call>
ChildOutcome run_bounded(Call &&call, std::chrono::seconds limit = std::chrono::seconds(5)) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) {
        ADD_FAILURE() << "pipe";
        return {};
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        alarm(static_cast<unsigned>(limit.count()));
        const int16_t status = call();
        const int32_t reply[2] = {status, DABUtils_ErrorCode};
        const ssize_t written = write(pipe_fds[1], reply, sizeof reply);
        _exit(written == static_cast<ssize_t>(sizeof reply) ? 0 : 1);
    }
    close(pipe_fds[1]);
    int32_t reply[2] = {0, 0};
    const ssize_t got = read(pipe_fds[0], reply, sizeof reply);
    close(pipe_fds[0]);
    int wait_status = 0;
    waitpid(pid, &wait_status, 0);
    ChildOutcome outcome;
    outcome.hung = WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGALRM;
    if (got == static_cast<ssize_t>(sizeof reply)) {
        outcome.status = static_cast<int16_t>(reply[0]);
        outcome.location = reply[1];
    }
    return outcome;
}

// A listening socket bound at a path, closed at the end.
class BoundSocket {
public:
    explicit BoundSocket(const std::string &path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (bind(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
            listen(fd_, 1) != 0) {
            ADD_FAILURE() << "cannot bind a socket at " << path;
        }
    }
    ~BoundSocket() { close(fd_); }
    BoundSocket(const BoundSocket &) = delete;
    BoundSocket &operator=(const BoundSocket &) = delete;

private:
    int fd_ = -1;
};

// Sets or clears the immutable flag; false when the file system refuses.
inline bool set_immutable(const std::filesystem::path &path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return done;
}

// Writes to the file until the file system takes nothing more.
inline void fill_up(const std::filesystem::path &path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
}

// A small tmpfs of its own, filled up; skipped where mounting is not allowed.
class FullFileSystem : public testing::Test {
protected:
    void SetUp() override {
        if (mount("tunelark-full", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                  "size=64k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
        }
        mounted_ = true;
        fill_up(dir_ / "filler");
    }
    void TearDown() override {
        if (mounted_) {
            umount2(dir_.path().c_str(), MNT_DETACH);
        }
    }
    tunelark::test::ScratchDir dir_{"tunelark-dab"};
    bool mounted_ = false;
};

} // namespace file_test
