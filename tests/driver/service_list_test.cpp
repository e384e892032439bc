// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the raw service list, decoding services and components out of it,
// and its printout.
#include <algorithm>
#include <cstring>

#include "DriverTest.h"

namespace driver_test {
namespace {

// GET_DIGITAL_SERVICE_LIST reply: SIZE at positions 5-6, version 7-8,
// number of services 9, records from 13.
Bytes list_reply(uint16_t size, uint16_t version, uint8_t services, const Bytes &records) {
    Bytes resp{0, 0, 0, 0, services, 0, 0, 0};
    put_u16(resp, 0, size);
    put_u16(resp, 2, version);
    resp.insert(resp.end(), records.begin(), records.end());
    return ok_reply(resp);
}

void script_list(uint16_t version, uint8_t services, const Bytes &records) {
    const auto size = static_cast<uint16_t>(records.size() + 6);
    sim::script_reply(0x80, list_reply(size, version, services, {}));
    sim::script_reply(0x80, list_reply(size, version, services, records));
}

// One raw service record.
Bytes service_record(const Bytes &id, uint8_t info1, uint8_t info2, uint8_t info3,
                     const char *label, const Bytes &components) {
    Bytes record(id);
    record.insert(record.end(), {info1, info2, info3, 0x00});
    for (int i = 0; i < 16; ++i) {
        record.push_back(static_cast<uint8_t>(label[i]));
    }
    record.insert(record.end(), components.begin(), components.end());
    return record;
}

Si468x_ServiceList list_of(uint8_t services, const Bytes &records) {
    Si468x_ServiceList list{};
    list.num_services = services;
    list.data_length = static_cast<uint16_t>(records.size());
    std::copy(records.begin(), records.end(), list.service_data);
    return list;
}

class ServiceListTest : public DriverTest {};

TEST_F(ServiceListTest, ListIsReadWholeAndMovedToTheFront) {
    const Bytes records = service_record({0x21, 0xC2, 0x00, 0x00}, 0x00, 0x01, 0x00,
                                         "Radio One       ", {0x05, 0x00, 0x15, 0x01});
    script_list(0x0102, 1, records);
    Si468x_ServiceList list{};
    list.freq_index = 17;
    ASSERT_EQ(Si468x_get_digital_service_list(&list), 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x80, 0x00}, {0x80, 0x00}}));
    EXPECT_EQ(read_sizes()[1], 7u);
    EXPECT_EQ(read_sizes().back(), records.size() + 13);
    EXPECT_EQ(list.list_version, 0x0102);
    EXPECT_EQ(list.num_services, 1);
    EXPECT_EQ(list.freq_index, 17);
    EXPECT_EQ(list.data_length, records.size());
    EXPECT_EQ(Bytes(list.service_data, list.service_data + records.size()), records);
}

TEST_F(ServiceListTest, SizeSixIsAnEmptyList) {
    script_list(3, 0, {});
    Si468x_ServiceList list{};
    ASSERT_EQ(Si468x_get_digital_service_list(&list), 0);
    EXPECT_EQ(list.data_length, 0);
    EXPECT_EQ(list.num_services, 0);
    EXPECT_EQ(read_sizes().back(), 13u);
    Si468x_Service service{};
    EXPECT_EQ(Si468x_get_digital_service(&list, 0, &service), -6);
    EXPECT_EQ(Si468x_ErrorCode, 27);
}

TEST_F(ServiceListTest, LargestSizeFillsTheRecordExactly) {
    Bytes records(2035);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    script_list(9, 20, records);
    Si468x_ServiceList list{};
    ASSERT_EQ(Si468x_get_digital_service_list(&list), 0);
    EXPECT_EQ(read_sizes().back(), 2048u);
    EXPECT_EQ(list.data_length, 2035);
    EXPECT_EQ(Bytes(list.service_data, list.service_data + 2035), records);
}

