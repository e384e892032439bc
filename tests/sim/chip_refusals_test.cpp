// SPDX-License-Identifier: GPL-3.0-or-later
// What the simulated chip refuses, as a real one does: a wrong command
// length, reserved argument bits, values outside a field's range, property
// values outside their range and frequency lists the chip cannot hold. Each
// refusal is ERR_CMD and leaves the model as it was; the boundary values on
// the accepted side are taken.
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "BusHost.h"
#include "SimBoard.h"
#include "dab_receiver_fixture.h"

using namespace dabtest;

namespace {

std::vector<uint8_t> freq_list(std::size_t count, uint32_t first = 174928, uint8_t count_byte = 0) {
    std::vector<uint8_t> command{0xB8, count_byte != 0 ? count_byte : static_cast<uint8_t>(count),
                                 0, 0};
    for (std::size_t i = 0; i < count; ++i) {
        append_le32(command, first + static_cast<uint32_t>(i) * 100);
    }
    return command;
}

std::vector<uint8_t> with_zero_khz() {
    std::vector<uint8_t> command = freq_list(3);
    command[4 + 4 * 1 + 0] = 0;
    command[4 + 4 * 1 + 1] = 0;
    command[4 + 4 * 1 + 2] = 0;
    command[4 + 4 * 1 + 3] = 0;
    return command;
}

struct Case {
    const char *what;
    std::vector<uint8_t> bytes;
};

std::ostream &operator<<(std::ostream &out, const Case &c) {
    return out << c.what;
}

// ---- the receiver's commands ------------------------------------------------------

const std::vector<Case> &refused() {
    static const std::vector<Case> cases = {
        // DAB_TUNE_FREQ: 6 bytes; INJECTION 0-2 in ARG1 bits 1:0; ARG3
        // reserved; ANTCAP 0-128; an index within the list.
        {"tune short", {0xB0, 0x00, 0x00, 0x00, 0x00}},
        {"tune long", {0xB0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"tune injection 3", {0xB0, 0x03, 0x00, 0x00, 0x00, 0x00}},
        {"tune reserved ARG1 bit", {0xB0, 0x04, 0x00, 0x00, 0x00, 0x00}},
        {"tune reserved ARG3", {0xB0, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {"tune antcap 129", {0xB0, 0x00, 0x00, 0x00, 0x81, 0x00}},
        {"tune antcap high byte", {0xB0, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {"tune index beyond the list", {0xB0, 0x00, 41, 0x00, 0x00, 0x00}},
        // DAB_DIGRAD_STATUS: 2 bytes; STC_ACK, ATTUNE, DIGRAD_ACK.
        {"digrad short", {0xB2}},
        {"digrad long", {0xB2, 0x00, 0x00}},
        {"digrad reserved bit 1", {0xB2, 0x02}},
        {"digrad reserved bits 7:4", {0xB2, 0x10}},
        // DAB_GET_EVENT_STATUS: 2 bytes; EVENT_ACK.
        {"event short", {0xB3}},
        {"event long", {0xB3, 0x01, 0x00}},
        {"event reserved bit", {0xB3, 0x02}},
        // DAB_GET_FREQ_LIST: 2 bytes; ARG1 reserved.
        {"freq list short", {0xB9}},
        {"freq list long", {0xB9, 0x00, 0x00}},
        {"freq list reserved", {0xB9, 0x01}},
        // DAB_GET_TIME: 2 bytes; TIME_TYPE in bit 0.
        {"time short", {0xBC}},
        {"time long", {0xBC, 0x01, 0x00}},
        {"time reserved bit", {0xBC, 0x03}},
        // DAB_GET_COMPONENT_INFO: 12 bytes; ARG1-3 reserved.
        {"component info short", {0xBB, 0x00, 0x00, 0x00, 0x10, 0xD2, 0, 0, 0x04, 0, 0}},
        {"component info long", {0xBB, 0x00, 0x00, 0x00, 0x10, 0xD2, 0, 0, 0x04, 0, 0, 0, 0}},
        {"component info reserved ARG1", {0xBB, 0x01, 0x00, 0x00, 0x10, 0xD2, 0, 0, 0x04, 0, 0, 0}},
        // GET_DIGITAL_SERVICE_DATA: 2 bytes; INTACK bit 0, STATUS_ONLY bit 4.
        {"service data short", {0x84}},
        {"service data long", {0x84, 0x10, 0x00}},
        {"service data reserved bit 1", {0x84, 0x02}},
        {"service data reserved bit 5", {0x84, 0x20}},
        // GET_DIGITAL_SERVICE_LIST: 2 bytes; ARG1 reserved.
        {"service list short", {0x80}},
        {"service list long", {0x80, 0x00, 0x00}},
        {"service list reserved", {0x80, 0x01}},
        // START/STOP_DIGITAL_SERVICE: 12 bytes; SERTYPE in ARG1 bit 0, ARG2-3 reserved.
        {"start short", {0x81, 0x00, 0x00, 0x00, 0x10, 0xD2, 0, 0, 0x04, 0, 0}},
        {"start reserved ARG2", {0x81, 0x00, 0x01, 0x00, 0x10, 0xD2, 0, 0, 0x04, 0, 0, 0}},
        {"stop reserved ARG1 bit", {0x82, 0x02, 0x00, 0x00, 0x10, 0xD2, 0, 0, 0x04, 0, 0, 0}},
        // DAB_SET_FREQ_LIST: 1 to 48 entries, none 0 kHz, exactly the count's length.
        {"set list 49 entries", freq_list(49)},
        {"set list 0 kHz entry", with_zero_khz()},
        {"set list count 0", {0xB8, 0x00, 0x00, 0x00}},
        {"set list header short", {0xB8, 0x01, 0x00}},
        {"set list short by an entry", freq_list(2, 174928, 3)},
        {"set list long by an entry", freq_list(3, 174928, 2)},
        {"set list reserved ARG2",
         [] {
             auto c = freq_list(2);
             c[2] = 1;
             return c;
         }()},
    };
    return cases;
}

class Refusal : public Receiver, public ::testing::WithParamInterface<Case> {
protected:
    // Everything a host can see of the model without changing it.
    struct Snapshot {
        int tuned_index = -1;
        bool started = false;
        uint32_t service = 0;
        uint32_t component = 0;
        std::vector<uint8_t> freq_list;
        std::vector<uint8_t> digrad;
        std::vector<uint8_t> events;
        uint8_t status0 = 0;
        bool operator==(const Snapshot &) const = default;
    };
    Snapshot snapshot() {
        Snapshot s;
        s.tuned_index = radio.tuned_index();
        s.started = radio.service_started(&s.service, &s.component);
        s.freq_list = send({0xB9, 0x00}).outcome.resp;
        s.digrad = send({0xB2, 0x00}).outcome.resp;
        s.events = send({0xB3, 0x00}).outcome.resp;
        s.status0 = radio.status0_bits();
        return s;
    }
    // A tuned chip playing a service, with a list of its own.
    void playing() {
        std::vector<uint8_t> list{0xB8, 2, 0, 0};
        append_le32(list, 174928);
        append_le32(list, 187072);
        ASSERT_FALSE(send(list).err());
        tune_and_settle(0);
        ASSERT_FALSE(send(frame12(0x81, 0, harbour, harbour_audio)).err());
        wait(radio.timing().first_text_ns + 1);
    }
};

TEST_P(Refusal, IsErrCmdAndChangesNothing) {
    const Case &c = GetParam();
    // The index 41 case is beyond the default list only; others refuse anyway.
    if (c.bytes[0] != 0xB0) {
        playing();
    } else {
        tune_and_settle(3);
    }
    const Snapshot before = snapshot();
    const Reply reply = send(c.bytes);
    EXPECT_TRUE(reply.err()) << c.what;
    EXPECT_TRUE(reply.outcome.resp.empty()) << c.what;
    EXPECT_TRUE(snapshot() == before) << c.what << ": the model changed";
}

INSTANTIATE_TEST_SUITE_P(ReceiverCommands, Refusal, ::testing::ValuesIn(refused()),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             std::string name;
                             for (const char *p = info.param.what; *p != '\0'; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

const std::vector<Case> &accepted() {
    static const std::vector<Case> cases = {
        {"tune injection 2, antcap 128, last index", {0xB0, 0x02, 40, 0x00, 0x80, 0x00}},
        {"digrad with every ack bit", {0xB2, 0x0D}},
        {"event ack", {0xB3, 0x01}},
        {"freq list", {0xB9, 0x00}},
        {"local time", {0xBC, 0x01}},
        {"utc time", {0xBC, 0x00}},
        {"service data status only with intack", {0x84, 0x11}},
        {"service list", {0x80, 0x00}},
        {"set list 48 entries", freq_list(48)},
        {"set list 1 entry", freq_list(1)},
    };
    return cases;
}

class Acceptance : public Receiver, public ::testing::WithParamInterface<Case> {};

TEST_P(Acceptance, IsTaken) {
    const Case &c = GetParam();
    tune_and_settle(0);
    EXPECT_FALSE(send(c.bytes).err()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(ReceiverCommands, Acceptance, ::testing::ValuesIn(accepted()),
                         [](const ::testing::TestParamInfo<Case> &info) {
                             std::string name;
                             for (const char *p = info.param.what; *p != '\0'; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });

TEST_F(Receiver, FortyEightFrequenciesAreTakenAndTunable) {
    ASSERT_FALSE(send(freq_list(48)).err());
    const auto list = send({0xB9, 0x00});
    EXPECT_EQ(list.at(5), 48);
    EXPECT_FALSE(tune(47).err());
    EXPECT_TRUE(send(freq_list(49)).err());
    EXPECT_EQ(send({0xB9, 0x00}).at(5), 48) << "the refused list leaves the 48";
}

// ---- properties, through the bus -------------------------------------------------

struct PropertyCase {
    uint16_t id;
    uint16_t value;
    bool taken;
};

std::ostream &operator<<(std::ostream &out, const PropertyCase &c) {
    return out << std::hex << "0x" << c.id << "=0x" << c.value;
}

class PropertyRange : public ::testing::TestWithParam<PropertyCase> {
protected:
    void SetUp() override {
        sim::reset_for_test();
        bus_host::open_bus();
        ASSERT_EQ(bus_host::status3(bus_host::bring_up()), 0xC0);
    }
};

TEST_P(PropertyRange, OutOfRangeIsErrCmdAndKeepsTheValue) {
    const PropertyCase &c = GetParam();
    const uint16_t before = bus_host::get_property(c.id);
    const bool refused = bus_host::err_cmd(bus_host::set_property(c.id, c.value));
    EXPECT_EQ(refused, !c.taken);
    EXPECT_EQ(bus_host::get_property(c.id), c.taken ? c.value : before);
    EXPECT_EQ(sim::property_writes().size(), c.taken ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PropertyRange,
    ::testing::Values(
        // AUDIO_ANALOG_VOLUME 0 to 63.
        PropertyCase{0x0300, 0, true}, PropertyCase{0x0300, 63, true},
        PropertyCase{0x0300, 64, false}, PropertyCase{0x0300, 1000, false},
        // The reception properties the radio sets, at its values and beyond the range.
        PropertyCase{0xB200, 63, true}, PropertyCase{0xB200, 64, false},
        PropertyCase{0xB201, 12, true}, PropertyCase{0xB201, 128, false},
        PropertyCase{0xB202, 2000, true}, PropertyCase{0xB202, 4096, false},
        PropertyCase{0xB203, 2000, true}, PropertyCase{0xB204, 2000, true},
        PropertyCase{0xB204, 0xFFFF, false}, PropertyCase{0x1712, 1, true},
        PropertyCase{0x1712, 2, false}, PropertyCase{0x1710, 0, true},
        PropertyCase{0x1711, 0xFFFF, true},
        // Fields with reserved bits: output format and pin configuration.
        PropertyCase{0x0202, 0x1800, true}, PropertyCase{0x0202, 0x2000, false},
        PropertyCase{0x0800, 3, true}, PropertyCase{0x0800, 0x8004, false},
        PropertyCase{0x0301, 3, true}, PropertyCase{0x0301, 4, false}));

TEST(ChipRefusal, ReceiverRefusalsReachTheHostAsErrCmd) {
    sim::reset_for_test();
    bus_host::open_bus();
    ASSERT_EQ(bus_host::status3(bus_host::bring_up()), 0xC0);
    EXPECT_TRUE(bus_host::err_cmd(bus_host::command({0xB2, 0x02}, 24)));
    EXPECT_FALSE(bus_host::err_cmd(bus_host::command({0xB2, 0x00}, 24)))
        << "the next accepted command clears ERR_CMD";
    EXPECT_TRUE(bus_host::err_cmd(bus_host::command({0xB0, 0x00, 0x00, 0x00, 0x00}, 5)));
}

} // namespace
