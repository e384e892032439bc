// SPDX-License-Identifier: GPL-3.0-or-later
// Part, state and function information, and the property store: defaults,
// writes, read-back, rejected ids and what survives a reload.
#include <gtest/gtest.h>

#include "BusHost.h"
#include "SimBoard.h"

using namespace bus_host;

namespace {

class ChipInfo : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        open_bus();
    }
};

TEST_F(ChipInfo, PartInfoAnswersFromTheIdentityInBothLoaderAndImage) {
    sim::ChipIdentity identity;
    identity.chip_rev = 3;
    identity.rom_id = 7;
    identity.part = 0x1251;
    sim::set_identity(identity);
    reset_pulse();
    command(power_up_bytes, 5);
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        const Bytes part = command({0x08, 0x00}, 24);
        EXPECT_FALSE(err_cmd(part));
        EXPECT_EQ(part[5], 3);
        EXPECT_EQ(part[6], 7);
        EXPECT_EQ(part[9], 0x51);
        EXPECT_EQ(part[10], 0x12);
        ASSERT_EQ(status3(bring_up()), 0xC0);
    }
}

TEST_F(ChipInfo, SysStateNamesTheRunningImage) {
    reset_pulse();
    command(power_up_bytes, 5);
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 0);
    ASSERT_EQ(status3(bring_up()), 0xC0);
    EXPECT_EQ(command({0x09, 0x00}, 7)[5], 2);
}

TEST_F(ChipInfo, FuncInfoCarriesFlagsAndSvnIdLittleEndian) {
    sim::ChipIdentity identity;
    identity.rev_ext = 1;
    identity.rev_branch = 2;
    identity.rev_int = 3;
    identity.func_flags = 0x83;
    identity.svn_id = 0x12345678;
    sim::set_identity(identity);
    // A chip found running reports the identity's revision...
    sim::set_chip_running();
    Bytes func = command({0x12, 0x00}, 13);
    EXPECT_EQ(func, (Bytes{0x00, 0x80, 0x00, 0x00, 0xC0, 1, 2, 3, 0x83, 0x78, 0x56, 0x34, 0x12}));
    // ...a booted chip the revision of the image it booted.
    ASSERT_EQ(status3(bring_up()), 0xC0);
    func = command({0x12, 0x00}, 13);
    EXPECT_EQ((Bytes{func[5], func[6], func[7], func[8]}), (Bytes{6, 0, 6, 0x83}));
}

TEST_F(ChipInfo, PropertiesHoldTheirDefaultsAfterBoot) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    EXPECT_EQ(get_property(0x0300), 63);
    EXPECT_EQ(sim::property(0x0300), 63);
    // Every id the radio sets is one the image knows.
    for (const uint16_t id :
         {0x1710, 0x1711, 0x1712, 0xB200, 0xB201, 0xB202, 0xB203, 0xB204, 0x0800, 0x0202}) {
        Bytes reply;
        get_property(id, &reply);
        EXPECT_FALSE(err_cmd(reply)) << std::hex << id;
    }
}

TEST_F(ChipInfo, SetPropertyIsStoredRecordedAndReadBack) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    EXPECT_FALSE(err_cmd(set_property(0x0300, 20)));
    EXPECT_FALSE(err_cmd(set_property(0x1711, 0xABCD)));
    EXPECT_EQ(get_property(0x0300), 20);
    EXPECT_EQ(get_property(0x1711), 0xABCD);
    EXPECT_EQ(sim::property_writes(),
              (std::vector<std::pair<uint16_t, uint16_t>>{{0x0300, 20}, {0x1711, 0xABCD}}));
}

TEST_F(ChipInfo, PropertyCommandsAreChecked) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    Bytes reply;
    get_property(0x1234, &reply);
    EXPECT_TRUE(err_cmd(reply)) << "unknown id";
    EXPECT_TRUE(err_cmd(set_property(0x1234, 1)));
    EXPECT_TRUE(err_cmd(command({0x14, 0x02, 0x00, 0x03}, 7))) << "more than one property";
    EXPECT_TRUE(err_cmd(command({0x14, 0x01, 0x00}, 7)));
    EXPECT_TRUE(err_cmd(command({0x13, 0x01, 0x00, 0x03, 0x10, 0x00})));
    EXPECT_TRUE(err_cmd(command({0x13, 0x00, 0x00, 0x03, 0x10})));
    EXPECT_TRUE(sim::property_writes().empty());
    EXPECT_EQ(sim::property(0x0300), 63);
    // A test may add an id of its own.
    sim::set_property(0x1234, 5);
    EXPECT_EQ(get_property(0x1234), 5);
}

TEST_F(ChipInfo, EveryBootStartsFromTheDefaults) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    set_property(0x0300, 10);
    ASSERT_EQ(status3(bring_up()), 0xC0);
    EXPECT_EQ(get_property(0x0300), 63);
}

TEST_F(ChipInfo, PropertiesAndStateSurviveSaveAndLoad) {
    ASSERT_EQ(status3(bring_up()), 0xC0);
    set_property(0x0300, 20);
    sim::save_state();
    set_property(0x0300, 30);
    bcm2835_gpio_write(23, LOW);
    ASSERT_EQ(sim::chip_state(), sim::ChipState::Reset);
    sim::load_state();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_EQ(sim::property(0x0300), 20);
    EXPECT_FALSE(sim::peripherals_open()) << "as a new process finds it";
    open_bus();
    EXPECT_EQ(status3(read(7)), 0xC0);
    EXPECT_EQ(get_property(0x0300), 20);
}

} // namespace
