// SPDX-License-Identifier: GPL-3.0-or-later
// What the built-in band promises the programs and tests that run against it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "Band.h"

namespace {

const sim::Band &band() {
    static const sim::Band b = sim::default_band();
    return b;
}

std::vector<const sim::Ensemble *> receivable() {
    std::vector<const sim::Ensemble *> out;
    for (const auto &e : band().ensembles) {
        if (e.reception.acquires && e.reception.fic_quality >= 30) {
            out.push_back(&e);
        }
    }
    return out;
}

std::size_t index_of(const sim::Ensemble &e) {
    const auto &f = band().frequencies;
    return static_cast<std::size_t>(std::find(f.begin(), f.end(), e.frequency_khz) - f.begin());
}

TEST(BandDefault, PassesItsOwnValidation) {
    std::string error;
    EXPECT_TRUE(sim::validate_band(band(), &error)) << error;
}

TEST(BandDefault, UsesTheBandIiiListWithEnsemblesOnTheFirstAndLastIndex) {
    ASSERT_EQ(band().frequencies.size(), 41u);
    EXPECT_EQ(band().frequencies.front(), 174928u);
    EXPECT_EQ(band().frequencies.back(), 239200u);
    EXPECT_TRUE(std::is_sorted(band().frequencies.begin(), band().frequencies.end()));
    std::set<std::size_t> indexes;
    for (const auto *e : receivable()) {
        indexes.insert(index_of(*e));
    }
    EXPECT_EQ(indexes.count(0), 1u);
    EXPECT_EQ(indexes.count(40), 1u);
}

TEST(BandDefault, SixReceivableEnsemblesCarryFortyServicesForFourteenMenuRows) {
    const auto ensembles = receivable();
    EXPECT_EQ(ensembles.size(), 6u);
    EXPECT_LE(ensembles.size(), 12u) << "the station database holds 12";
    std::size_t services = 0;
    for (const auto *e : ensembles) {
        services += e->services.size();
    }
    EXPECT_EQ(services, 40u);
    EXPECT_EQ((services + 1 + 2) / 3, 14u) << "with Rescan, 14 rows of 3";
}

TEST(BandDefault, EveryServiceListFitsTheHostRecord) {
    for (const auto &e : band().ensembles) {
        EXPECT_LE(6 + sim::service_list_records(e).size(), 2041u);
    }
}

TEST(BandDefault, OneEnsembleIsValidButTooWeakForAScan) {
    std::size_t weak = 0;
    for (const auto &e : band().ensembles) {
        if (!e.reception.acquires) {
            ++weak;
            EXPECT_LT(e.reception.fic_quality, 30);
            EXPECT_GE(e.reception.rssi, 12) << "valid against the chip's threshold";
        }
    }
    EXPECT_EQ(weak, 1u);
}

TEST(BandDefault, LabelsCoverAZeroByteStartAndLeadingBlanks) {
    bool zero_first = false;
    bool leading_blanks = false;
    for (const auto *e : receivable()) {
        for (const auto &s : e->services) {
            zero_first = zero_first || s.label[0] == 0;
            leading_blanks = leading_blanks || (s.label[0] == ' ' && s.label[1] == ' ');
        }
    }
    EXPECT_TRUE(zero_first);
    EXPECT_TRUE(leading_blanks);
}

TEST(BandDefault, HasADataServiceWithAnEccAndServicesOfSeveralComponents) {
    bool data_with_ecc = false;
    std::size_t several = 0;
    for (const auto *e : receivable()) {
        for (const auto &s : e->services) {
            data_with_ecc = data_with_ecc || (s.data && (s.id >> 24) != 0);
            several += s.components.size() > 1 ? 1 : 0;
            EXPECT_FALSE(s.components.empty()) << "a service the menu can start";
        }
    }
    EXPECT_TRUE(data_with_ecc);
    EXPECT_GE(several, 2u);
}

TEST(BandDefault, OneServiceIdIsBroadcastOnTwoEnsembles) {
    std::map<uint32_t, std::set<const sim::Ensemble *>> where;
    for (const auto *e : receivable()) {
        for (const auto &s : e->services) {
            where[s.id].insert(e);
        }
    }
    std::size_t shared = 0;
    for (const auto &item : where) {
        shared += item.second.size() > 1 ? 1 : 0;
    }
    EXPECT_EQ(shared, 1u);
}

TEST(BandDefault, TimesIncludeYearZeroNoTimeAndPlausibleDates) {
    std::size_t year_zero = 0;
    std::size_t no_time = 0;
    std::size_t dated = 0;
    for (const auto *e : receivable()) {
        if (!e->time) {
            ++no_time;
        } else if (e->time->year == 0) {
            ++year_zero;
            EXPECT_NE(e->time->month, 0) << "year 0 alone is what is implausible";
        } else {
            ++dated;
        }
    }
    EXPECT_EQ(year_zero, 1u);
    EXPECT_EQ(no_time, 1u);
    EXPECT_GE(dated, 2u);
}

TEST(BandDefault, UserApplicationsWorthSearchingFor) {
    std::size_t slideshow = 0;
    std::size_t journal = 0;
    bool doubled = false;
    bool even = false;
    bool odd = false;
    for (const auto *e : receivable()) {
        for (const auto &s : e->services) {
            for (const auto &c : s.components) {
                std::multiset<uint16_t> types;
                for (const auto &ua : c.user_applications) {
                    types.insert(ua.type);
                    even = even || ua.data.size() % 2 == 0;
                    odd = odd || ua.data.size() % 2 == 1;
                }
                slideshow += types.count(0x0002) > 0 ? 1 : 0;
                journal += types.count(0x044A) > 0 ? 1 : 0;
                for (uint16_t type : types) {
                    doubled = doubled || types.count(type) > 1;
                }
            }
        }
    }
    EXPECT_GT(slideshow, 5u) << "more than a search's five matches";
    EXPECT_GE(journal, 3u);
    EXPECT_TRUE(doubled);
    EXPECT_TRUE(even);
    EXPECT_TRUE(odd);
}

TEST(BandDefault, AudioServicesHaveChangingTexts) {
    std::size_t with_texts = 0;
    std::size_t changing = 0;
    for (const auto *e : receivable()) {
        for (const auto &s : e->services) {
            if (s.data) {
                EXPECT_TRUE(s.texts.empty());
                continue;
            }
            with_texts += s.texts.empty() ? 0 : 1;
            changing += s.texts.size() > 1 ? 1 : 0;
            for (std::size_t k = 0; k < s.texts.size(); ++k) {
                const auto &text = s.texts[k];
                if (sim::text_options(s, k).clear) {
                    continue; // the clear-display command is no message
                }
                EXPECT_GT(text.size(), 3u) << "the menu shows texts of more than 3 bytes";
                EXPECT_LE(text.size(), 128u) << "a broadcast text is at most 128 characters";
            }
        }
    }
    EXPECT_GE(with_texts, 30u);
    EXPECT_GE(changing, 10u);
}

TEST(BandDefault, NonTextPacketsCannotBeMistakenForTexts) {
    for (const auto &e : band().ensembles) {
        for (const auto &s : e.services) {
            for (const auto &p : s.packets) {
                ASSERT_GE(p.payload.size(), 2u);
                EXPECT_FALSE((p.payload[0] == 0x00 || p.payload[0] == 0x80) && p.payload[1] == 0)
                    << "service " << s.id;
            }
        }
    }
}

} // namespace
