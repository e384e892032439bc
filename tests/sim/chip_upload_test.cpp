// SPDX-License-Identifier: GPL-3.0-or-later
// The boot loader's upload check: only the whole ROM patch followed by a
// whole radio image boots; any lost, doubled, reordered, short or corrupt
// chunk leaves the boot loader running after BOOT, as a real chip does after
// a bad upload.
#include <gtest/gtest.h>

#include <functional>

#include "BusHost.h"
#include "SimBoard.h"

using namespace bus_host;

namespace {

using Chunks = std::vector<Bytes>;

Chunks chunks_of(const uint8_t *image, std::size_t size, std::size_t chunk = 4092) {
    Chunks result;
    for (std::size_t at = 0; at < size; at += chunk) {
        const std::size_t n = std::min(chunk, size - at);
        Bytes cmd = {0x04, 0x00, 0x00, 0x00};
        cmd.insert(cmd.end(), image + at, image + at + n);
        result.push_back(std::move(cmd));
    }
    return result;
}

Chunks patch_chunks() {
    return chunks_of(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
}

Chunks dab_chunks() {
    return chunks_of(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE);
}

// LOAD_INIT and the chunks; true when the chip took every command.
bool send_image(const Chunks &chunks) {
    bool all = !err_cmd(command({0x06, 0x00}));
    for (const Bytes &chunk : chunks) {
        all = !err_cmd(command(chunk)) && all;
    }
    return all;
}

class ChipUpload : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        open_bus();
        reset_pulse();
        ASSERT_EQ(status3(command(power_up_bytes, 5)), 0x80);
    }

    // BOOT after a failed upload: completes without ERR_CMD, boot loader still running.
    static void expect_boot_loader_stays() {
        const Bytes reply = boot();
        EXPECT_TRUE(cts(reply));
        EXPECT_FALSE(err_cmd(reply));
        EXPECT_EQ(status3(reply), 0x80);
        EXPECT_EQ(sim::chip_state(), sim::ChipState::BootLoader);
        EXPECT_FALSE(sim::boot_problem().empty());
    }
};

TEST_F(ChipUpload, WholePatchAndDabImageBootTheDabImage) {
    ASSERT_TRUE(send_image(patch_chunks()));
    ASSERT_TRUE(send_image(dab_chunks()));
    EXPECT_EQ(sim::stats().host_load_image_bytes, FW_ROM00_PATCH016_SIZE + FW_DAB_RADIO_6_0_6_SIZE);
    const Bytes reply = boot();
    EXPECT_EQ(reply[1], 0x80);
    EXPECT_EQ(status3(reply), 0xC0);
    EXPECT_EQ(sim::boot_problem(), "");
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 2);
    const Bytes func = command({0x12, 0x00}, 13);
    EXPECT_EQ((Bytes{func[5], func[6], func[7]}), (Bytes{6, 0, 6}));
}

TEST_F(ChipUpload, ChunkSizeIsTheHostsChoice) {
    ASSERT_TRUE(send_image(chunks_of(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE, 1)));
    ASSERT_TRUE(send_image(chunks_of(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE, 1000)));
    EXPECT_EQ(status3(boot()), 0xC0);
}

TEST_F(ChipUpload, AnotherRadioImageBootsWithItsOwnCodeAndRevision) {
    ASSERT_TRUE(send_image(patch_chunks()));
    ASSERT_TRUE(send_image(chunks_of(fw_fmhd_radio_5_1_3bin, FW_FMHD_RADIO_5_1_3_SIZE)));
    EXPECT_EQ(status3(boot()), 0xC0);
    EXPECT_EQ(sim::running_image(), 1);
    const Bytes func = command({0x12, 0x00}, 13);
    EXPECT_EQ((Bytes{func[5], func[6], func[7]}), (Bytes{5, 1, 3}));
    // DAB commands need the DAB image.
    EXPECT_TRUE(err_cmd(command({0xB9, 0x00}, 6)));
}

struct Corruption {
    const char *name;
    std::function<void(Chunks &patch, Chunks &dab)> apply;
    bool send_patch = true;
    bool send_dab = true;
};

void PrintTo(const Corruption &c, std::ostream *os) {
    *os << c.name;
}

class CorruptUpload : public ChipUpload, public ::testing::WithParamInterface<Corruption> {};