TEST_F(ServiceListTest, SizeOutOfRangeFailsAt126BeforeTheSecondRead) {
    // 2042 would not fit the record; below 6 the list header is missing.
    for (uint16_t size : {2042, 2043, 0xFFFF, 0, 1, 5}) {
        sim::clear_frames();
        sim::script_reply(0x80, list_reply(size, 9, 1, {}));
        Si468x_ServiceList list{};
        list.list_version = 0x5555;
        list.num_services = 0x55;
        list.data_length = 0x5555;
        EXPECT_EQ(Si468x_get_digital_service_list(&list), -4) << size;
        EXPECT_EQ(Si468x_ErrorCode, 126) << size;
        EXPECT_EQ(commands().size(), 1u) << size;
        EXPECT_EQ(list.list_version, 0x5555) << size;
        EXPECT_EQ(list.num_services, 0x55) << size;
        EXPECT_EQ(list.data_length, 0x5555) << size;
        sim::clear_scripts();
    }
}

TEST_F(ServiceListTest, FailedReadsLeaveTheHeaderFields) {
    sim::script_reply(0x80, reply(0xC0, 0xC0, {6, 0}));
    Si468x_ServiceList list{};
    list.num_services = 4;
    EXPECT_EQ(Si468x_get_digital_service_list(&list), -2);
    EXPECT_EQ(Si468x_ErrorCode, 26);

    sim::script_reply(0x80, list_reply(6, 1, 0, {}));
    sim::script_reply(0x80, reply(0x80, 0xC4, {6, 0}));
    EXPECT_EQ(Si468x_get_digital_service_list(&list), -1);
    EXPECT_EQ(Si468x_ErrorCode, 226);
    EXPECT_EQ(list.num_services, 4);
}

TEST(DecodeService, SecondServiceFollowsTheComponentsOfTheFirst) {
    Bytes records = service_record({1, 0, 0, 0}, 0, 0x03, 0, "First           ", Bytes(12, 0x00));
    const Bytes second =
        service_record({0x21, 0xC2, 0x00, 0x00}, 0, 0x00, 0, "Second          ", {});
    records.insert(records.end(), second.begin(), second.end());
    ASSERT_EQ(records[36], 0x21); // 24 header bytes and 3 x 4 component bytes
    const Si468x_ServiceList list = list_of(2, records);
    Si468x_Service service{};
    ASSERT_EQ(Si468x_get_digital_service(&list, 1, &service), 0);
    EXPECT_EQ(service.service_id, 0x0000C221u);
    EXPECT_EQ(std::string(service.label, 16), "Second          ");
}

TEST(DecodeService, AudioServiceReferenceAndCountryLeaveEcc) {
    const Si468x_ServiceList list =
        list_of(1, service_record({0x21, 0xC2, 0x00, 0x00}, 0x00, 0, 0, "A               ", {}));
    Si468x_Service service{};
    service.ecc = 0x77;
    ASSERT_EQ(Si468x_get_digital_service(&list, 0, &service), 0);
    EXPECT_EQ(service.pd_flag, 0);
    EXPECT_EQ(service.service_ref, 0x221u);
    EXPECT_EQ(service.country_id, 0xC);
    EXPECT_EQ(service.ecc, 0x77);
}

TEST(DecodeService, DataServiceReferenceCountryAndEcc) {
    const Si468x_ServiceList list =
        list_of(1, service_record({0x21, 0xC2, 0xE5, 0xE1}, 0x01, 0, 0, "D               ", {}));
    Si468x_Service service{};
    ASSERT_EQ(Si468x_get_digital_service(&list, 0, &service), 0);
    EXPECT_EQ(service.pd_flag, 1);
    EXPECT_EQ(service.service_id, 0xE1E5C221u);
    EXPECT_EQ(service.service_ref, 0x5C221u);
    EXPECT_EQ(service.country_id, 0xE);
    EXPECT_EQ(service.ecc, 0xE1);
}

