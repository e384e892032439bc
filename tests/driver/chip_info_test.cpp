// SPDX-License-Identifier: GPL-3.0-or-later
// Part, system-state and function information, their printout, and the
// property read and write.
#include <cstring>
#include <sstream>

#include "DriverTest.h"

namespace driver_test {
namespace {

class ChipInfoTest : public DriverTest {};

// A record filled with a pattern, to see which fields an operation writes.
Si468x_ChipInfo patterned() {
    Si468x_ChipInfo info;
    std::memset(&info, 0xA5, sizeof info);
    return info;
}

TEST_F(ChipInfoTest, PartInfoTakesChipRevRomIdAndPart) {
    Bytes resp(19, 0xEE);
    resp[0] = 0x41;           // position 5, CHIPREV
    resp[1] = 0x03;           // position 6, ROMID
    put_u16(resp, 4, 0x1250); // positions 9-10, PART
    sim::script_reply(0x08, ok_reply(resp));
    Si468x_ChipInfo info = patterned();
    ASSERT_EQ(Si468x_get_part_info(&info), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x08, 0x00}}));
    EXPECT_EQ(read_sizes().back(), 24u);
    EXPECT_EQ(info.chip_rev, 0x41);
    EXPECT_EQ(info.rom_id, 0x03);
    EXPECT_EQ(info.part, 0x1250);
    EXPECT_EQ(info.image, 0xA5);
    EXPECT_EQ(info.rev_ext, 0xA5);
}

TEST_F(ChipInfoTest, SysStateTakesTheImageCode) {
    sim::script_reply(0x09, ok_reply({0x07, 0xEE}));
    Si468x_ChipInfo info = patterned();
    ASSERT_EQ(Si468x_get_sys_state(&info), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x09, 0x00}}));
    EXPECT_EQ(read_sizes().back(), 7u);
    EXPECT_EQ(info.image, 7);
    EXPECT_EQ(info.chip_rev, 0xA5);
}

Bytes func_info(uint8_t flags) {
    Bytes resp{6, 1, 9, flags, 0, 0, 0, 0};
    put_u32(resp, 4, 0xDEADBEEF);
    return ok_reply(resp);
}

TEST_F(ChipInfoTest, FuncInfoWithVersionControlInformation) {
    sim::script_reply(0x12, func_info(0x23)); // LOCATION 2, MIXEDREV, LOCALMOD
    Si468x_ChipInfo info = patterned();
    ASSERT_EQ(Si468x_get_func_info(&info), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x12, 0x00}}));
    EXPECT_EQ(read_sizes().back(), 13u);
    EXPECT_EQ(info.rev_ext, 6);
    EXPECT_EQ(info.rev_branch, 1);
    EXPECT_EQ(info.rev_int, 9);
    EXPECT_EQ(info.no_svn, 0);
    EXPECT_EQ(info.mixed_rev, 1);
    EXPECT_EQ(info.local_mod, 1);
    EXPECT_EQ(info.location, 2);
    EXPECT_EQ(info.svn_id, 0xDEADBEEFu);
}

TEST_F(ChipInfoTest, FuncInfoWithNoSvnKeepsLocationAndSvnId) {
    sim::script_reply(0x12, func_info(0xB2)); // NOSVN, LOCATION 3, MIXEDREV
    Si468x_ChipInfo info{};
    info.location = 1;
    info.svn_id = 4711;
    ASSERT_EQ(Si468x_get_func_info(&info), 0);
    EXPECT_EQ(info.no_svn, 1);
    EXPECT_EQ(info.mixed_rev, 1);
    EXPECT_EQ(info.local_mod, 0);
    EXPECT_EQ(info.location, 1);
    EXPECT_EQ(info.svn_id, 4711u);
}

TEST_F(ChipInfoTest, FailedReadsLeaveTheRecordAndReportTheirOperation) {
    const struct {
        uint8_t opcode;
        int16_t (*read)(Si468x_ChipInfo *);
        int32_t location;
    } cases[] = {
        {0x08, Si468x_get_part_info, 11},
        {0x09, Si468x_get_sys_state, 12},
        {0x12, Si468x_get_func_info, 13},
    };
    for (const auto &c : cases) {
        sim::script_reply(c.opcode, reply(0xC0, 0xC0, Bytes(19, 0x11)));
        Si468x_ChipInfo info = patterned();
        const Si468x_ChipInfo before = info;
        EXPECT_EQ(c.read(&info), -2) << c.location;
        EXPECT_EQ(Si468x_ErrorCode, c.location);
        EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << c.location;
    }
}

TEST_F(ChipInfoTest, ModelIdentityReadsBackThroughAllThree) {
    sim::ChipIdentity identity;
    identity.chip_rev = 3;
    identity.rom_id = 7;
    identity.part = 4689;
    identity.func_flags = 0x31; // LOCATION 3, LOCALMOD
    identity.svn_id = 0x01020304;
    sim::set_identity(identity);
    Si468x_ChipInfo info{};
    ASSERT_EQ(Si468x_get_part_info(&info), 0);
    ASSERT_EQ(Si468x_get_sys_state(&info), 0);
    ASSERT_EQ(Si468x_get_func_info(&info), 0);
    EXPECT_EQ(info.chip_rev, 3);
    EXPECT_EQ(info.rom_id, 7);
    EXPECT_EQ(info.part, 4689);
    EXPECT_EQ(info.image, 2);
    EXPECT_EQ(info.location, 3);
    EXPECT_EQ(info.local_mod, 1);
    EXPECT_EQ(info.svn_id, 0x01020304u);
}

