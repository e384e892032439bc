// SPDX-License-Identifier: GPL-3.0-or-later
// Component information and its user-application fields.
#include "dab_receiver_fixture.h"

using namespace dabtest;

namespace {

constexpr const char *two_entries_band = R"({"ensembles": [{"index": 0, "services": [
    {"id": "0xC0A1", "label": "Service Label",
     "components": [{"id": 4, "global_id": 9, "language": 63, "charset": 15,
                     "label_bytes": [0, 32, 65], "char_abbrev": "0xF00F",
                     "user_applications": [{"type": "0x0002", "data": [12]},
                                           {"type": "0x044A", "data": [1, 2]},
                                           {"type": "0x1234", "data": []}]},
                    {"id": 5},
                    {"id": 6, "user_applications": [{"type": 7, "data": [1, 2, 3]}]}]}]}]})";

// The user-application entries as a host steps over them; stops at the first
// fault and says which.
struct Entry {
    uint16_t type;
    std::vector<uint8_t> data;
};
struct Stepped {
    std::vector<Entry> entries;
    std::string fault; // "", "overrun", "pad"
};

Stepped step(const std::vector<uint8_t> &fields, std::size_t count, std::size_t ua_length) {
    Stepped out;
    std::size_t p = 0;
    for (std::size_t n = 0; n < count; ++n) {
        if (p + 3 > ua_length) {
            out.fault = "header";
            return out;
        }
        const std::size_t length = fields.at(p + 2);
        if (p + 3 + length > ua_length) {
            out.fault = "overrun";
            return out;
        }
        if (length % 2 == 0 && fields.at(p + 3 + length) != 0) {
            out.fault = "pad";
            return out;
        }
        out.entries.push_back(
            {static_cast<uint16_t>(fields[p] | fields[p + 1] << 8),
             std::vector<uint8_t>(fields.begin() + static_cast<long>(p) + 3,
                                  fields.begin() + static_cast<long>(p + 3 + length))});
        p += 3 + length + (length % 2 == 0 ? 1 : 0);
    }
    return out;
}

class DabComponentInfo : public Receiver {
protected:
    Reply info(uint32_t service, uint32_t component) {
        return send(frame12(0xBB, 0, service, component));
    }
    static std::vector<uint8_t> fields_of(const Reply &r) {
        return std::vector<uint8_t>(r.outcome.resp.begin() + 24, r.outcome.resp.end());
    }
};

TEST_F(DabComponentInfo, HeaderFieldsSitAtTheirPositions) {
    use_band(two_entries_band);
    tune_and_settle(0);
    const auto r = info(0xC0A1, 4);
    ASSERT_FALSE(r.err());
    EXPECT_EQ(r.at(5), 9);
    EXPECT_EQ(r.at(7), 63);
    EXPECT_EQ(r.at(8), 15);
    const std::vector<uint8_t> label(r.outcome.resp.begin() + 4, r.outcome.resp.begin() + 20);
    EXPECT_EQ(label, (std::vector<uint8_t>{0, ' ', 'A', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                           ' ', ' ', ' ', ' '}));
    EXPECT_EQ(r.le16_at(25), 0xF00F);
    EXPECT_EQ(r.at(27), 3);
    EXPECT_EQ(r.at(28), 4 + 6 + 4);
    EXPECT_EQ(r.positions(), 29u + r.at(28));
}

TEST_F(DabComponentInfo, EntriesAreEvenSizedWithAZeroPadAfterEvenData) {
    use_band(two_entries_band);
    tune_and_settle(0);
    const auto r = info(0xC0A1, 4);
    const std::vector<uint8_t> expected{0x02, 0x00, 1, 12,       // odd: no pad
                                        0x4A, 0x04, 2, 1,  2, 0, // even: pad
                                        0x34, 0x12, 0, 0};       // empty: pad
    EXPECT_EQ(fields_of(r), expected);
}

TEST_F(DabComponentInfo, ComponentWithoutEntriesAndOthersOfTheSameService) {
    use_band(two_entries_band);
    tune_and_settle(0);
    const auto bare = info(0xC0A1, 5);
    ASSERT_FALSE(bare.err());
    EXPECT_EQ(bare.at(27), 0);
    EXPECT_EQ(bare.at(28), 0);
    EXPECT_EQ(bare.positions(), 29u);
    const std::vector<uint8_t> label(bare.outcome.resp.begin() + 4, bare.outcome.resp.begin() + 20);
    EXPECT_EQ(std::string(label.begin(), label.end()), "Service Label   ")
        << "a component label defaults to its service's";
    EXPECT_EQ(info(0xC0A1, 6).at(28), 6);
}