TEST(DecodeService, HeaderBitFields) {
    struct Case {
        uint8_t info1, info2, info3;
        uint8_t pty, linking, components, ca_id, local, charset;
    };
    const Case cases[] = {
        {0xBE, 0x00, 0xF0, 0x1F, 0, 0, 0, 0, 0}, // PTY alone; bit 7 of byte 4 unused
        {0x40, 0x70, 0x0F, 0, 1, 0, 7, 0, 15},   // linking, CA id, charset
        {0x00, 0x8F, 0x00, 0, 0, 15, 0, 1, 0},   // components, local
        {0x0A, 0x25, 0x01, 5, 0, 5, 2, 0, 1},
    };
    for (const Case &c : cases) {
        const Bytes components(4 * c.components, 0x00);
        const Si468x_ServiceList list =
            list_of(1, service_record({1, 2, 3, 4}, c.info1, c.info2, c.info3, "0123456789ABCDEF",
                                      components));
        Si468x_Service service{};
        ASSERT_EQ(Si468x_get_digital_service(&list, 0, &service), 0);
        EXPECT_EQ(service.pty, c.pty) << std::hex << +c.info1;
        EXPECT_EQ(service.linking_info, c.linking) << std::hex << +c.info1;
        EXPECT_EQ(service.num_components, c.components) << std::hex << +c.info2;
        EXPECT_EQ(service.ca_id, c.ca_id) << std::hex << +c.info2;
        EXPECT_EQ(service.local, c.local) << std::hex << +c.info2;
        EXPECT_EQ(service.si_charset, c.charset) << std::hex << +c.info3;
        EXPECT_EQ(std::string(service.label, 16), "0123456789ABCDEF");
    }
}

TEST(DecodeService, ComponentBytesAreCopiedAsTheyStand) {
    const Bytes components{0x05, 0xC3, 0x00, 0x00, 0x05, 0x00, 0x15, 0x01};
    const Si468x_ServiceList list =
        list_of(1, service_record({1, 0, 0, 0}, 0, 0x02, 0, "X               ", components));
    Si468x_Service service;
    std::memset(&service, 0xAA, sizeof service);
    ASSERT_EQ(Si468x_get_digital_service(&list, 0, &service), 0);
    EXPECT_EQ(Bytes(service.component_data, service.component_data + 8), components);
    EXPECT_EQ(service.component_data[8], 0xAA);
}

struct WalkCase {
    const char *what;
    uint8_t services;
    uint16_t data_length;
    uint8_t index;
    int32_t location;
};

TEST(DecodeService, RecordsRunningPastTheDataLengthFail) {
    // Record 0: 24 header bytes and 2 components claimed (8 bytes);
    // record 1 behind it complete.
    Bytes records = service_record({1, 0, 0, 0}, 0, 0x02, 0, "R0              ", Bytes(8, 0));
    const Bytes second = service_record({2, 0, 0, 0}, 0, 0x00, 0, "R1              ", {});
    records.insert(records.end(), second.begin(), second.end());
    const WalkCase cases[] = {
        {"wanted components cut", 1, 28, 0, 427}, {"skipped components cut", 2, 28, 1, 227},
        {"wanted header cut", 2, 55, 1, 327},     {"skipped header cut", 3, 20, 2, 127},
        {"index beyond the count", 2, 56, 2, 27},
    };
    for (const WalkCase &c : cases) {
        Si468x_ServiceList list = list_of(c.services, records);
        list.data_length = c.data_length;
        Si468x_Service service{};
        const int16_t expected = c.location == 27 ? -6 : -4;
        EXPECT_EQ(Si468x_get_digital_service(&list, c.index, &service), expected) << c.what;
        EXPECT_EQ(Si468x_ErrorCode, c.location) << c.what;
    }
    // Exactly enough bytes decodes.
    Si468x_ServiceList list = list_of(2, records);
    ASSERT_EQ(list.data_length, 56);
    Si468x_Service service{};
    EXPECT_EQ(Si468x_get_digital_service(&list, 1, &service), 0);
    EXPECT_EQ(service.service_id, 2u);
}

TEST(DecodeService, WantedRecordCutInItsComponentsKeepsTheHeaderFields) {
    const Si468x_ServiceList list =
        list_of(1, service_record({9, 0, 0, 0}, 0, 0x03, 0, "Cut             ", Bytes(8, 0)));
    Si468x_Service service{};
    EXPECT_EQ(Si468x_get_digital_service(&list, 0, &service), -4);
    EXPECT_EQ(Si468x_ErrorCode, 427);
    EXPECT_EQ(service.service_id, 9u);
    EXPECT_EQ(service.num_components, 3);
}

