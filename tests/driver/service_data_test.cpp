// SPDX-License-Identifier: GPL-3.0-or-later
// Starting and stopping a service, fetching data-service packets with their
// text message, and the packet printout.
#include <cstring>
#include <memory>

#include "DriverTest.h"

namespace driver_test {
namespace {

// Status-only reply of GET_DIGITAL_SERVICE_DATA: interrupts at 5, count at 6.
Bytes status_only(uint8_t interrupts, uint8_t buffer_count) {
    return ok_reply({interrupts, buffer_count});
}

struct Packet {
    uint8_t interrupts = 0x01;
    uint8_t buffer_count = 1;
    uint8_t srv_state = 3;
    uint8_t source = 0xBC; // data source 2, DSCTy 60
    uint32_t service_id = 0xE1E5C221;
    uint32_t comp_id = 0x00020001;
    uint16_t byte_count = 0;
    uint16_t segment = 1;
    uint16_t segments = 4;
    Bytes payload;
    uint8_t status0 = 0x80;
};

// Full reply: header positions 5 to 24, payload from 25.
Bytes full_reply(const Packet &p) {
    Bytes resp(20, 0x00);
    resp[0] = p.interrupts;
    resp[1] = p.buffer_count;
    resp[2] = p.srv_state;
    resp[3] = p.source;
    put_u32(resp, 4, p.service_id);
    put_u32(resp, 8, p.comp_id);
    resp[12] = 0xEE;
    resp[13] = 0xEE;
    put_u16(resp, 14, p.byte_count);
    put_u16(resp, 16, p.segment);
    put_u16(resp, 18, p.segments);
    resp.insert(resp.end(), p.payload.begin(), p.payload.end());
    return reply(p.status0, 0xC0, resp);
}

Packet text_packet(const std::string &text, uint8_t first = 0x80) {
    Packet p;
    p.payload.push_back(first);
    p.payload.push_back(0x00);
    for (char c : text) {
        p.payload.push_back(static_cast<uint8_t>(c));
    }
    p.payload.push_back('#'); // the last byte is not part of the text
    p.byte_count = static_cast<uint16_t>(p.payload.size());
    return p;
}

void script_packet(const Packet &p) {
    sim::script_reply(0x84, status_only(p.interrupts, p.buffer_count));
    sim::script_reply(0x84, full_reply(p));
}

class ServiceDataTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        data_ = std::make_unique<Si468x_ServiceData>();
        std::memset(data_.get(), 0, sizeof *data_);
    }

    // A record that still holds an earlier packet.
    void hold_earlier_packet() {
        data_->srv_state = 9;
        data_->data_src = 1;
        data_->dscty = 5;
        data_->service_id = 77;
        data_->comp_id = 88;
        data_->byte_count = 12;
        data_->segment_number = 2;
        data_->number_segments = 3;
        data_->payload[0] = 0x80;
        std::strcpy(data_->text, "Earlier text");
    }

    std::unique_ptr<Si468x_ServiceData> data_;
};

TEST_F(ServiceDataTest, StartAndStopFramesCarryTypeAndIdentifiers) {
    sim::script_reply(0x81, ok_reply());
    sim::script_reply(0x82, ok_reply());
    EXPECT_EQ(Si468x_start_digital_service(0, 0x0000C221, 0x00020001), 0);
    EXPECT_EQ(Si468x_stop_digital_service(1, 0xE1E5C221, 0x01020304), 0);
    EXPECT_EQ(commands(),
              (std::vector<Bytes>{
                  {0x81, 0x00, 0x00, 0x00, 0x21, 0xC2, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00},
                  {0x82, 0x01, 0x00, 0x00, 0x21, 0xC2, 0xE5, 0xE1, 0x04, 0x03, 0x02, 0x01}}));
}