TEST_F(DabComponentInfo, UnknownServiceOrComponentAndNoEnsembleAreRejected) {
    use_band(two_entries_band);
    EXPECT_TRUE(info(0xC0A1, 4).err()) << "nothing tuned";
    tune_and_settle(0);
    EXPECT_TRUE(info(0xC0A2, 4).err());
    EXPECT_TRUE(info(0xC0A1, 7).err());
    EXPECT_TRUE(info(0xC0A1, 0x10004).err()) << "the whole 32-bit component id counts";
    EXPECT_TRUE(send({0xBB, 0, 0, 0, 0xA1, 0xC0}).err()) << "a short frame";
    tune_and_settle(1);
    EXPECT_TRUE(info(0xC0A1, 4).err()) << "an empty channel";
}

TEST_F(DabComponentInfo, DefaultBandEntriesAllStepCleanly) {
    const auto &band = radio.band();
    for (std::size_t index = 0; index < band.frequencies.size(); ++index) {
        const auto *e = band.on_frequency(band.frequencies[index]);
        if (e == nullptr || !e->reception.acquires) {
            continue;
        }
        tune_and_settle(static_cast<uint8_t>(index));
        for (const auto &service : e->services) {
            for (const auto &component : service.components) {
                SCOPED_TRACE(std::to_string(service.id) + "/" + std::to_string(component.id));
                const auto r = info(service.id, component.id);
                ASSERT_FALSE(r.err());
                const auto stepped = step(fields_of(r), r.at(27), r.at(28));
                EXPECT_EQ(stepped.fault, "");
                ASSERT_EQ(stepped.entries.size(), component.user_applications.size());
                for (std::size_t i = 0; i < stepped.entries.size(); ++i) {
                    EXPECT_EQ(stepped.entries[i].type, component.user_applications[i].type);
                    EXPECT_EQ(stepped.entries[i].data, component.user_applications[i].data);
                }
            }
        }
    }
}

TEST_F(DabComponentInfo, UaLengthFaultForcesTheLengthByte) {
    use_band(two_entries_band);
    tune_and_settle(0);
    fault("ua-length=228");
    const auto r = info(0xC0A1, 4);
    EXPECT_EQ(r.at(28), 228);
    EXPECT_EQ(r.positions(), 29u + 228) << "the reply holds what the length claims";
    fault("ua-length=2");
    const auto shorter = info(0xC0A1, 4);
    EXPECT_EQ(shorter.at(28), 2);
    EXPECT_EQ(step(fields_of(shorter), shorter.at(27), shorter.at(28)).fault, "header");
}

TEST_F(DabComponentInfo, UaOverrunMakesTheLastEntryRunPastTheFields) {
    use_band(two_entries_band);
    tune_and_settle(0);
    fault("ua-overrun");
    const auto r = info(0xC0A1, 4);
    const auto stepped = step(fields_of(r), r.at(27), r.at(28));
    EXPECT_EQ(stepped.fault, "overrun");
    EXPECT_EQ(stepped.entries.size(), 2u) << "the entries before the last still step";

    const auto odd = info(0xC0A1, 6); // a single entry of odd length
    EXPECT_EQ(step(fields_of(odd), odd.at(27), odd.at(28)).fault, "overrun");
    EXPECT_EQ(odd.at(28), 6) << "the length byte is honest, the entry is not";
}

TEST_F(DabComponentInfo, UaPadSpoilsTheFirstEvenEntryOnly) {
    use_band(two_entries_band);
    tune_and_settle(0);
    fault("ua-pad");
    const auto r = info(0xC0A1, 4);
    const auto fields = fields_of(r);
    EXPECT_NE(fields.at(4 + 5), 0) << "pad of the 0x044A entry";
    EXPECT_EQ(fields.at(13), 0) << "later pads stay zero";
    const auto stepped = step(fields, r.at(27), r.at(28));
    EXPECT_EQ(stepped.fault, "pad");
    EXPECT_EQ(stepped.entries.size(), 1u);
    const auto odd = info(0xC0A1, 6);
    EXPECT_EQ(step(fields_of(odd), odd.at(27), odd.at(28)).fault, "")
        << "no even entry, nothing to spoil";
}

} // namespace