TEST(DecodeService, ClaimedLengthBeyondTheRecordIsNeverRead) {
    // A list rebuilt from a file may claim any data length: the walk still
    // ends at the record's 2048 bytes.
    Si468x_ServiceList list{};
    list.num_services = 255;
    list.data_length = 0xFFFF;
    std::memset(list.service_data, 0x0F, sizeof list.service_data);
    Si468x_Service service{};
    // 84-byte records: 24 fit; the 25th has its header but not its
    // components inside the 2048 bytes.
    EXPECT_EQ(Si468x_get_digital_service(&list, 23, &service), 0);
    EXPECT_EQ(Si468x_get_digital_service(&list, 24, &service), -4);
    EXPECT_EQ(Si468x_ErrorCode, 427);
    EXPECT_EQ(Si468x_get_digital_service(&list, 254, &service), -4);
    EXPECT_EQ(Si468x_ErrorCode, 227);
}

Si468x_Service service_with_components(const Bytes &components) {
    Si468x_Service service{};
    service.num_components = static_cast<uint8_t>(components.size() / 4);
    std::copy(components.begin(), components.end(), service.component_data);
    return service;
}

Si468x_Component untouched_component() {
    Si468x_Component component;
    std::memset(&component, 0xAA, sizeof component);
    return component;
}

TEST(DecodeComponent, PacketDataComponentWritesOnlyItsFields) {
    const Si468x_Service service = service_with_components({0x05, 0xC3, 0x00, 0x00});
    Si468x_Component component = untouched_component();
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 0, &component), 0);
    EXPECT_EQ(component.comp_id, 0xC305u);
    EXPECT_EQ(component.tmid, 3);
    EXPECT_EQ(component.sc_id, 0x305);
    EXPECT_EQ(component.dg_flag, 0);
    EXPECT_EQ(component.subch_id, 0xAA);
    EXPECT_EQ(component.fidc_id, 0xAA);
}

TEST(DecodeComponent, StreamAudioComponentWritesOnlyItsFields) {
    const Si468x_Service service = service_with_components({0x05, 0x00, 0x15, 0x01});
    Si468x_Component component = untouched_component();
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 0, &component), 0);
    EXPECT_EQ(component.tmid, 0);
    EXPECT_EQ(component.subch_id, 5);
    EXPECT_EQ(component.ca_flag, 1);
    EXPECT_EQ(component.ps, 0);
    EXPECT_EQ(component.ascty_dscty, 5);
    EXPECT_EQ(component.mua_info_valid, 1);
    EXPECT_EQ(component.fidc_id, 0xAA);
    EXPECT_EQ(component.sc_id, 0xAAAA);
    EXPECT_EQ(component.dg_flag, 0xAA);
}

TEST(DecodeComponent, StreamDataAndFidcAndTheCommonBits) {
    // Index 1: TMID 1, stream data; index 2: TMID 2, FIDC; index 3: TMID 3
    // with the DG flag and all of byte 2 set.
    const Si468x_Service service = service_with_components(
        {0, 0, 0, 0, 0x7F, 0x40, 0x02, 0xFE, 0x2A, 0x80, 0xFC, 0x00, 0xFF, 0xDF, 0xFF, 0xFF});
    Si468x_Component component = untouched_component();
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 1, &component), 0);
    EXPECT_EQ(component.tmid, 1);
    EXPECT_EQ(component.subch_id, 0x3F);
    EXPECT_EQ(component.ps, 1);
    EXPECT_EQ(component.ca_flag, 0);
    EXPECT_EQ(component.mua_info_valid, 0);
    EXPECT_EQ(component.fidc_id, 0xAA);

    component = untouched_component();
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 2, &component), 0);
    EXPECT_EQ(component.tmid, 2);
    EXPECT_EQ(component.fidc_id, 0x2A);
    EXPECT_EQ(component.ascty_dscty, 0x3F);
    EXPECT_EQ(component.subch_id, 0xAA);
    EXPECT_EQ(component.sc_id, 0xAAAA);

    component = untouched_component();
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 3, &component), 0);
    EXPECT_EQ(component.comp_id, 0xDFFFu);
    EXPECT_EQ(component.sc_id, 0xFFF);
    EXPECT_EQ(component.dg_flag, 1);
    EXPECT_EQ(component.ca_flag, 1);
    EXPECT_EQ(component.ps, 1);
    EXPECT_EQ(component.mua_info_valid, 1);
}