// The whole road of a station through the driver, against the receiver
// model: tune, wait for the ensemble and its list, decode the first audio
// service, start it, fetch packets until its text arrives, stop it.
TEST_F(ServiceDataTest, TunedServiceDeliversItsTextThroughTheDriver) {
    ASSERT_EQ(Si468x_DAB_tune_freq(0), 0);
    Si468x_DigradStatus digrad{};
    for (int i = 0; i < 50 && digrad.ensemble_acquired == 0; ++i) {
        ASSERT_EQ(Si468x_DAB_digrad_status(&digrad), 0);
        bcm2835_delay(100);
    }
    ASSERT_EQ(digrad.ensemble_acquired, 1);
    Si468x_EventStatus events{};
    for (int i = 0; i < 50 && events.service_list_available == 0; ++i) {
        ASSERT_EQ(Si468x_DAB_get_event_status(&events), 0);
        bcm2835_delay(100);
    }
    ASSERT_EQ(events.service_list_available, 1);

    auto list = std::make_unique<Si468x_ServiceList>();
    std::memset(list.get(), 0, sizeof *list);
    ASSERT_EQ(Si468x_get_digital_service_list(list.get()), 0);
    ASSERT_GT(list->num_services, 0);
    Si468x_Service service{};
    bool found = false;
    for (uint8_t i = 0; i < list->num_services && !found; ++i) {
        ASSERT_EQ(Si468x_get_digital_service(list.get(), i, &service), 0) << +i;
        found = service.pd_flag == 0 && service.num_components > 0;
    }
    ASSERT_TRUE(found);
    Si468x_Component component{};
    ASSERT_EQ(Si468x_get_digital_service_component(&service, 0, &component), 0);

    ASSERT_EQ(Si468x_start_digital_service(0, service.service_id, component.comp_id), 0);
    uint32_t started_service = 0;
    uint32_t started_component = 0;
    ASSERT_TRUE(sim::service_started(&started_service, &started_component));
    EXPECT_EQ(started_service, service.service_id);
    EXPECT_EQ(started_component, component.comp_id);

    bool text = false;
    for (int i = 0; i < 200 && !text; ++i) {
        uint8_t ready = 0;
        ASSERT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
        text = ready == 1 && data_->byte_count > 3 && data_->text[0] != '\0';
        bcm2835_delay(100);
    }
    EXPECT_TRUE(text);
    EXPECT_EQ(data_->service_id, service.service_id);

    EXPECT_EQ(Si468x_stop_digital_service(0, service.service_id, component.comp_id), 0);
    EXPECT_FALSE(sim::service_started(&started_service, &started_component));
}

TEST_F(ServiceDataTest, RejectedStartAndStopReport32And33) {
    sim::script_reply(0x81, reply(0xC0, 0xC0));
    EXPECT_EQ(Si468x_start_digital_service(0, 1, 2), -2);
    EXPECT_EQ(Si468x_ErrorCode, 32);
    sim::script_reply(0x82, reply(0x80, 0xC2));
    EXPECT_EQ(Si468x_stop_digital_service(0, 1, 2), -1);
    EXPECT_EQ(Si468x_ErrorCode, 33);
}

TEST_F(ServiceDataTest, NothingWaitingCostsTheStatusOnlyQuery) {
    hold_earlier_packet();
    sim::script_reply(0x84, status_only(0x00, 0));
    uint8_t ready = 7;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x84, 0x10}}));
    EXPECT_EQ(read_sizes().back(), 7u);
    EXPECT_EQ(call_count("bcm2835_delay(10)"), 0u);
    // The header fields are cleared, the earlier packet's body stays.
    EXPECT_EQ(data_->srv_state, 0);
    EXPECT_EQ(data_->data_src, 0);
    EXPECT_EQ(data_->dscty, 0);
    EXPECT_EQ(data_->service_id, 0u);
    EXPECT_EQ(data_->comp_id, 0u);
    EXPECT_EQ(data_->byte_count, 12);
    EXPECT_EQ(data_->segment_number, 2);
    EXPECT_EQ(data_->number_segments, 3);
    EXPECT_STREQ(data_->text, "Earlier text");
}

