// SPDX-License-Identifier: GPL-3.0-or-later
// The application-type search, in one ensemble and over the band, against the
// user applications the default band carries.
#include <cstdio>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "DiagBand.h"
#include "DiagRun.h"

namespace {

using diagtest::index_of;
using diagtest::SimBoardDir;
using testing::ElementsAreArray;
using testing::HasSubstr;

constexpr uint16_t ua_journal = 0x044A;
constexpr uint16_t ua_slideshow = 0x0002;
constexpr std::size_t max_matches = 5;

using Match = std::tuple<unsigned, uint32_t, uint32_t>; // index, service id, component id

std::vector<Match> printed_matches(const std::string &out) {
    std::vector<Match> matches;
    for (const auto &line : diagtest::lines_of(out)) {
        unsigned number = 0;
        unsigned index = 0;
        unsigned long khz = 0;
        unsigned long service = 0;
        unsigned long service_hex = 0;
        unsigned long component = 0;
        if (std::sscanf(line.c_str(),
                        "Match %u: index %u (%lu kHz), service id %lu (0x%lx), component id %lu",
                        &number, &index, &khz, &service, &service_hex, &component) == 6) {
            EXPECT_EQ(number, matches.size() + 1);
            EXPECT_EQ(service, service_hex);
            matches.emplace_back(index, static_cast<uint32_t>(service),
                                 static_cast<uint32_t>(component));
        }
    }
    return matches;
}

bool carries(const sim::Component &component, uint16_t type) {
    for (const auto &ua : component.user_applications) {
        if (ua.type == type) {
            return true;
        }
    }
    return false;
}

// The components of one ensemble that carry the type, in service and
// component order: what the ensemble search finds.
std::vector<Match> carriers(const sim::Band &band, const sim::Ensemble &ensemble, uint16_t type) {
    std::vector<Match> found;
    for (const auto &service : ensemble.services) {
        for (const auto &component : service.components) {
            if (carries(component, type)) {
                found.emplace_back(index_of(band, ensemble), service.id, component.id);
            }
        }
    }
    return found;
}

// The band search over the first `count` indexes: each ensemble's matches
// are taken last first, and the search ends at five.
std::vector<Match> band_matches(const sim::Band &band, uint16_t type, std::size_t count) {
    std::vector<Match> matches;
    for (std::size_t index = 0; index < count; ++index) {
        const auto *ensemble = band.on_frequency(band.frequencies[index]);
        if (ensemble == nullptr || !ensemble->reception.acquires) {
            continue;
        }
        auto found = carriers(band, *ensemble, type);
        if (found.size() > max_matches) {
            found.resize(max_matches);
        }
        for (auto it = found.rbegin(); it != found.rend(); ++it) {
            if (matches.size() == max_matches) {
                return matches;
            }
            matches.push_back(*it);
        }
    }
    return matches;
}

TEST(DiagSearch, OneEnsembleReportsItsCarriersInListOrder) {
    SimBoardDir board;
    const auto band = sim::default_band();
    for (const uint16_t type : {ua_journal, ua_slideshow}) {
        for (const auto &ensemble : band.ensembles) {
            const auto expected = carriers(band, ensemble, type);
            if (!ensemble.reception.acquires || expected.empty() || expected.size() > max_matches) {
                continue;
            }
            const auto result = board.run({"search", std::to_string(type), "--index",
                                           std::to_string(index_of(band, ensemble))});
            ASSERT_EQ(result.exit_status, 0) << result.all();
            EXPECT_THAT(printed_matches(result.out), ElementsAreArray(expected))
                << "type " << type << " at index " << unsigned{index_of(band, ensemble)};
        }
    }
}

TEST(DiagSearch, TypeListedTwiceByOneComponentIsOneMatch) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const sim::Ensemble *ensemble = nullptr;
    for (const auto &e : band.ensembles) {
        for (const auto &s : e.services) {
            for (const auto &c : s.components) {
                std::size_t listed = 0;
                for (const auto &ua : c.user_applications) {
                    listed += ua.type == ua_slideshow ? 1 : 0;
                }
                if (listed > 1) {
                    ensemble = &e;
                }
            }
        }
    }
    ASSERT_NE(ensemble, nullptr) << "the default band lists no type twice any more";
    const auto result =
        board.run({"search", "0x0002", "--index=" + std::to_string(index_of(band, *ensemble))});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(printed_matches(result.out),
                ElementsAreArray(carriers(band, *ensemble, ua_slideshow)));
}

TEST(DiagSearch, BandSearchTakesEachEnsembleLastFirstAndStopsAtFive) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto result = board.run({"search", "0x044A"});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    const auto expected = band_matches(band, ua_journal, band.frequencies.size());
    ASSERT_EQ(expected.size(), max_matches) << "the default band has too few journal carriers";
    EXPECT_THAT(result.out, HasSubstr("User-application type 1098 (0x044A): 5 matches"));
    EXPECT_THAT(printed_matches(result.out), ElementsAreArray(expected));
}

TEST(DiagSearch, CountLimitsTheBandSearchToTheFirstIndexes) {
    SimBoardDir board;
    const auto band = sim::default_band();
    // Up to the second ensemble: both ensembles' carriers and nothing later.
    const std::size_t count = index_of(band, band.ensembles[1]) + 1U;
    const auto result = board.run({"search", "1098", "--count", std::to_string(count)});
    ASSERT_EQ(result.exit_status, 0) << result.all();
    const auto expected = band_matches(band, ua_journal, count);
    ASSERT_FALSE(expected.empty());
    EXPECT_THAT(printed_matches(result.out), ElementsAreArray(expected));
}

TEST(DiagSearch, NoCarrierIsAResultNotAFailure) {
    SimBoardDir board;
    const auto band = sim::default_band();
    const auto result = board.run(
        {"search", "0x7FF0", "--index", std::to_string(index_of(band, band.ensembles.front()))});
    EXPECT_EQ(result.exit_status, 0) << result.all();
    EXPECT_THAT(result.out, HasSubstr("User-application type 32752 (0x7FF0): 0 matches"));
    EXPECT_TRUE(printed_matches(result.out).empty());
}

TEST(DiagSearch, IndexesOutsideTheChipsListAreRefused) {
    SimBoardDir board;
    const auto count = sim::default_band().frequencies.size();
    const auto by_index = board.run({"search", "2", "--index", std::to_string(count)});
    EXPECT_EQ(by_index.exit_status, 1);
    EXPECT_THAT(by_index.err, HasSubstr("is not in the chip's frequency list"));
    const auto by_count = board.run({"search", "2", "--count", std::to_string(count + 1)});
    EXPECT_EQ(by_count.exit_status, 1);
    EXPECT_THAT(by_count.err, HasSubstr("search: --count " + std::to_string(count + 1) +
                                        " exceeds the chip's frequency list"));
}

} // namespace