TEST(DecodeComponent, IndexBeyondTheComponentsFailsAt28) {
    const Si468x_Service service = service_with_components({1, 0, 0, 0, 2, 0, 0, 0});
    Si468x_Component component = untouched_component();
    EXPECT_EQ(Si468x_get_digital_service_component(&service, 2, &component), -6);
    EXPECT_EQ(Si468x_ErrorCode, 28);
    EXPECT_EQ(component.tmid, 0xAA);

    // A caller's record claiming more than 15 still never reads beyond them.
    Si468x_Service garbage{};
    garbage.num_components = 200;
    EXPECT_EQ(Si468x_get_digital_service_component(&garbage, 14, &component), 0);
    EXPECT_EQ(Si468x_get_digital_service_component(&garbage, 15, &component), -6);
    EXPECT_EQ(Si468x_ErrorCode, 28);
}

// The encoders are checked against records spelt out byte by byte, so that
// a layout error shared with the decoder still shows.
Si468x_Service service_fields(uint32_t id, uint8_t pd, uint8_t pty, uint8_t linking,
                              uint8_t components, uint8_t ca_id, uint8_t local, uint8_t charset,
                              const char *label) {
    Si468x_Service service{};
    service.service_id = id;
    service.pd_flag = pd;
    service.pty = pty;
    service.linking_info = linking;
    service.num_components = components;
    service.ca_id = ca_id;
    service.local = local;
    service.si_charset = charset;
    std::memcpy(service.label, label, sizeof service.label);
    return service;
}

TEST(EncodeService, RecordsAreAppendedInTheRawLayout) {
    Si468x_Service audio = service_fields(0x0000C221, 0, 10, 1, 2, 5, 1, 15, "Tunelark One    ");
    Si468x_Component first{};
    first.comp_id = 0x0005;
    first.ca_flag = 1;
    first.ascty_dscty = 5;
    first.mua_info_valid = 1;
    Si468x_Component second{};
    second.comp_id = 0xC305;
    second.ps = 1;
    second.ascty_dscty = 63;
    ASSERT_EQ(Si468x_encode_digital_service_component(&first, 0, &audio), 0);
    ASSERT_EQ(Si468x_encode_digital_service_component(&second, 1, &audio), 0);
    const Si468x_Service data =
        service_fields(0xE1E5C221, 1, 31, 0, 0, 7, 0, 0, "Lark Data Svc 16");

    Si468x_ServiceList list{};
    list.list_version = 7;
    list.freq_index = 3;
    ASSERT_EQ(Si468x_encode_digital_service(&audio, &list), 0);
    ASSERT_EQ(Si468x_encode_digital_service(&data, &list), 0);

    Bytes expected = service_record({0x21, 0xC2, 0x00, 0x00}, 0x54, 0xD2, 0x0F, "Tunelark One    ",
                                    {0x05, 0x00, 0x15, 0x01, 0x05, 0xC3, 0xFE, 0x00});
    const Bytes second_record =
        service_record({0x21, 0xC2, 0xE5, 0xE1}, 0x3F, 0x70, 0x00, "Lark Data Svc 16", {});
    expected.insert(expected.end(), second_record.begin(), second_record.end());
    EXPECT_EQ(list.num_services, 2);
    EXPECT_EQ(list.data_length, expected.size());
    EXPECT_EQ(Bytes(list.service_data, list.service_data + expected.size()), expected);
    EXPECT_EQ(list.list_version, 7);
    EXPECT_EQ(list.freq_index, 3);

    // And the decoder gives the second service back at offset 32.
    Si468x_Service decoded{};
    ASSERT_EQ(Si468x_get_digital_service(&list, 1, &decoded), 0);
    EXPECT_EQ(decoded.service_ref, 0x5C221u);
    EXPECT_EQ(decoded.ecc, 0xE1);
}

