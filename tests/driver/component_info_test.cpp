// SPDX-License-Identifier: GPL-3.0-or-later
// Component information, its user-application entries, and their printout.
#include <algorithm>
#include <cstring>

#include "DriverTest.h"

namespace driver_test {
namespace {

// DAB_GET_COMPONENT_INFO reply: header fields at positions 5 to 28, the
// user-application fields from 29.
Bytes component_reply(uint8_t num_ua, const Bytes &fields, uint8_t ua_length,
                      uint8_t status0 = 0x80) {
    Bytes resp(24, 0xEE);
    resp[0] = 7;    // 5 global id
    resp[2] = 0xFF; // 7 language, bits 5-0
    resp[3] = 0xCF; // 8 charset id, bits 5-0
    const char label[] = "Comp\0nent label!";
    std::memcpy(&resp[4], label, 16); // 9-24
    put_u16(resp, 20, 0xFFFF);        // 25-26 abbreviation flags
    resp[22] = num_ua;                // 27
    resp[23] = ua_length;             // 28
    resp.insert(resp.end(), fields.begin(), fields.end());
    return reply(status0, 0xC0, resp);
}

void script_component(uint8_t num_ua, const Bytes &fields) {
    const auto length = static_cast<uint8_t>(fields.size());
    sim::script_reply(0xBB, component_reply(num_ua, fields, length));
    sim::script_reply(0xBB, component_reply(num_ua, fields, length));
}

// A record as the component-information read leaves it.
Si468x_ComponentInfo info_with(uint8_t num_ua, const Bytes &fields) {
    Si468x_ComponentInfo info{};
    info.num_ua = num_ua;
    info.ua_length = static_cast<uint8_t>(fields.size());
    std::copy(fields.begin(), fields.end(), info.ua_area);
    return info;
}

Si468x_UserApplication untouched_ua() {
    Si468x_UserApplication ua;
    std::memset(&ua, 0xAA, sizeof ua);
    return ua;
}

class ComponentInfoTest : public DriverTest {};

TEST_F(ComponentInfoTest, SameFrameTwiceThenTheFieldsMoveToTheFront) {
    const Bytes fields{0x02, 0x00, 0x01, 0x55, 0x07, 0x00, 0x02, 0x66, 0x77, 0x00};
    script_component(2, fields);
    Si468x_ComponentInfo info{};
    ASSERT_EQ(Si468x_DAB_get_component_info(0xE1E5C221, 0x00020001, &info), 0);
    const Bytes frame{0xBB, 0x00, 0x00, 0x00, 0x21, 0xC2, 0xE5, 0xE1, 0x01, 0x00, 0x02, 0x00};
    EXPECT_EQ(commands(), (std::vector<Bytes>{frame, frame}));
    const auto reads = read_sizes();
    EXPECT_EQ(reads[1], 29u);
    EXPECT_EQ(reads.back(), 29u + fields.size());
    EXPECT_EQ(info.global_id, 7);
    EXPECT_EQ(info.language, 63);
    EXPECT_EQ(info.charset_id, 15);
    EXPECT_EQ(std::string(info.label, 16), std::string("Comp\0nent label!", 16));
    EXPECT_EQ(info.char_abbrev, 0xFFFF);
    EXPECT_EQ(info.num_ua, 2);
    EXPECT_EQ(info.ua_length, fields.size());
    EXPECT_EQ(Bytes(info.ua_area, info.ua_area + fields.size()), fields);
    // Behind the fields the unmoved rest of the reply: position k at k.
    EXPECT_EQ(info.ua_area[29], 0x02);
}

TEST_F(ComponentInfoTest, LongestFieldsFillTheArea) {
    Bytes fields(227);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        fields[i] = static_cast<uint8_t>(i);
    }
    script_component(0, fields);
    Si468x_ComponentInfo info{};
    ASSERT_EQ(Si468x_DAB_get_component_info(1, 2, &info), 0);
    EXPECT_EQ(read_sizes().back(), 256u);
    EXPECT_EQ(Bytes(info.ua_area, info.ua_area + 227), fields);
}

TEST_F(ComponentInfoTest, FieldsLongerThanTheAreaFailBeforeTheSecondQuery) {
    for (uint8_t length : {228, 255}) {
        sim::clear_frames();
        sim::script_reply(0xBB, component_reply(1, {}, length));
        Si468x_ComponentInfo info{};
        EXPECT_EQ(Si468x_DAB_get_component_info(1, 2, &info), -4);
        EXPECT_EQ(Si468x_ErrorCode, length * 100 + 1030);
        EXPECT_EQ(commands().size(), 1u);
        // The header fields are already set.
        EXPECT_EQ(info.ua_length, length);
        EXPECT_EQ(info.global_id, 7);
        sim::clear_scripts();
    }
    EXPECT_EQ(Si468x_ErrorCode, 26530);
}

TEST_F(ComponentInfoTest, FailedQueriesReport30And130) {
    sim::script_reply(0xBB, component_reply(1, {}, 0, 0xC0));
    Si468x_ComponentInfo info{};
    EXPECT_EQ(Si468x_DAB_get_component_info(1, 2, &info), -2);
    EXPECT_EQ(Si468x_ErrorCode, 30);
    EXPECT_EQ(info.global_id, 0);

    sim::script_reply(0xBB, component_reply(1, {0x02, 0x00, 0x01, 0x09}, 4));
    sim::script_reply(0xBB, component_reply(1, {0x02, 0x00, 0x01, 0x09}, 4, 0xC0));
    EXPECT_EQ(Si468x_DAB_get_component_info(1, 2, &info), -2);
    EXPECT_EQ(Si468x_ErrorCode, 130);
    EXPECT_EQ(info.ua_length, 4);
}

TEST(UserApplication, OddLengthsTakeNoPadEvenLengthsTakeAZero) {
    // Type 0x0002 with 1 byte (4 bytes in all), type 0x1234 with 2 bytes and
    // a pad (6 bytes), type 0x0007 with 0 bytes and a pad (4 bytes).
    const Si468x_ComponentInfo info = info_with(
        3, {0x02, 0x00, 0x01, 0xAB, 0x34, 0x12, 0x02, 0xCD, 0xEF, 0x00, 0x07, 0x00, 0x00, 0x00});
    Si468x_UserApplication ua = untouched_ua();
    ASSERT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 0), 0);
    EXPECT_EQ(ua.ua_type, 0x0002);
    EXPECT_EQ(ua.ua_data_length, 1);
    EXPECT_EQ(ua.ua_data[0], 0xAB);
    EXPECT_EQ(ua.ua_data[1], 0xAA);

    ua = untouched_ua();
    ASSERT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 1), 0);
    EXPECT_EQ(ua.ua_type, 0x1234);
    EXPECT_EQ(ua.ua_data_length, 2);
    EXPECT_EQ(Bytes(ua.ua_data, ua.ua_data + 3), (Bytes{0xCD, 0xEF, 0xAA}));

    ua = untouched_ua();
    ASSERT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 2), 0);
    EXPECT_EQ(ua.ua_type, 0x0007);
    EXPECT_EQ(ua.ua_data_length, 0);

    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 3), -6);
    EXPECT_EQ(Si468x_ErrorCode, 31);
}

