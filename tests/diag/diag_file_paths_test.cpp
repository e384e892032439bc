// SPDX-License-Identifier: GPL-3.0-or-later
// The files si468x-diag reads and writes: only regular files, named when
// something else stands at the path, never an open that waits, and a log
// record that does not reach its file is a failure with exit status 1.
#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DiagBand.h"
#include "DiagRun.h"

namespace {

using diagtest::image_path;
using diagtest::RunResult;
using diagtest::SimBoardDir;
using testing::HasSubstr;

constexpr uint8_t paths_log_index = 1;
constexpr uint32_t service_id = 0xC7A1;
constexpr uint16_t component_id = 5;

sim::Band path_band() {
    sim::Band band;
    band.frequencies = sim::band_iii_frequencies();
    sim::Ensemble ensemble;
    ensemble.frequency_khz = band.frequencies[paths_log_index];
    ensemble.id = 0x1D1B;
    ensemble.label = sim::make_label("Path Mux");
    sim::Service service;
    service.id = service_id;
    service.label = sim::make_label("Path Talker");
    sim::Component component;
    component.id = component_id;
    component.ps = true;
    component.label = service.label;
    component.user_applications = {{0x0002, {0x0C, 0x0D}}};
    service.components.push_back(component);
    service.texts = {"Hello paths"};
    ensemble.services.push_back(service);
    band.ensembles.push_back(ensemble);
    return band;
}

// A run that must end within 15 s: a program that waits on an open is killed
// and shows as timed out.
RunResult run_bounded(const SimBoardDir &board, const std::vector<std::string> &args,
                      const std::map<std::string, std::string> &env = {}) {
    tunelark::test::ChildEnvironment environment{
        true,
        {"SI468X_SIM_"},
        {{"SI468X_SIM_BOARD", board.path()}, {"SI468X_SIM_CLOCK", "virtual"}}};
    environment.set.insert(environment.set.end(), env.begin(), env.end());
    return diagtest::run_program(TUNELARK_DIAG_PROGRAM, args, environment, std::nullopt, 15);
}

std::vector<std::string> log_args(const std::string &file) {
    return {"log",
            std::to_string(paths_log_index),
            std::to_string(service_id),
            std::to_string(component_id),
            "1",
            file};
}

class DiagFilePaths : public testing::Test {
protected:
    void expect_refused(const std::vector<std::string> &args, const std::string &message) {
        const RunResult result = run_bounded(board, args, env);
        EXPECT_FALSE(result.timed_out) << "the program waited on an open";
        EXPECT_EQ(result.exit_status, 1) << result.all();
        EXPECT_THAT(result.err, HasSubstr(message));
        EXPECT_THAT(result.out, testing::Not(HasSubstr("Logged")));
    }
    SimBoardDir board;
    std::map<std::string, std::string> env = diagtest::band_env(board, path_band());
};

TEST_F(DiagFilePaths, LogToANamedPipeIsRefused) {
    const std::string path = board.file("pipe.log");
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    expect_refused(log_args(path), "log: " + path + " is a named pipe (FIFO), not a regular file");
}

TEST_F(DiagFilePaths, LogToASocketIsRefused) {
    const std::string path = board.file("socket.log");
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    expect_refused(log_args(path), "log: " + path + " is a socket, not a regular file");
    close(fd);
}

TEST_F(DiagFilePaths, LogToADirectoryIsRefused) {
    const std::string path = board.file("logs");
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    expect_refused(log_args(path), "log: " + path + " is a directory, not a regular file");
}

TEST_F(DiagFilePaths, LogToADeviceThatTakesNothingIsRefused) {
    expect_refused(log_args("/dev/full"), "log: /dev/full is a character device, not a regular "
                                          "file");
}

TEST_F(DiagFilePaths, UploadFromANamedPipeOrADirectoryIsRefused) {
    const std::string pipe = board.file("patch.bin");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
    expect_refused({"upload", pipe, image_path("dab_radio_6_0_6.bin")},
                   "upload: " + pipe + " is a named pipe (FIFO), not a regular file");
    const std::string directory = board.file("images");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    expect_refused({"upload", image_path("rom00_patch.016.bin"), directory},
                   "upload: " + directory + " is a directory, not a regular file");
}

TEST_F(DiagFilePaths, LogOnAFullFileSystemFailsWithExitStatus1) {
    const std::string mount_point = board.file("full");
    ASSERT_EQ(mkdir(mount_point.c_str(), 0755), 0);
    if (mount("tunelark-full", mount_point.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") !=
        0) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    }
    const int fd = open((mount_point + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
    const std::string path = mount_point + "/service.log";
    const RunResult result = run_bounded(board, log_args(path), env);
    umount2(mount_point.c_str(), MNT_DETACH);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_status, 1) << result.all();
    EXPECT_THAT(result.err, HasSubstr("log: writing the component record to " + path +
                                      ": failed with status -6 at location 214"));
    EXPECT_THAT(result.out, HasSubstr("DABUtils error No: 214, returned retval: -6"));
    EXPECT_THAT(result.out, testing::Not(HasSubstr("Logged")));
}

} // namespace