TEST(EncodeService, UnusedByteSevenAndTheRestOfTheListAreNotWritten) {
    Si468x_ServiceList list;
    std::memset(&list, 0xAA, sizeof list);
    list.num_services = 0;
    list.data_length = 0;
    Si468x_Service service = service_fields(1, 0, 0, 0, 1, 0, 0, 0, "ABCDEFGHIJKLMNOP");
    ASSERT_EQ(Si468x_encode_digital_service(&service, &list), 0);
    EXPECT_EQ(list.service_data[7], 0xAA);
    EXPECT_EQ(list.service_data[6], 0x00);
    EXPECT_EQ(list.service_data[28], 0xAA);
    EXPECT_EQ(list.data_length, 28);
}

// Values wider than their bits are OR-ed in as they stand: a station list
// file holding such a value is stored as it always has been.
TEST(EncodeService, WideValuesRunIntoTheNeighbouringBits) {
    Si468x_ServiceList list{};
    Si468x_Service service = service_fields(1, 3, 0x20, 0, 0, 8, 0, 0xF1, "X               ");
    ASSERT_EQ(Si468x_encode_digital_service(&service, &list), 0);
    EXPECT_EQ(list.service_data[4], 0x43); // PD 3 sets PTY bit 0, PTY 32 sets linking
    EXPECT_EQ(list.service_data[5], 0x80); // CA id 8 sets local
    EXPECT_EQ(list.service_data[6], 0xF1); // the whole byte; the decoder keeps 4 bits

    Si468x_Component component{};
    component.comp_id = 0x12345;
    component.ps = 2;
    component.ascty_dscty = 0x41;
    ASSERT_EQ(Si468x_encode_digital_service_component(&component, 0, &service), 0);
    EXPECT_EQ(Bytes(service.component_data, service.component_data + 4),
              (Bytes{0x45, 0x23, 0x04, 0x00}));
}

TEST(EncodeService, TooManyComponentsOrNoRoomLeaveTheListUntouched) {
    Si468x_ServiceList list{};
    Si468x_Service fifteen = service_fields(1, 0, 0, 0, 15, 0, 0, 0, "Fifteen         ");
    // 24 + 60 bytes each: 24 fit in 2048, the 25th does not (2100).
    for (int i = 0; i < 24; ++i) {
        ASSERT_EQ(Si468x_encode_digital_service(&fifteen, &list), 0) << i;
    }
    ASSERT_EQ(list.data_length, 2016);
    Si468x_ServiceList before = list;
    Si468x_ErrorCode = 0;
    EXPECT_EQ(Si468x_encode_digital_service(&fifteen, &list), -4);
    EXPECT_EQ(Si468x_ErrorCode, 136);
    // 32 bytes are left: a service with two components fits exactly.
    Si468x_Service two = service_fields(2, 0, 0, 0, 2, 0, 0, 0, "Two             ");
    Si468x_Service three = two;
    three.num_components = 3;
    EXPECT_EQ(Si468x_encode_digital_service(&three, &list), -4);
    EXPECT_EQ(std::memcmp(&before, &list, sizeof list), 0);
    EXPECT_EQ(Si468x_encode_digital_service(&two, &list), 0);
    EXPECT_EQ(list.data_length, SI468X_SERVICE_DATA_SIZE);
    EXPECT_EQ(list.num_services, 25);

    Si468x_ServiceList empty{};
    Si468x_Service sixteen = service_fields(1, 0, 0, 0, 16, 0, 0, 0, "Sixteen         ");
    Si468x_ErrorCode = 0;
    EXPECT_EQ(Si468x_encode_digital_service(&sixteen, &empty), -6);
    EXPECT_EQ(Si468x_ErrorCode, 36);
    EXPECT_EQ(empty.data_length, 0);
    EXPECT_EQ(empty.num_services, 0);

    // The count byte cannot go past 255 services.
    Si468x_ServiceList counted{};
    counted.num_services = 255;
    Si468x_ErrorCode = 0;
    EXPECT_EQ(Si468x_encode_digital_service(&two, &counted), -4);
    EXPECT_EQ(Si468x_ErrorCode, 236);
    EXPECT_EQ(counted.data_length, 0);
}

