// SPDX-License-Identifier: GPL-3.0-or-later
// Labels decoded for the person reading the diagnostics: in the terminal's
// character set when its locale has one, spelled in ASCII when not, and
// always beside the raw printout that keeps the broadcast bytes.
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Band.h"
#include "support/DiagBand.h"
#include "support/DiagRun.h"

namespace {

using diagtest::index_of;
using diagtest::printed_value;
using diagtest::SimBoardDir;
using testing::HasSubstr;
using testing::Optional;

const sim::Ensemble &northern(const sim::Band &band) {
    for (const auto &ensemble : band.ensembles) {
        if (ensemble.id == 0x10E5) {
            return ensemble;
        }
    }
    throw std::runtime_error("the default band has no northern ensemble");
}

TEST(DiagLabels, ServicesListsEachLabelDecodedAfterTheRawPrintout) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const std::string index = std::to_string(index_of(band, northern(band)));

    const auto utf8 = board.run({"services", index}, {{"LANG", "C.UTF-8"}});
    ASSERT_EQ(utf8.exit_status, 0) << utf8.all();
    // 0xC605 is EBU Latin, 0xC602 UTF-8 (SI charset 15).
    EXPECT_THAT(printed_value(utf8.out, "Service 50693:"), Optional(std::string("Kölner Welle")));
    EXPECT_THAT(printed_value(utf8.out, "Service 50690:"), Optional(std::string("Malmö Väst FM")));
    // The raw printout keeps the broadcast bytes: ö is 0x97 in EBU Latin.
    EXPECT_THAT(utf8.out, HasSubstr("K\x97lner Welle    "));
    EXPECT_LT(utf8.out.find("Digital Service List"), utf8.out.find("Labels (decoded)"));

    const auto ascii = board.run({"services", index});
    ASSERT_EQ(ascii.exit_status, 0) << ascii.all();
    EXPECT_THAT(printed_value(ascii.out, "Service 50693:"), Optional(std::string("Kolner Welle")));
    EXPECT_THAT(printed_value(ascii.out, "Service 50690:"), Optional(std::string("Malmo Vast FM")));
}

TEST(DiagLabels, ComponentLabelDecodedByItsCharsetId) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const std::string index = std::to_string(index_of(band, northern(band)));
    const auto result = board.run({"component", index, "50690", "2"}, {{"LANG", "C.UTF-8"}});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(printed_value(result.out, "Label (decoded):"),
                Optional(std::string("Malmö Väst FM")));
    EXPECT_THAT(printed_value(result.out, "charsetID:"), Optional(std::string("15")));
}

} // namespace