TEST(UserApplication, NoEntriesFailsForEveryIndexAt31) {
    const Si468x_ComponentInfo info = info_with(0, {0x02, 0x00, 0x01, 0xAB});
    Si468x_UserApplication ua{};
    for (unsigned index : {0u, 1u, 255u}) {
        Si468x_ErrorCode = 0;
        EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, static_cast<uint8_t>(index)), -6);
        EXPECT_EQ(Si468x_ErrorCode, 31);
    }
}

TEST(UserApplication, DataRunningPastTheFieldsReportsTheTypeLowByte) {
    // Type 0x0002 claiming 9 data bytes in 5 bytes of fields.
    const Si468x_ComponentInfo info = info_with(2, {0x02, 0x00, 0x09, 0x01, 0x02});
    Si468x_UserApplication ua = untouched_ua();
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 0), -6);
    EXPECT_EQ(Si468x_ErrorCode, 1331);
    EXPECT_EQ(ua.ua_type, 0xAAAA);
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 1), -6);
    EXPECT_EQ(Si468x_ErrorCode, 1231);
}

TEST(UserApplication, EntryHeaderRunningPastTheFieldsFailsAt131) {
    const Si468x_ComponentInfo cut = info_with(1, {0x02, 0x00});
    Si468x_UserApplication ua{};
    EXPECT_EQ(Si468x_DAB_get_ua_data(&cut, &ua, 0), -6);
    EXPECT_EQ(Si468x_ErrorCode, 131);

    // The first entry fills the fields exactly; a second has no room.
    const Si468x_ComponentInfo full = info_with(2, {0x02, 0x00, 0x01, 0x11});
    EXPECT_EQ(Si468x_DAB_get_ua_data(&full, &ua, 0), 0);
    EXPECT_EQ(Si468x_DAB_get_ua_data(&full, &ua, 1), -6);
    EXPECT_EQ(Si468x_ErrorCode, 131);
}

TEST(UserApplication, NonZeroPadFailsItsEntryAt331AndLaterOnesAt231) {
    const Si468x_ComponentInfo info = info_with(
        3, {0x01, 0x00, 0x01, 0x11, 0x02, 0x00, 0x02, 0x22, 0x33, 0x55, 0x03, 0x00, 0x01, 0x44});
    Si468x_UserApplication ua = untouched_ua();
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 0), 0);
    EXPECT_EQ(ua.ua_data[0], 0x11);

    ua = untouched_ua();
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 1), -6);
    EXPECT_EQ(Si468x_ErrorCode, 331);
    EXPECT_EQ(ua.ua_type, 0x0002);
    EXPECT_EQ(ua.ua_data_length, 2);
    EXPECT_EQ(ua.ua_data[0], 0xAA);

    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 2), -6);
    EXPECT_EQ(Si468x_ErrorCode, 231);
}