TEST(EncodeComponent, IndexBeyondFifteenFailsAt37) {
    Si468x_Service service{};
    Si468x_Component component{};
    component.comp_id = 0xFFFF;
    EXPECT_EQ(Si468x_encode_digital_service_component(&component, 14, &service), 0);
    EXPECT_EQ(service.component_data[56], 0xFF);
    Si468x_Service before = service;
    Si468x_ErrorCode = 0;
    EXPECT_EQ(Si468x_encode_digital_service_component(&component, 15, &service), -6);
    EXPECT_EQ(Si468x_ErrorCode, 37);
    EXPECT_EQ(std::memcmp(&before, &service, sizeof service), 0);
}

TEST(PrintServiceList, AudioAndDataServicesByteForByte) {
    Bytes records = service_record({0x21, 0xC2, 0x00, 0x00}, 0x0A, 0x01, 0x01, "Radio One       ",
                                   {0x05, 0x00, 0x15, 0x01});
    const Bytes data =
        service_record({0x21, 0xC2, 0xE5, 0xE1}, 0x41, 0x00, 0x00, "Traffic         ", {});
    records.insert(records.end(), data.begin(), data.end());
    const Bytes packet = service_record({3, 0, 0, 0}, 0x00, 0x02, 0x00, "Packet          ",
                                        {0x05, 0xD3, 0x00, 0x00, 0x2A, 0x80, 0x00, 0x00});
    records.insert(records.end(), packet.begin(), packet.end());
    Si468x_ServiceList list = list_of(3, records);
    list.list_version = 7;

    const std::string expected = "Digital Service List ----------------- \n"
                                 "Service list version:                       7\n"
                                 "Number services:                            3\n"
                                 "Service No. 0:\n"
                                 "Service data/audio?                         0 \n"
                                 "Serv. ref.:                                 545 \n"
                                 "Country ID:                                 12 \n"
                                 "Program type:                               5 \n"
                                 "Linking info:                               0 \n"
                                 "Number components:                          1 \n"
                                 "CAId:                                       0 \n"
                                 "local:                                      0 \n"
                                 "SICharset:                                  1 \n"
                                 "Label:                                      Radio One       "
                                 "\nComponent No: 0\n"
                                 "TMID:                                       0 \n"
                                 "SubChId:                                    5\n"
                                 "CA_flag:                                    1 \n"
                                 "ps:                                         0 \n"
                                 "ASCTyDSCTy:                                 5 \n"
                                 "muA_info_valid:                             1 \n"
                                 "Service No. 1:\n"
                                 "Service data/audio?                         1 \n"
                                 "Serv. ref.:                                 377377 \n"
                                 "Country ID:                                 14 \n"
                                 "ECC:                                        225 \n"
                                 "Program type:                               0 \n"
                                 "Linking info:                               1 \n"
                                 "Number components:                          0 \n"
                                 "CAId:                                       0 \n"
                                 "local:                                      0 \n"
                                 "SICharset:                                  0 \n"
                                 "Label:                                      Traffic         "
                                 "Service No. 2:\n"
                                 "Service data/audio?                         0 \n"
                                 "Serv. ref.:                                 3 \n"
                                 "Country ID:                                 0 \n"
                                 "Program type:                               0 \n"
                                 "Linking info:                               0 \n"
                                 "Number components:                          2 \n"
                                 "CAId:                                       0 \n"
                                 "local:                                      0 \n"
                                 "SICharset:                                  0 \n"
                                 "Label:                                      Packet          "
                                 "\nComponent No: 0\n"
                                 "TMID:                                       3 \n"
                                 "SCId:                                       773\n"
                                 "DGFlag:                                     1\n"
                                 "CA_flag:                                    0 \n"
                                 "ps:                                         0 \n"
                                 "ASCTyDSCTy:                                 0 \n"
                                 "muA_info_valid:                             0 \n"
                                 "\nComponent No: 1\n"
                                 "TMID:                                       2 \n"
                                 "FIDCId:                                     42\n"
                                 "CA_flag:                                    0 \n"
                                 "ps:                                         0 \n"
                                 "ASCTyDSCTy:                                 0 \n"
                                 "muA_info_valid:                             0 \n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_digital_service_list(&list); }), expected);
}

} // namespace
} // namespace driver_test
