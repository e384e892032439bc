// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's fixed settings and the volume as the chip receives them,
// and where a property that does not hold stops them.
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

using Writes = std::vector<std::pair<uint16_t, uint16_t>>;

const Writes kReception{{0x1710, 0},  {0x1711, 0},    {0x1712, 1},    {0xB201, 12},
                        {0xB200, 63}, {0xB202, 2000}, {0xB203, 2000}, {0xB204, 2000}};
const Writes kOutput{{0x0800, 3}, {0x0202, 0x1800}};

class ReceiverSettings : public testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        sim::set_chip_running();
        ASSERT_EQ(Si468x_bus_init(), 0);
        DABUtils_ErrorCode = 0;
    }
    void TearDown() override { Si468x_SPI_shutdown(); }
    void fault(const std::string &list) {
        std::string error;
        ASSERT_TRUE(sim::set_faults(list, &error)) << error;
    }
};

TEST_F(ReceiverSettings, ReceptionAndOutputPropertiesAreWrittenInOrder) {
    ASSERT_EQ(DAB_set_properties_max_stations(), 0);
    EXPECT_EQ(sim::property_writes(), kReception);
    ASSERT_EQ(DAB_set_properties_output(), 0);
    Writes all = kReception;
    all.insert(all.end(), kOutput.begin(), kOutput.end());
    EXPECT_EQ(sim::property_writes(), all);
    for (const auto &[id, value] : all) {
        EXPECT_EQ(sim::property(id), std::optional<uint16_t>(value)) << std::hex << id;
    }
}

TEST_F(ReceiverSettings, VolumeAboveSixtyThreeIsSetAsSixtyThree) {
    const std::pair<uint8_t, uint16_t> cases[] = {{0, 0}, {40, 40}, {63, 63}, {64, 63}, {255, 63}};
    for (const auto &[volume, expected] : cases) {
        SCOPED_TRACE("volume " + std::to_string(volume));
        ASSERT_EQ(DAB_set_properties_volume(volume), 0);
        EXPECT_EQ(sim::property(0x0300), std::optional<uint16_t>(expected));
        EXPECT_EQ(sim::property_writes().back(), std::make_pair(uint16_t{0x0300}, expected));
    }
}

TEST_F(ReceiverSettings, PropertyThatDoesNotHoldStopsTheRest) {
    struct Case {
        const char *name;
        std::function<int16_t()> operation;
        const char *faults;
        int16_t status;
        int32_t location;
        Writes accepted; // SET_PROPERTY commands the chip took, in order
    };
    const Writes first_three(kReception.begin(), kReception.begin() + 3);
    const auto set_volume_20 = [] { return DAB_set_properties_volume(20); };
    const Writes volume_20{{0x0300, 20}};
    const Case cases[] = {
        {"third reception property reads back wrong", DAB_set_properties_max_stations,
         "property-mismatch=0x1712", -6, 201, first_three},
        {"first reception property", DAB_set_properties_max_stations, "property-mismatch=0x1710",
         -6, 1, Writes(kReception.begin(), kReception.begin() + 1)},
        {"last reception property", DAB_set_properties_max_stations, "property-mismatch=0xB204", -6,
         701, kReception},
        {"overflow lifted to -2", DAB_set_properties_max_stations, "reply-overflow=0x13", -2, 1,
         Writes(kReception.begin(), kReception.begin() + 1)},
        {"read-back rejected", DAB_set_properties_max_stations, "errcmd=0x14", -2, 1,
         Writes(kReception.begin(), kReception.begin() + 1)},
        {"second output property", DAB_set_properties_output, "property-mismatch=0x0202", -6, 102,
         kOutput},
        {"output rejected", DAB_set_properties_output, "errcmd=0x13", -2, 2, {}},
        {"volume reads back wrong", set_volume_20, "property-mismatch=0x0300", -6, 3, volume_20},
        {"volume overflow", set_volume_20, "reply-overflow=0x13", -2, 3, volume_20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim::reset_for_test();
        sim::set_chip_running();
        ASSERT_EQ(Si468x_bus_init(), 0);
        std::vector<std::optional<uint16_t>> before;
        for (const auto &[id, value] : kReception) {
            before.push_back(sim::property(id));
        }
        fault(c.faults);
        int16_t status = 0;
        const std::string printed = station_test::captured_stdout([&] { status = c.operation(); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(DABUtils_ErrorCode, c.location);
        EXPECT_EQ(printed, c.status <= -5
                               ? "DABUtils error No: " + std::to_string(c.location) +
                                     ", returned retval: " + std::to_string(c.status) + "\n"
                               : "");
        // Only SET_PROPERTY commands that the chip executed are recorded; a
        // rejected one is not among them, one whose reply flags an overflow is.
        const Writes &writes = sim::property_writes();
        EXPECT_EQ(Writes(writes.begin(), writes.end()), c.accepted);
        if (std::string(c.faults) == "property-mismatch=0x1712") {
            // The properties after the failing one keep what they held.
            for (std::size_t k = 3; k < kReception.size(); ++k) {
                EXPECT_EQ(sim::property(kReception[k].first), before[k]) << k;
            }
        }
    }
}

} // namespace
