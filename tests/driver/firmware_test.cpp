// SPDX-License-Identifier: GPL-3.0-or-later
// POWER_UP, firmware upload from memory, from a file and from flash, BOOT.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "DriverTest.h"
#include "Firmware.h"

namespace driver_test {
namespace {

// HOST_LOAD frames on the wire, in order.
std::vector<Bytes> host_loads() {
    std::vector<Bytes> out;
    for (const auto &frame : sim::frames()) {
        if (!frame.out.empty() && frame.out[0] == 0x04) {
            out.push_back(frame.out);
        }
    }
    return out;
}

std::vector<std::size_t> sizes_of(const std::vector<Bytes> &frames) {
    std::vector<std::size_t> out;
    for (const auto &frame : frames) {
        out.push_back(frame.size());
    }
    return out;
}

// Every chunk starts with its own header, and the chunks behind the headers
// put the image back together in order.
void expect_image_on_the_wire(const std::vector<Bytes> &frames, const uint8_t *image,
                              std::size_t size) {
    Bytes joined;
    for (std::size_t k = 0; k < frames.size(); ++k) {
        ASSERT_GE(frames[k].size(), 5u) << "chunk " << k;
        EXPECT_EQ(Bytes(frames[k].begin(), frames[k].begin() + 4), (Bytes{0x04, 0x00, 0x00, 0x00}))
            << "chunk " << k;
        joined.insert(joined.end(), frames[k].begin() + 4, frames[k].end());
    }
    ASSERT_EQ(joined.size(), size);
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), image));
}

std::size_t open_descriptors() {
    std::size_t n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

class PowerUpTest : public DriverTest {
protected:
    void prepare_chip() override {}
};

TEST_F(PowerUpTest, PowerUpSendsTheCrystalSettingsAndReachesTheBootLoader) {
    Si468x_reset();
    settle();
    EXPECT_EQ(Si468x_power_up(), 0);
    ASSERT_FALSE(commands().empty());
    EXPECT_EQ(commands()[0], (Bytes{0x01, 0x00, 0x1F, 0x7F, 0x00, 0xF8, 0x24, 0x01, 0x20, 0x10,
                                    0x00, 0x00, 0x00, 0x18, 0x00, 0x00}));
    EXPECT_EQ(read_sizes().back(), 5u);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::BootLoader);
}

struct Status3Case {
    uint8_t status0;
    uint8_t status3;
    int16_t expected;
    int32_t location;
};

class PowerUpStatusTest : public DriverTest, public ::testing::WithParamInterface<Status3Case> {};

TEST_P(PowerUpStatusTest, OnlyTheBootLoaderStateWithoutErrorsPasses) {
    const Status3Case c = GetParam();
    sim::script_reply(0x01, reply(c.status0, c.status3));
    Si468x_ErrorCode = -7;
    EXPECT_EQ(Si468x_power_up(), c.expected);
    EXPECT_EQ(Si468x_ErrorCode, c.location);
}

INSTANTIATE_TEST_SUITE_P(
    Status3, PowerUpStatusTest,
    ::testing::Values(Status3Case{0x80, 0x80, 0, -7},
                      Status3Case{0x80, 0xC0, -5, 104}, // application already running
                      Status3Case{0x80, 0x00, -5, 104}, Status3Case{0x80, 0xA0, -5, 104},
                      Status3Case{0x80, 0x81, -2, 4}, // ERRNR fails in the exchange
                      Status3Case{0x80, 0x88, -1, 4}, Status3Case{0xC0, 0x80, -2, 4}));

class BootStatusTest : public DriverTest, public ::testing::WithParamInterface<Status3Case> {};

TEST_P(BootStatusTest, OnlyTheApplicationStateWithoutErrorsPasses) {
    const Status3Case c = GetParam();
    sim::script_reply(0x07, reply(c.status0, c.status3));
    Si468x_ErrorCode = -7;
    EXPECT_EQ(Si468x_boot(), c.expected);
    EXPECT_EQ(Si468x_ErrorCode, c.location);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x07, 0x00}}));
}

INSTANTIATE_TEST_SUITE_P(Status3, BootStatusTest,
                         ::testing::Values(Status3Case{0x80, 0xC0, 0, -7},
                                           Status3Case{0x80, 0x80, -4, 110}, // still boot loader
                                           Status3Case{0x80, 0xE0, -4, 110},
                                           Status3Case{0x80, 0xC1, -2, 10},
                                           Status3Case{0xC0, 0xC0, -2, 10}));

