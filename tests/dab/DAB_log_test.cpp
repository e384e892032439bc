// SPDX-License-Identifier: GPL-3.0-or-later
// The data log files: one record per call, appended, byte for byte.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

constexpr char kPacketHeading[] = "\n------------------------- \nNew data package logged\n";
constexpr char kComponentHeading[] =
    "\n///////////////////////// \nStart logging component\n///////////////////////// \n";

std::unique_ptr<Si468x_ServiceData> packet(std::initializer_list<uint8_t> payload) {
    auto data = std::make_unique<Si468x_ServiceData>();
    data->overflow_int = 1;
    data->package_int = 1;
    data->buffer_count = 3;
    data->srv_state = 2;
    data->data_src = 1;
    data->dscty = 60;
    data->service_id = 3788948001u;
    data->comp_id = 49925;
    data->segment_number = 513;
    data->number_segments = 65535;
    data->byte_count = static_cast<uint16_t>(payload.size());
    std::copy(payload.begin(), payload.end(), data->payload);
    return data;
}

std::string packet_fields(unsigned byte_count) {
    return std::string(kPacketHeading) +
           "DSRV over flow INT: 1\nDSRV package INT: 1\n"
           "Buffer count: 3\nSRV state: 2\nData src: 1\nDSCty: 60\n"
           "Service ID: 3788948001\nComp. ID: 49925\n"
           "Byte count: " +
           std::to_string(byte_count) + "\nSegment number: 513\nNumber segments: 65535\nPayload:\n";
}

// A component with entries of data lengths 1 and 2: the first takes 4 bytes
// (no pad byte), the second 6 (a zero pad byte).
Si468x_ComponentInfo component_with_two_entries() {
    Si468x_ComponentInfo info{};
    info.global_id = 7;
    info.language = 9;
    info.charset_id = 15;
    std::memcpy(info.label, "Lark Slideshow  ", 16);
    info.char_abbrev = 0xFF00;
    info.num_ua = 2;
    const uint8_t fields[] = {0x02, 0x00, 1, 0xAB, 0x4A, 0x04, 2, 0x0C, 0xD0, 0x00};
    info.ua_length = sizeof fields;
    std::memcpy(info.ua_area, fields, sizeof fields);
    return info;
}

std::string component_fields(const std::string &label, unsigned num_ua, unsigned ua_length) {
    return std::string(kComponentHeading) +
           "Global ID: 7\nLanguage: 9\nCharset ID: 15\nLabel: " + label +
           "\nChar abbrev: 65280\nNumber user application types: " + std::to_string(num_ua) +
           "\nLength of UATYPE,... fields: " + std::to_string(ua_length) + "\n";
}

class DataLog : public testing::Test {
protected:
    station_test::ScratchDir dir_;
    std::string path_ = (dir_ / "data.log").string();
};

TEST_F(DataLog, PacketRecordListsEveryFieldAndThePayloadInHex) {
    auto data = packet({0x80, 0x00, 0x41, 0x0a, 0xff});
    ASSERT_EQ(DAB_save_logged_data(data.get(), path_.c_str()), 0);
    EXPECT_EQ(station_test::read_file(path_), packet_fields(5) + "80 00 41 0a ff \n");
}

TEST_F(DataLog, EmptyPayloadIsFollowedDirectlyByTheLineFeed) {
    auto data = packet({});
    ASSERT_EQ(DAB_save_logged_data(data.get(), path_.c_str()), 0);
    EXPECT_EQ(station_test::read_file(path_), packet_fields(0) + "\n");
}

TEST_F(DataLog, RecordsAreAppendedOldestFirst) {
    auto first = packet({0x01});
    auto second = packet({0x02, 0x03});
    ASSERT_EQ(DAB_save_logged_data(first.get(), path_.c_str()), 0);
    const Si468x_ComponentInfo empty{};
    ASSERT_EQ(DAB_save_component_data(&empty, path_.c_str()), 0);
    ASSERT_EQ(DAB_save_logged_data(second.get(), path_.c_str()), 0);
    const std::string text = station_test::read_file(path_);
    const std::string one = packet_fields(1) + "01 \n";
    const std::string two = packet_fields(2) + "02 03 \n";
    ASSERT_EQ(text.substr(0, one.size()), one);
    EXPECT_EQ(text.substr(text.size() - two.size()), two);
    EXPECT_NE(text.find(kComponentHeading), std::string::npos);
}