TEST_F(ServiceDataTest, OverflowWithPacketsWaitingFailsAt134WithoutReading) {
    sim::script_reply(0x84, status_only(0x03, 4));
    uint8_t ready = 7;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), -2);
    EXPECT_EQ(Si468x_ErrorCode, 134);
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(data_->overflow_int, 1);
    EXPECT_EQ(data_->buffer_count, 4);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(ServiceDataTest, PacketsWaitingButNotReadyFailAt234) {
    sim::script_reply(0x84, status_only(0x00, 2));
    uint8_t ready = 7;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), -3);
    EXPECT_EQ(Si468x_ErrorCode, 234);
    EXPECT_EQ(commands().size(), 1u);
}

TEST_F(ServiceDataTest, FailedStatusOnlyQueryFailsAt34) {
    sim::script_reply(0x84, reply(0xC0, 0xC0, {0x01, 1}));
    uint8_t ready = 7;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), -2);
    EXPECT_EQ(Si468x_ErrorCode, 34);
    EXPECT_EQ(ready, 0);
}

TEST_F(ServiceDataTest, TextMessagePacketIsReadWholeAndItsTextTaken) {
    script_packet(text_packet("ABC"));
    uint8_t ready = 0;
    ASSERT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
    EXPECT_EQ(ready, 1);
    EXPECT_STREQ(data_->text, "ABC");
    EXPECT_EQ(data_->byte_count, 6);
    EXPECT_EQ(Bytes(data_->payload, data_->payload + 6), (Bytes{0x80, 0x00, 'A', 'B', 'C', '#'}));
    EXPECT_EQ(data_->package_int, 1);
    EXPECT_EQ(data_->srv_state, 3);
    EXPECT_EQ(data_->data_src, 2);
    EXPECT_EQ(data_->dscty, 60);
    EXPECT_EQ(data_->service_id, 0xE1E5C221u);
    EXPECT_EQ(data_->comp_id, 0x00020001u);
    EXPECT_EQ(data_->segment_number, 1);
    EXPECT_EQ(data_->number_segments, 4);
    // Status-only query, then the full query written without a CTS wait and
    // read whole after a 10 ms wait.
    EXPECT_EQ(commands(), (std::vector<Bytes>{{0x84, 0x10}, {0x84, 0x00}}));
    const auto &frames = sim::frames();
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[frames.size() - 2].out, (Bytes{0x84, 0x00}));
    EXPECT_EQ(frames.back().out.size(), 4121u);
    EXPECT_EQ(call_count("bcm2835_delay(10)"), 1u);
}

TEST_F(ServiceDataTest, TextRuleForBothToggleValuesAndShortPackets) {
    const struct {
        Packet packet;
        const char *text;
    } cases[] = {
        {text_packet("Hello", 0x00), "Hello"},
        {text_packet("", 0x00), ""}, // byte_count 3: empty text
        {text_packet("X", 0x80), "X"},
    };
    for (const auto &c : cases) {
        std::strcpy(data_->text, "Earlier text");
        script_packet(c.packet);
        uint8_t ready = 0;
        ASSERT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
        EXPECT_EQ(ready, 1);
        EXPECT_STREQ(data_->text, c.text);
    }
}

TEST_F(ServiceDataTest, OtherPacketsKeepTheEarlierText) {
    Packet dls = text_packet("ABC", 0x40);
    Packet second = text_packet("ABC", 0x80);
    second.payload[1] = 0x01;
    for (const Packet &p : {dls, second}) {
        std::strcpy(data_->text, "Earlier text");
        script_packet(p);
        uint8_t ready = 0;
        ASSERT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
        EXPECT_EQ(ready, 1);
        EXPECT_STREQ(data_->text, "Earlier text");
        EXPECT_EQ(data_->byte_count, 6);
    }
}

TEST_F(ServiceDataTest, LongestPayloadIsTakenAndOneMoreIsRefusedAt634) {
    Packet p;
    p.byte_count = 4096;
    p.payload.assign(4096, 'x');
    p.payload[0] = 0x00;
    p.payload[1] = 0x00;
    p.payload[4095] = 'z';
    script_packet(p);
    uint8_t ready = 0;
    ASSERT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
    EXPECT_EQ(data_->payload[4095], 'z');
    EXPECT_EQ(std::strlen(data_->text), 4093u);
    EXPECT_EQ(data_->text[4092], 'x');

    std::memset(data_->payload, 0x11, sizeof data_->payload);
    p.byte_count = 4097;
    p.segment = 9;
    script_packet(p);
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), -4);
    EXPECT_EQ(Si468x_ErrorCode, 634);
    EXPECT_EQ(ready, 0);
    EXPECT_EQ(data_->byte_count, 4097);
    EXPECT_EQ(data_->segment_number, 1);
    EXPECT_EQ(data_->payload[0], 0x11);
}