TEST_F(PowerUpTest, FullBringUpFromMemoryRunsTheDabImage) {
    Si468x_reset();
    settle();
    ASSERT_EQ(Si468x_power_up(), 0);
    ASSERT_EQ(Si468x_load_init(), 0);
    ASSERT_EQ(Si468x_load_firmware_static(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE), 0);
    ASSERT_EQ(Si468x_load_init(), 0);
    ASSERT_EQ(Si468x_load_firmware_static(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE), 0);
    ASSERT_EQ(Si468x_boot(), 0);
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_EQ(sim::running_image(), 2);

    const auto loads = host_loads();
    // Patch: 4096 + 1708 bytes; DAB image: 121 x 4096 + 1812 bytes.
    std::vector<std::size_t> expected{4096, 1708};
    expected.insert(expected.end(), 121, 4096);
    expected.push_back(1812);
    EXPECT_EQ(sizes_of(loads), expected);
    expect_image_on_the_wire({loads.begin(), loads.begin() + 2}, fw_rom00_patch016bin,
                             FW_ROM00_PATCH016_SIZE);
    expect_image_on_the_wire({loads.begin() + 2, loads.end()}, fw_dab_radio_6_0_6bin,
                             FW_DAB_RADIO_6_0_6_SIZE);
    EXPECT_EQ(sim::stats().host_load_image_bytes, 5796u + 496940u);
    // Between chunks nothing waits but the CTS polls.
    for (const std::string &call : sim::calls()) {
        EXPECT_NE(call.rfind("bcm2835_delay(", 0), 0u) << call;
    }
}

class UploadTest : public BootLoaderTest {
protected:
    // Image bytes for a synthetic upload: a prefix of the DAB image.
    static const uint8_t *image() { return fw_dab_radio_6_0_6bin; }
};

TEST_F(UploadTest, ChunksOf4092ImageBytesBehindAFreshHeader) {
    const struct {
        uint32_t size;
        std::vector<std::size_t> frames;
    } cases[] = {
        {1, {5}},
        {4091, {4095}},
        {4092, {4096}}, // exactly one full chunk: no empty command follows
        {4093, {4096, 5}},
        {8184, {4096, 4096}}, // an exact multiple ends with a full command
        {5796, {4096, 1708}},
    };
    for (const auto &c : cases) {
        sim::clear_frames();
        EXPECT_EQ(Si468x_load_firmware_static(image(), c.size), 0) << c.size;
        const auto loads = host_loads();
        EXPECT_EQ(sizes_of(loads), c.frames) << c.size;
        expect_image_on_the_wire(loads, image(), c.size);
    }
}

TEST_F(UploadTest, SizeZeroFromMemorySendsNothing) {
    EXPECT_EQ(Si468x_load_firmware_static(image(), 0), -6);
    EXPECT_EQ(Si468x_ErrorCode, 8);
    EXPECT_TRUE(sim::frames().empty());
}

TEST_F(UploadTest, RejectedChunkStopsTheUploadAt108) {
    sim::script_reply(0x04, reply(0x80, 0x80));
    sim::script_reply(0x04, reply(0xC0, 0x80));
    EXPECT_EQ(Si468x_load_firmware_static(image(), 3 * 4092), -2);
    EXPECT_EQ(Si468x_ErrorCode, 108);
    EXPECT_EQ(host_loads().size(), 2u);
}

TEST_F(UploadTest, LoadInitIsTwoBytesWithoutReply) {
    sim::set_busy_ns(0x06, 0);
    EXPECT_EQ(Si468x_load_init(), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x06, 0x00}}));
    EXPECT_EQ(read_sizes().size(), 1u);
}

class FileUploadTest : public UploadTest {
protected:
    void SetUp() override {
        UploadTest::SetUp();
        directory_ = std::filesystem::path(::testing::TempDir()) /
                     ("si468x_upload_" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override {
        std::filesystem::remove_all(directory_);
        UploadTest::TearDown();
    }
    std::string write_file(const std::string &name, const uint8_t *bytes, std::size_t size) {
        const auto path = directory_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes), static_cast<std::streamsize>(size));
        return path.string();
    }