TEST_P(CorruptUpload, BootLeavesTheBootLoaderRunning) {
    Chunks patch = patch_chunks();
    Chunks dab = dab_chunks();
    GetParam().apply(patch, dab);
    if (GetParam().send_patch) {
        send_image(patch);
    }
    if (GetParam().send_dab) {
        send_image(dab);
    }
    expect_boot_loader_stays();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CorruptUpload,
    ::testing::Values(
        Corruption{"lost_chunk", [](Chunks &, Chunks &dab) { dab.erase(dab.begin() + 40); }},
        Corruption{"doubled_chunk",
                   [](Chunks &, Chunks &dab) { dab.insert(dab.begin() + 40, dab[40]); }},
        Corruption{"reordered_chunks", [](Chunks &, Chunks &dab) { std::swap(dab[40], dab[41]); }},
        Corruption{"short_last_chunk", [](Chunks &, Chunks &dab) { dab.back().pop_back(); }},
        Corruption{"lost_last_chunk", [](Chunks &, Chunks &dab) { dab.pop_back(); }},
        Corruption{"one_flipped_byte", [](Chunks &, Chunks &dab) { dab[60][1000] ^= 0x10; }},
        Corruption{"flipped_crc_byte", [](Chunks &, Chunks &dab) { dab.back().back() ^= 0x01; }},
        Corruption{"patch_lost_chunk", [](Chunks &patch, Chunks &) { patch.pop_back(); }},
        Corruption{"wrong_header_chunk_rejected", [](Chunks &, Chunks &dab) { dab[10][2] = 0x01; }},
        Corruption{"images_swapped", [](Chunks &patch, Chunks &dab) { std::swap(patch, dab); }},
        Corruption{"patch_twice", [](Chunks &patch, Chunks &dab) { dab = patch; }},
        Corruption{"dab_only", [](Chunks &, Chunks &) {}, false, true},
        Corruption{"patch_only", [](Chunks &, Chunks &) {}, true, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ChipUpload, AThirdImageSpoilsTheBoot) {
    ASSERT_TRUE(send_image(patch_chunks()));
    ASSERT_TRUE(send_image(dab_chunks()));
    ASSERT_TRUE(command({0x06, 0x00}).size() > 0);
    expect_boot_loader_stays();
}

TEST_F(ChipUpload, HostLoadCommandLimits) {
    // Before any LOAD_INIT there is no image to feed.
    EXPECT_TRUE(err_cmd(command({0x04, 0x00, 0x00, 0x00, 0x11})));
    ASSERT_FALSE(err_cmd(command({0x06, 0x00})));
    EXPECT_TRUE(err_cmd(command({0x04, 0x00, 0x00, 0x00}))) << "header without data";
    Bytes largest(4096, 0x5A);
    largest[0] = 0x04;
    largest[1] = largest[2] = largest[3] = 0x00;
    EXPECT_FALSE(err_cmd(command(largest)));
    Bytes too_large = largest;
    too_large.push_back(0x5A);
    EXPECT_TRUE(err_cmd(command(too_large)));
    for (std::size_t position = 1; position < 4; ++position) {
        Bytes bad = {0x04, 0x00, 0x00, 0x00, 0x11};
        bad[position] = 0x01;
        EXPECT_TRUE(err_cmd(command(bad))) << position;
    }
}

TEST_F(ChipUpload, FlashLoadIsTakenButThereIsNoFlashToBootFrom) {
    ASSERT_TRUE(send_image(patch_chunks()));
    ASSERT_FALSE(err_cmd(command({0x06, 0x00})));
    const Bytes flash = {0x05, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_FALSE(err_cmd(command(flash)));
    Bytes malformed = flash;
    malformed[9] = 0x01;
    EXPECT_TRUE(err_cmd(command(malformed)));
    EXPECT_TRUE(err_cmd(command(Bytes(flash.begin(), flash.end() - 1))));
    expect_boot_loader_stays();
}

TEST_F(ChipUpload, FailedBootNeedsAFreshUploadAndThenBoots) {
    ASSERT_TRUE(send_image(patch_chunks()));
    expect_boot_loader_stays();
    ASSERT_TRUE(send_image(patch_chunks()));
    ASSERT_TRUE(send_image(dab_chunks()));
    EXPECT_EQ(status3(boot()), 0xC0);
}

TEST_F(ChipUpload, ResetDiscardsAHalfDoneUpload) {
    ASSERT_TRUE(send_image(patch_chunks()));
    reset_pulse();
    ASSERT_EQ(status3(command(power_up_bytes, 5)), 0x80);
    ASSERT_TRUE(send_image(dab_chunks()));
    expect_boot_loader_stays();
}

} // namespace
