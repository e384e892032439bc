// SPDX-License-Identifier: GPL-3.0-or-later
// Receiver timings from a settings list: what a test of the radio's binary
// uses to make broadcast texts come quickly.
#include <gtest/gtest.h>

#include "DabRadio.h"

namespace {

using sim::DabRadio;

TEST(ReceiverTiming, NamedPhasesTakeMillisecondsAndTheOthersKeepTheirValues) {
    DabRadio::Timing timing;
    const DabRadio::Timing defaults;
    std::string error;
    ASSERT_TRUE(sim::parse_timing(" first-text = 200 , text-interval=500,,", &timing, &error))
        << error;
    EXPECT_EQ(timing.first_text_ns, 200'000'000u);
    EXPECT_EQ(timing.text_interval_ns, 500'000'000u);
    EXPECT_EQ(timing.tune_ns, defaults.tune_ns);
    EXPECT_EQ(timing.packet_interval_ns, defaults.packet_interval_ns);

    ASSERT_TRUE(sim::parse_timing(
        "tune=0,acquire=1,list-ready=2,data-cts=3,packet-interval=86400000", &timing, &error))
        << error;
    EXPECT_EQ(timing.tune_ns, 0u);
    EXPECT_EQ(timing.acquire_ns, 1'000'000u);
    EXPECT_EQ(timing.list_ready_ns, 2'000'000u);
    EXPECT_EQ(timing.data_cts_ns, 3'000'000u);
    EXPECT_EQ(timing.packet_interval_ns, 86'400'000'000'000u) << "a day is the longest";
    EXPECT_EQ(timing.first_text_ns, 200'000'000u) << "earlier settings stay";

    ASSERT_TRUE(sim::parse_timing("", &timing, &error));
    EXPECT_EQ(timing.acquire_ns, 1'000'000u);
}

TEST(ReceiverTiming, ABadEntryFailsNamedAndChangesNothing) {
    struct Case {
        const char *list;
        const char *named;
    };
    const Case cases[] = {
        {"first-text=100,lunch=5", "lunch"},
        {"first-text=100,text-interval", "text-interval"},
        {"first-text=-1", "first-text"},
        {"first-text=1.5", "first-text"},
        {"first-text=0x10", "first-text"},
        {"first-text=86400001", "first-text"},
        {"first-text=99999999999999999999999", "first-text"},
        {"text_interval=5", "text_interval"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.list);
        DabRadio::Timing timing;
        const DabRadio::Timing defaults;
        std::string error;
        EXPECT_FALSE(sim::parse_timing(c.list, &timing, &error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
        EXPECT_EQ(timing.first_text_ns, defaults.first_text_ns)
            << "an entry before the bad one is not applied either";
        EXPECT_EQ(timing.text_interval_ns, defaults.text_interval_ns);
    }
}

} // namespace
