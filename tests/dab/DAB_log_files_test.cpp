// SPDX-License-Identifier: GPL-3.0-or-later
// Log records that do not reach their file are failures, and a log path that
// is no regular file is refused without waiting on it.
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "FileTest.h"
#include "StationTest.h"

namespace {

namespace fs = std::filesystem;
using file_test::ChildOutcome;
using file_test::FullFileSystem;
using file_test::run_bounded;

// ---- log records that do not reach their file ---------------------------------------

std::unique_ptr<Si468x_ServiceData> packet_of(uint16_t bytes) {
    auto data = std::make_unique<Si468x_ServiceData>();
    data->byte_count = bytes;
    for (uint16_t k = 0; k < bytes; ++k) {
        data->payload[k] = static_cast<uint8_t>(k);
    }
    return data;
}

Si468x_ComponentInfo component_of(uint8_t entries) {
    Si468x_ComponentInfo info{};
    std::memcpy(info.label, "Lark Log        ", 16);
    info.num_ua = entries;
    for (uint8_t k = 0; k < entries; ++k) {
        const uint8_t entry[] = {0x02, 0x00, 2, 0x0C, 0xD0, 0x00};
        std::memcpy(&info.ua_area[6 * k], entry, sizeof entry);
    }
    info.ua_length = static_cast<uint16_t>(6 * entries);
    return info;
}

// Each log writer with the location a record that did not reach its file
// reports.
struct LogWriter {
    const char *name;
    int32_t open_location;
    int32_t write_location;
    std::function<int16_t(const char *)> write;
};

std::vector<LogWriter> log_writers() {
    return {
        {"data log", 13, 113,
         [](const char *path) {
             const auto data = packet_of(4096);
             return DAB_save_logged_data(data.get(), path);
         }},
        {"component log", 14, 214,
         [](const char *path) {
             const Si468x_ComponentInfo info = component_of(8);
             return DAB_save_component_data(&info, path);
         }},
    };
}

TEST(LogWrites, RecordCutByTheFileSizeLimitIsAFailure) {
    for (const LogWriter &writer : log_writers()) {
        SCOPED_TRACE(writer.name);
        for (rlim_t limit : {rlim_t{0}, rlim_t{10}, rlim_t{100}}) {
            station_test::ScratchDir dir;
            const std::string path = (dir / "service.log").string();
            const ChildOutcome outcome = run_bounded([&] {
                const rlimit size{limit, limit};
                setrlimit(RLIMIT_FSIZE, &size);
                std::signal(SIGXFSZ, SIG_IGN);
                return writer.write(path.c_str());
            });
            EXPECT_FALSE(outcome.hung);
            EXPECT_EQ(outcome.status, -6) << "limit " << limit;
            EXPECT_EQ(outcome.location, writer.write_location) << "limit " << limit;
        }
    }
}

TEST(LogWrites, DeviceThatTakesNothingIsAFailure) {
    for (const LogWriter &writer : log_writers()) {
        SCOPED_TRACE(writer.name);
        const ChildOutcome outcome = run_bounded([&] { return writer.write("/dev/full"); });
        EXPECT_FALSE(outcome.hung);
        EXPECT_EQ(outcome.status, -6);
        EXPECT_NE(outcome.location, 0);
    }
}

TEST(LogWrites, NamedPipeWithoutAReaderIsRefusedWithoutBlocking) {
    station_test::ScratchDir dir;
    const std::string path = (dir / "service.log").string();
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
    for (const LogWriter &writer : log_writers()) {
        SCOPED_TRACE(writer.name);
        const ChildOutcome outcome = run_bounded([&] { return writer.write(path.c_str()); });
        EXPECT_FALSE(outcome.hung) << "the open blocked";
        EXPECT_EQ(outcome.status, -6);
        EXPECT_EQ(outcome.location, writer.open_location);
    }
}

TEST_F(FullFileSystem, LogRecordsThatDoNotFitAreFailures) {
    for (const LogWriter &writer : log_writers()) {
        SCOPED_TRACE(writer.name);
        const std::string path = (dir_ / (std::string(writer.name) + ".log")).string();
        int16_t status = 0;
        const std::string printed =
            station_test::captured_stdout([&] { status = writer.write(path.c_str()); });
        EXPECT_EQ(status, -6);
        EXPECT_EQ(DABUtils_ErrorCode, writer.write_location);
        EXPECT_EQ(printed, "DABUtils error No: " + std::to_string(writer.write_location) +
                               ", returned retval: -6\n");
    }
}

} // namespace