    std::filesystem::path directory_;
};

TEST_F(FileUploadTest, FileGoesInTheSameChunksAsFromMemory) {
    const std::string path = write_file("patch.bin", fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
    const std::size_t descriptors = open_descriptors();
    EXPECT_EQ(Si468x_load_firmware(path.c_str()), 0);
    const auto loads = host_loads();
    EXPECT_EQ(sizes_of(loads), (std::vector<std::size_t>{4096, 1708}));
    expect_image_on_the_wire(loads, fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(FileUploadTest, ExactMultipleOfTheChunkEndsWithAFullCommand) {
    const std::string path = write_file("two.bin", image(), 2 * 4092);
    EXPECT_EQ(Si468x_load_firmware(path.c_str()), 0);
    EXPECT_EQ(sizes_of(host_loads()), (std::vector<std::size_t>{4096, 4096}));
}

TEST_F(FileUploadTest, MissingFileFailsAt7) {
    EXPECT_EQ(Si468x_load_firmware((directory_ / "absent.bin").c_str()), -6);
    EXPECT_EQ(Si468x_ErrorCode, 7);
    EXPECT_TRUE(sim::frames().empty());
}

TEST_F(FileUploadTest, EmptyFileFailsAt107AndIsClosed) {
    const std::string path = write_file("empty.bin", image(), 0);
    const std::size_t descriptors = open_descriptors();
    EXPECT_EQ(Si468x_load_firmware(path.c_str()), -6);
    EXPECT_EQ(Si468x_ErrorCode, 107);
    EXPECT_TRUE(sim::frames().empty());
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(FileUploadTest, ShortReadOfTheFirstChunkFailsAt1007AndCloses) {
    // A kernel attribute file measures 4096 bytes but delivers only its text.
    const char *path = "/sys/devices/system/cpu/online";
    std::error_code error;
    if (std::filesystem::file_size(path, error) < 4092 || error) {
        GTEST_SKIP() << path << " does not measure a full chunk here";
    }
    const std::size_t descriptors = open_descriptors();
    EXPECT_EQ(Si468x_load_firmware(path), -6);
    EXPECT_EQ(Si468x_ErrorCode, 1007);
    EXPECT_TRUE(host_loads().empty());
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(FileUploadTest, RejectedChunkFailsAt207AndCloses) {
    const std::string path = write_file("patch.bin", fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
    sim::script_reply(0x04, reply(0xC0, 0x80));
    const std::size_t descriptors = open_descriptors();
    EXPECT_EQ(Si468x_load_firmware(path.c_str()), -2);
    EXPECT_EQ(Si468x_ErrorCode, 207);
    EXPECT_EQ(host_loads().size(), 1u);
    EXPECT_EQ(open_descriptors(), descriptors);
}

TEST_F(FileUploadTest, StandInImagesFromFilesBootTheChip) {
    const std::string dir = TUNELARK_FIRMWARE_IMAGE_DIR;
    ASSERT_EQ(Si468x_load_firmware((dir + "/rom00_patch.016.bin").c_str()), 0);
    ASSERT_EQ(Si468x_load_init(), 0);
    ASSERT_EQ(Si468x_load_firmware((dir + "/dab_radio_6_0_6.bin").c_str()), 0);
    EXPECT_EQ(Si468x_boot(), 0);
    EXPECT_EQ(sim::running_image(), 2);
}

TEST_F(UploadTest, FlashLoadIsWrittenOnlyWithTheAddressLowByteFirst) {
    EXPECT_EQ(Si468x_load_firmware_flash(0x12345678), 0);
    EXPECT_EQ(sent(), (std::vector<Bytes>{{0x05, 0x00, 0x00, 0x00, 0x78, 0x56, 0x34, 0x12, 0x00,
                                           0x00, 0x00, 0x00}}));
    EXPECT_EQ(delay_calls(), 0u);
}

TEST_F(PowerUpTest, FlashLoadSucceedsWhateverTheChipMakesOfIt) {
    // Held in reset, the chip hears nothing; the write still counts as done.
    EXPECT_EQ(Si468x_load_firmware_flash(0x00002000), 0);
    EXPECT_EQ(sent().size(), 1u);
}

} // namespace
} // namespace driver_test