TEST(UserApplication, PadOfALastEvenEntryIsReadBehindTheFields) {
    // The entry ends exactly at ua_length; its pad byte is the first area
    // byte beyond the fields.
    Si468x_ComponentInfo info = info_with(1, {0x05, 0x00, 0x02, 0x61, 0x62});
    Si468x_UserApplication ua{};
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 0), 0);
    info.ua_area[5] = 0x01;
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 0), -6);
    EXPECT_EQ(Si468x_ErrorCode, 331);
}

TEST(UserApplication, LongestFieldsAreWalkedWithoutLeavingTheArea) {
    // 255 bytes of zeros: 4-byte entries of no data. Entry 63 starts at 252
    // and its pad is the area's last byte; entry 64 has no room.
    Si468x_ComponentInfo info{};
    info.num_ua = 255;
    info.ua_length = 255;
    Si468x_UserApplication ua{};
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 63), 0);
    info.ua_area[255] = 0x01;
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 63), -6);
    EXPECT_EQ(Si468x_ErrorCode, 331);
    info.ua_area[255] = 0x00;
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 64), -6);
    EXPECT_EQ(Si468x_ErrorCode, 131);

    // All 0xFF: the first entry claims 255 data bytes.
    std::memset(info.ua_area, 0xFF, sizeof info.ua_area);
    EXPECT_EQ(Si468x_DAB_get_ua_data(&info, &ua, 0), -6);
    EXPECT_EQ(Si468x_ErrorCode, 255 * 100 + 1131);
}

const char *const HEADER = "DAB component info ------------------- \n"
                           "Global ID:                                  7\n"
                           "Language:                                   63\n"
                           "charsetID:                                  15\n"
                           "Label:                                      ";

Si468x_ComponentInfo printable(uint8_t num_ua, const Bytes &fields) {
    Si468x_ComponentInfo info = info_with(num_ua, fields);
    info.global_id = 7;
    info.language = 63;
    info.charset_id = 15;
    std::memcpy(info.label, "Comp\0nent label!", 16);
    info.char_abbrev = 65535;
    return info;
}

TEST(PrintComponentInfo, WithoutEntriesHeaderLinesAndAFinalLineEnd) {
    const Si468x_ComponentInfo info = printable(0, {});
    const std::string expected = std::string(HEADER) + std::string("Comp\0nent label!", 16) +
                                 "\nChar abrev:                                 65535\n"
                                 "Number user application data:               0\n"
                                 "Length user application data:               0\n"
                                 "\n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_component_info(&info); }), expected);
}

TEST(PrintComponentInfo, EntriesWithTheirDataInHex) {
    const Si468x_ComponentInfo info =
        printable(2, {0x02, 0x00, 0x01, 0x0A, 0x07, 0x01, 0x02, 0xFF, 0x00, 0x00});
    const std::string expected = std::string(HEADER) + std::string("Comp\0nent label!", 16) +
                                 "\nChar abrev:                                 65535\n"
                                 "Number user application data:               2\n"
                                 "Length user application data:               10\n"
                                 "User application no:                        0\n"
                                 "User application type:                      2\n"
                                 "User application length:                    1\n"
                                 "  User application data:                    0a \n"
                                 "User application no:                        1\n"
                                 "User application type:                      263\n"
                                 "User application length:                    2\n"
                                 "  User application data:                    ff 00 \n"
                                 "\n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_component_info(&info); }), expected);
}

TEST(PrintComponentInfo, MalformedEntryStopsThePrintoutThere) {
    const Si468x_ComponentInfo info = printable(2, {0x02, 0x00, 0x01, 0x0A, 0x07, 0x01});
    const std::string expected = std::string(HEADER) + std::string("Comp\0nent label!", 16) +
                                 "\nChar abrev:                                 65535\n"
                                 "Number user application data:               2\n"
                                 "Length user application data:               6\n"
                                 "User application no:                        0\n"
                                 "User application type:                      2\n"
                                 "User application length:                    1\n"
                                 "  User application data:                    0a \n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_component_info(&info); }), expected);
}

TEST(HexPrint, PrefixBytesAndLineEnd) {
    const uint8_t bytes[] = {0x00, 0x0A, 0xFF};
    EXPECT_EQ(captured_stdout([&] { Si468x_hex_print(bytes, 3, "x: "); }), "x: 00 0a ff \n");
    EXPECT_EQ(captured_stdout([&] { Si468x_hex_print(bytes, 0, "empty"); }), "empty\n");
}

} // namespace
} // namespace driver_test