TEST(PrintChipInfo, ElevenLinesByteForByte) {
    Si468x_ChipInfo info{};
    info.chip_rev = 65;
    info.rom_id = 3;
    info.part = 4688;
    info.image = 8;
    info.rev_ext = 6;
    info.rev_branch = 1;
    info.rev_int = 9;
    info.mixed_rev = 1;
    info.local_mod = 1;
    info.location = 2;
    info.svn_id = 3735928559u; // above the signed 32-bit range
    const std::string expected = "Chip info ---------------------------- \n"
                                 "Chip Mask Revision:                         65\n"
                                 "ROM ID:                                     3\n"
                                 "Part Number:                                4688\n"
                                 "Firmware image running the sysstate CMD:    unknown\n"
                                 "Revision number:                            6.1.9\n"
                                 "No SVN info:                                0\n"
                                 "Mixed revisions:                            1\n"
                                 "Local modifications:                        1\n"
                                 "Build location:                             2\n"
                                 "SVN ID:                                     3735928559\n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_chip_info(&info); }), expected);
}

TEST(PrintChipInfo, ImageNames) {
    const char *names[] = {"Bootloader", "FMHD", "DAB",        "TDMB or data only DAB",
                           "FMHD Demod", "AMHD", "AMHD Demod", "DAB Demod"};
    for (unsigned code : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 127u, 255u}) {
        Si468x_ChipInfo info{};
        info.image = static_cast<uint8_t>(code);
        std::istringstream lines(captured_stdout([&] { Si468x_print_chip_info(&info); }));
        std::string line;
        for (int i = 0; i < 5; ++i) {
            std::getline(lines, line);
        }
        const std::string name = code < 8 ? names[code] : "unknown";
        EXPECT_EQ(line, "Firmware image running the sysstate CMD:    " + name) << code;
        std::getline(lines, line);
        EXPECT_EQ(line.rfind("Revision number:", 0), 0u) << code;
    }
}

class PropertyTest : public DriverTest {};

TEST_F(PropertyTest, WriteIsConfirmedByReadingItBack) {
    const Si468x_Property volume{0x0300, 0x0028};
    EXPECT_EQ(Si468x_set_property(&volume), 0);
    EXPECT_EQ(sim::property(0x0300), std::optional<uint16_t>(0x0028));
    EXPECT_EQ(commands(),
              (std::vector<Bytes>{{0x13, 0x00, 0x00, 0x03, 0x28, 0x00}, {0x14, 0x01, 0x00, 0x03}}));
    EXPECT_EQ(read_sizes().back(), 7u);

    Si468x_Property read{0x0300, 0};
    EXPECT_EQ(Si468x_get_property(&read), 0);
    EXPECT_EQ(read.value, 0x0028);
}

TEST_F(PropertyTest, SixteenBitIdsAndValuesGoLowByteFirst) {
    // The varactor slope takes any 16-bit value.
    const Si468x_Property property{0x1710, 0xA55A};
    EXPECT_EQ(Si468x_set_property(&property), 0);
    ASSERT_EQ(commands().size(), 2u);
    EXPECT_EQ(commands()[0], (Bytes{0x13, 0x00, 0x10, 0x17, 0x5A, 0xA5}));
    EXPECT_EQ(commands()[1], (Bytes{0x14, 0x01, 0x10, 0x17}));
}

TEST_F(PropertyTest, ReadBackWithAnotherValueFailsAt218) {
    // Differing in the low byte, then in the high byte only.
    for (const Bytes &value : {Bytes{0x29, 0x00}, Bytes{0x28, 0x01}}) {
        sim::script_reply(0x14, ok_reply(value));
        const Si468x_Property volume{0x0300, 0x0028};
        Si468x_ErrorCode = 0;
        EXPECT_EQ(Si468x_set_property(&volume), -6);
        EXPECT_EQ(Si468x_ErrorCode, 218);
    }
}

TEST_F(PropertyTest, ModelMismatchFaultIsCaught) {
    ASSERT_TRUE(sim::set_faults("property-mismatch=0x1710"));
    const Si468x_Property property{0x1710, 0x0001};
    EXPECT_EQ(Si468x_set_property(&property), -6);
    EXPECT_EQ(Si468x_ErrorCode, 218);
}

TEST_F(PropertyTest, RejectedWriteFailsAt18WithoutAReadBack) {
    sim::script_reply(0x13, reply(0xC0, 0xC0));
    const Si468x_Property property{0x0300, 10};
    EXPECT_EQ(Si468x_set_property(&property), -2);
    EXPECT_EQ(Si468x_ErrorCode, 18);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(PropertyTest, FailedReadBackFailsAt118) {
    sim::script_reply(0x14, reply(0xC0, 0xC0, {10, 0}));
    const Si468x_Property property{0x0300, 10};
    EXPECT_EQ(Si468x_set_property(&property), -2);
    EXPECT_EQ(Si468x_ErrorCode, 118);
}

TEST_F(PropertyTest, FailedReadLeavesTheValueAt17) {
    sim::script_reply(0x14, reply(0x80, 0xC1, {10, 0}));
    Si468x_Property property{0x0300, 0x1234};
    EXPECT_EQ(Si468x_get_property(&property), -2);
    EXPECT_EQ(Si468x_ErrorCode, 17);
    EXPECT_EQ(property.value, 0x1234);
}

} // namespace
} // namespace driver_test
