// SPDX-License-Identifier: GPL-3.0-or-later
// Station management's failure recording: which statuses reach the console,
// and the location code that every failure leaves.
#include <string>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

struct FailureCase {
    int16_t status;
    int32_t location;
    const char *printed;
};

class DABUtilsFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(DABUtilsFailure, PrintsHostSideFailuresOnlyAndRecordsTheLocation) {
    const FailureCase c = GetParam();
    DABUtils_ErrorCode = 0;
    int16_t result = 0;
    const std::string printed =
        station_test::captured_stdout([&] { result = DABUtils_failure(c.status, c.location); });
    EXPECT_EQ(result, c.status);
    EXPECT_EQ(DABUtils_ErrorCode, c.location);
    EXPECT_EQ(printed, c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, DABUtilsFailure,
    testing::Values(FailureCase{-1, 304, ""}, FailureCase{-2, 404, ""}, FailureCase{-4, 110, ""},
                    FailureCase{-5, 7, "DABUtils error No: 7, returned retval: -5\n"},
                    FailureCase{-6, 12, "DABUtils error No: 12, returned retval: -6\n"},
                    FailureCase{-32768, 26530,
                                "DABUtils error No: 26530, returned retval: -32768\n"}));

TEST(DABUtilsHeldOutput, ConsoleTextCollectsInTheBufferWhileHeld) {
    char held[64] = "left over";
    std::string printed = station_test::captured_stdout([&] {
        DABUtils_hold_output(held, sizeof held);
        DABUtils_failure(-6, 11);
        DABUtils_failure(-2, 404);
        DABUtils_output_status("more");
    });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(std::string(held), "DABUtils error No: 11, returned retval: -6\nmore");

    // Cut where the buffer ends, still terminated.
    char small[20];
    printed = station_test::captured_stdout([&] {
        DABUtils_hold_output(small, sizeof small);
        DABUtils_failure(-6, 12);
        DABUtils_failure(-6, 13);
    });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(std::string(small), "DABUtils error No: ");

    // Handed back: standard output again, the line in its form.
    printed = station_test::captured_stdout([&] {
        DABUtils_hold_output(nullptr, 0);
        DABUtils_failure(-6, 14);
    });
    EXPECT_EQ(printed, "DABUtils error No: 14, returned retval: -6\n");
    EXPECT_EQ(std::string(small), "DABUtils error No: ");
}

TEST(DABUtilsMin, TakesTheMoreNegativeStatus) {
    EXPECT_EQ(DABUtils_min(-2, -1), -2);
    EXPECT_EQ(DABUtils_min(-2, -3), -3);
    EXPECT_EQ(DABUtils_min(-2, 0), -2);
}

} // namespace