TEST_F(ServiceDataTest, FullReplyWithoutPacketReadyFailsAt534) {
    Packet p = text_packet("ABC");
    sim::script_reply(0x84, status_only(0x01, 1));
    p.interrupts = 0x00;
    sim::script_reply(0x84, full_reply(p));
    std::strcpy(data_->text, "Earlier text");
    uint8_t ready = 0;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), -6);
    EXPECT_EQ(Si468x_ErrorCode, 534);
    EXPECT_EQ(data_->srv_state, 0);
    EXPECT_STREQ(data_->text, "Earlier text");
}

TEST_F(ServiceDataTest, FullReplyWithoutCtsFailsAt434AfterTenReads) {
    Packet p = text_packet("ABC");
    p.status0 = 0x00;
    script_packet(p);
    uint8_t ready = 0;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), -3);
    EXPECT_EQ(Si468x_ErrorCode, 434);
    EXPECT_EQ(call_count("bcm2835_delay(10)"), 10u);
    std::size_t full_reads = 0;
    for (std::size_t size : read_sizes()) {
        full_reads += size == 4121 ? 1 : 0;
    }
    EXPECT_EQ(full_reads, 10u);
}

TEST_F(ServiceDataTest, StatusBitsOfTheFullReplyAreNotExamined) {
    Packet p = text_packet("OK");
    p.status0 = 0xC0; // CTS with ERR_CMD
    script_packet(p);
    uint8_t ready = 0;
    EXPECT_EQ(Si468x_get_digital_service_data(data_.get(), &ready), 0);
    EXPECT_EQ(ready, 1);
    EXPECT_STREQ(data_->text, "OK");
}

TEST(PrintServiceData, HeaderLinesAndPayloadCharactersOrHex) {
    auto data = std::make_unique<Si468x_ServiceData>();
    std::memset(data.get(), 0, sizeof *data);
    data->package_int = 1;
    data->buffer_count = 2;
    data->srv_state = 3;
    data->data_src = 2;
    data->dscty = 60;
    data->service_id = 3806708257u;
    data->comp_id = 131073;
    data->byte_count = 7;
    data->segment_number = 1;
    data->number_segments = 4;
    const uint8_t payload[] = {0x80, 0x00, 'A', 0x0A, ' ', '~', 0x7F};
    std::memcpy(data->payload, payload, sizeof payload);
    const std::string expected = "Digital Service data package received  \n"
                                 "Overflow occured:                           0\n"
                                 "Data ready for transfer:                    1\n"
                                 "In buffer remaining data:                   2\n"
                                 "SRV state:                                  3\n"
                                 "Payload source:                             2\n"
                                 "DSCTy:                                      60\n"
                                 "Service ID:                                 3806708257\n"
                                 "Component ID:                               131073\n"
                                 "Byte count:                                 7\n"
                                 "Segment number:                             1\n"
                                 "Total number of segments of data object:    4\n"
                                 "Data:                                       "
                                 " 80  00 A 0a  ~ 7f \n";
    EXPECT_EQ(captured_stdout([&] { Si468x_print_digital_service_data(data.get()); }), expected);
}

TEST(PrintServiceData, RefusedLengthShowsOnlyThePayload) {
    auto data = std::make_unique<Si468x_ServiceData>();
    std::memset(data.get(), 0, sizeof *data);
    data->byte_count = 65535;
    std::memset(data->payload, 'p', sizeof data->payload);
    std::memset(data->text, 't', sizeof data->text);
    const std::string out = captured_stdout([&] { Si468x_print_digital_service_data(data.get()); });
    const std::string tail =
        "Data:                                       " + std::string(4096, 'p') + "\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

} // namespace
} // namespace driver_test