TEST_F(DataLog, PacketClaimingMoreThanItsPayloadLogsTheWholePayloadOnly) {
    auto data = packet({});
    data->byte_count = 4097;
    for (int i = 0; i < SI468X_PAYLOAD_SIZE; ++i) {
        data->payload[i] = 0x11;
    }
    // The text field lies right behind the payload in the record.
    std::memset(data->text, 0x22, sizeof data->text);
    ASSERT_EQ(DAB_save_logged_data(data.get(), path_.c_str()), 0);
    const std::string text = station_test::read_file(path_);
    const std::string fields = packet_fields(4097);
    ASSERT_EQ(text.substr(0, fields.size()), fields);
    std::string bytes;
    for (int i = 0; i < SI468X_PAYLOAD_SIZE; ++i) {
        bytes += "11 ";
    }
    EXPECT_EQ(text.substr(fields.size()), bytes + "\n");
}

TEST_F(DataLog, ComponentWithoutEntriesIsHeadingSevenLinesAndAnEmptyLine) {
    Si468x_ComponentInfo info = component_with_two_entries();
    info.num_ua = 0;
    ASSERT_EQ(DAB_save_component_data(&info, path_.c_str()), 0);
    EXPECT_EQ(station_test::read_file(path_), component_fields("Lark Slideshow  ", 0, 10) + "\n");
}

TEST_F(DataLog, ComponentEntriesAreDecodedOneByOne) {
    const Si468x_ComponentInfo info = component_with_two_entries();
    ASSERT_EQ(DAB_save_component_data(&info, path_.c_str()), 0);
    EXPECT_EQ(station_test::read_file(path_), component_fields("Lark Slideshow  ", 2, 10) +
                                                  "User application no: 0\n"
                                                  "User application type: 2\n"
                                                  "User application length: 1\n"
                                                  "User application data:\n"
                                                  "ab \n"
                                                  "User application no: 1\n"
                                                  "User application type: 1098\n"
                                                  "User application length: 2\n"
                                                  "User application data:\n"
                                                  "0c d0 \n"
                                                  "\n");
}

TEST_F(DataLog, LabelIsWrittenUpToItsFirstZeroByteAndAtMostSixteenCharacters) {
    Si468x_ComponentInfo info = component_with_two_entries();
    info.num_ua = 0;
    std::memcpy(info.label, "ABCDEFGHIJKLMNOP", 16);
    // The byte behind the label must not be taken for part of it.
    info.char_abbrev = 0x4141;
    ASSERT_EQ(DAB_save_component_data(&info, path_.c_str()), 0);
    std::memcpy(info.label, "Lark\0Hidden\0\0\0\0\0", 16);
    ASSERT_EQ(DAB_save_component_data(&info, path_.c_str()), 0);
    const auto lines = station_test::split_lines(station_test::read_file(path_));
    ASSERT_GE(lines.size(), 20u);
    EXPECT_EQ(lines[7], "Label: ABCDEFGHIJKLMNOP");
    EXPECT_EQ(lines[7 + 12], "Label: Lark");
}

TEST_F(DataLog, EntryThatCannotBeDecodedEndsTheRecordAfterItsNumber) {
    Si468x_ComponentInfo info = component_with_two_entries();
    info.ua_area[9] = 0x01; // the second entry's pad byte
    int16_t status = 0;
    const std::string printed = station_test::captured_stdout(
        [&] { status = DAB_save_component_data(&info, path_.c_str()); });
    EXPECT_EQ(status, -6);
    EXPECT_EQ(DABUtils_ErrorCode, 114);
    EXPECT_EQ(printed, "DABUtils error No: 114, returned retval: -6\n");
    EXPECT_EQ(station_test::read_file(path_), component_fields("Lark Slideshow  ", 2, 10) +
                                                  "User application no: 0\n"
                                                  "User application type: 2\n"
                                                  "User application length: 1\n"
                                                  "User application data:\n"
                                                  "ab \n"
                                                  "User application no: 1\n");
}

TEST_F(DataLog, FileInAMissingDirectoryFailsWithTheErrorLine) {
    const std::string path = (dir_ / "missing" / "data.log").string();
    auto data = packet({1});
    const Si468x_ComponentInfo info = component_with_two_entries();
    struct Case {
        const char *name;
        std::function<int16_t()> call;
        int32_t location;
    };
    const Case cases[] = {
        {"packet", [&] { return DAB_save_logged_data(data.get(), path.c_str()); }, 13},
        {"component", [&] { return DAB_save_component_data(&info, path.c_str()); }, 14},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int16_t status = 0;
        const std::string printed = station_test::captured_stdout([&] { status = c.call(); });
        EXPECT_EQ(status, -6);
        EXPECT_EQ(DABUtils_ErrorCode, c.location);
        EXPECT_EQ(printed,
                  "DABUtils error No: " + std::to_string(c.location) + ", returned retval: -6\n");
    }
    EXPECT_FALSE(std::filesystem::exists(dir_ / "missing"));
}

} // namespace
