// SPDX-License-Identifier: GPL-3.0-or-later
// The application-type search over the simulated band: matches found at the
// component, ensemble and band levels, the bound of five, the order in which
// the band level collects them, and what a failure costs at each level.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "DABUtils.h"
#include "StationTest.h"

namespace {

constexpr uint16_t kSlideshow = 0x0002;
constexpr uint16_t kJournal = 0x044A;

std::string join(const std::vector<std::string> &items) {
    std::string text;
    for (std::size_t k = 0; k < items.size(); ++k) {
        text += (k ? ", " : "") + items[k];
    }
    return text;
}

std::string ua(uint16_t type, const std::string &data = "[1]") {
    return "{\"type\": " + std::to_string(type) + ", \"data\": " + data + "}";
}
std::string component(unsigned id, const std::vector<std::string> &uas) {
    return "{\"id\": " + std::to_string(id) + ", \"user_applications\": [" + join(uas) + "]}";
}
std::string service(unsigned id, const std::vector<std::string> &components) {
    return "{\"id\": " + std::to_string(id) + ", \"components\": [" + join(components) + "]}";
}
std::string ensemble(unsigned index, const std::vector<std::string> &services) {
    return "{\"index\": " + std::to_string(index) + ", \"services\": [" + join(services) + "]}";
}
std::string band(const std::vector<std::string> &ensembles) {
    return "{\"ensembles\": [" + join(ensembles) + "]}";
}

// A component carrying the slideshow type.
std::string showing(unsigned id) {
    return component(id, {ua(kSlideshow)});
}

using Bytes = std::vector<uint8_t>;

// A reception status reply of an acquired ensemble with a good signal.
Bytes good_digrad() {
    Bytes reply{0x80, 0x00, 0x00, 0xC0, 0x00, 0x05, 40, 10, 95, 20};
    reply.resize(4 + 20, 0);
    return reply;
}

class ApplicationSearch : public station_test::SimulatedReceiver {
protected:
    // Runs `call` with its console output kept in output_.
    template <typename Call> int16_t run(Call call) {
        forget();
        int16_t status = 0;
        output_ = station_test::captured_stdout([&] { status = call(); });
        return status;
    }
    // Tunes the ensemble on `index` as the search does before asking for
    // component information.
    void tune(uint8_t index) {
        auto list = std::make_unique<Si468x_ServiceList>();
        station_test::captured_stdout([&] { ASSERT_EQ(DAB_do_freq_scan(list.get(), index), 1); });
    }

    std::string output_;
};

// ---------------------------------------------------------------------------
// One component

TEST_F(ApplicationSearch, ComponentReportsTheFirstEntryOfTheWantedType) {
    load_band(
        band({ensemble(0, {service(0xC0A1, {component(4, {ua(kJournal), ua(kSlideshow, "[1, 2]"),
                                                          ua(kSlideshow, "[3]")})})})}));
    tune(0);
    struct Case {
        uint16_t type;
        int16_t result;
        uint8_t index;
    };
    for (const Case c : {Case{kSlideshow, 1, 1}, Case{kJournal, 1, 0}, Case{0x0007, 0, 0}}) {
        SCOPED_TRACE(c.type);
        uint8_t index = 99;
        EXPECT_EQ(
            run([&] { return DAB_component_has_application_type(0xC0A1, 4, c.type, &index); }),
            c.result);
        EXPECT_EQ(index, c.index);
        // Two readings of two queries each.
        EXPECT_EQ(commands(0xBB), 4u);
    }
}

TEST_F(ApplicationSearch, ComponentFailuresCarryTheirStatus) {
    load_band(band({ensemble(0, {service(0xC0A1, {component(4, {ua(kSlideshow, "[1, 2]")})})})}));
    tune(0);
    struct Case {
        const char *faults;
        uint32_t service_id;
        int16_t status;
        int32_t location;
    };
    const Case cases[] = {
        {"", 0xDEAD, -2, 5},              // no such service: the chip rejects the query
        {"ua-length=228", 0xC0A1, -4, 5}, // more than a reply can hold
        {"ua-pad", 0xC0A1, -6, 105},      // the entry cannot be decoded
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.faults);
        sim::clear_faults();
        if (*c.faults != '\0') {
            fault(c.faults);
        }
        uint8_t index = 99;
        EXPECT_EQ(run([&] {
                      return DAB_component_has_application_type(c.service_id, 4, kSlideshow,
                                                                &index);
                  }),
                  c.status);
        EXPECT_EQ(DABUtils_ErrorCode, c.location);
        EXPECT_EQ(index, 0);
        EXPECT_EQ(output_, c.status <= -5 ? "DABUtils error No: 105, returned retval: -6\n" : "");
    }
}

// ---------------------------------------------------------------------------
// One ensemble

class EnsembleSearch : public ApplicationSearch {
protected:
    int16_t search(uint8_t index, uint16_t type = kSlideshow) {
        return run([&] {
            return DAB_ensemble_has_application_type(&digrad_, index, type, service_ids_,
                                                     component_ids_, &count_);
        });
    }

    Si468x_DigradStatus digrad_{};
    uint32_t service_ids_[DAB_MAX_MATCHES] = {};
    uint32_t component_ids_[DAB_MAX_MATCHES] = {};
    uint8_t count_ = 99;
};

TEST_F(EnsembleSearch, SevenMatchesRecordTheFirstFiveInServiceAndComponentOrder) {
    load_band(
        band({ensemble(4, {service(0xA1, {showing(1), showing(2), showing(3)}),
                           service(0xB2, {component(1, {ua(kJournal)}), showing(2), showing(3)}),
                           service(0xC3, {showing(1), showing(2)})})}));
    ASSERT_EQ(search(4), 1);
    ASSERT_EQ(count_, 5);
    EXPECT_EQ(std::vector<uint32_t>(service_ids_, service_ids_ + 5),
              (std::vector<uint32_t>{0xA1, 0xA1, 0xA1, 0xB2, 0xB2}));
    EXPECT_EQ(std::vector<uint32_t>(component_ids_, component_ids_ + 5),
              (std::vector<uint32_t>{1, 2, 3, 2, 3}));
    // The sixth match ends the search: the seventh component is never asked.
    EXPECT_EQ(commands(0xBB), 4u * 7);
    EXPECT_EQ(digrad_.tune_index, 4);
    EXPECT_EQ(digrad_.fic_quality, 100);
}

TEST_F(EnsembleSearch, NoEnsembleOrNoMatchIsNotFoundWithTheStatusUnread) {
    load_band(band({ensemble(4, {service(0xA1, {component(1, {ua(kJournal)})})})}));
    for (const uint8_t index : {uint8_t{3}, uint8_t{4}}) {
        SCOPED_TRACE(int(index));
        digrad_.tune_index = 77;
        EXPECT_EQ(search(index), 0);
        EXPECT_EQ(count_, 0);
        EXPECT_EQ(digrad_.tune_index, 77);
    }
}

TEST_F(EnsembleSearch, FailureEndsTheEnsembleWithTheMatchesStoredSoFar) {
    // The first service's entry has odd-length data (no pad byte); the
    // second's has even-length data, whose pad byte the fault spoils.
    load_band(band({ensemble(4, {service(0xA1, {showing(1)}),
                                 service(0xB2, {component(1, {ua(kSlideshow, "[1, 2]")})}),
                                 service(0xC3, {showing(1)})})}));
    fault("ua-pad");
    EXPECT_EQ(search(4), -6);
    EXPECT_EQ(DABUtils_ErrorCode, 406);
    // After the scan step's printout, both levels report the host-side failure.
    const std::string lines = "DABUtils error No: 105, returned retval: -6\n"
                              "DABUtils error No: 406, returned retval: -6\n";
    ASSERT_GE(output_.size(), lines.size());
    EXPECT_EQ(output_.substr(output_.size() - lines.size()), lines);
    EXPECT_EQ(output_.find("DABUtils error"), output_.size() - lines.size());
    ASSERT_EQ(count_, 1);
    EXPECT_EQ(service_ids_[0], 0xA1u);
    EXPECT_EQ(commands(0xBB), 4u * 2);
}

TEST_F(EnsembleSearch, EachLevelOfFailureHasItsLocation) {
    load_band(band({ensemble(4, {service(0xA1, {showing(1)})})}));
    struct Case {
        const char *faults;
        int16_t status;
        int32_t location;
    };
    const Case cases[] = {
        {"list-unstable=4", -1, 6}, // the scan step found no stable list
        {"tune-timeout=4", -3, 6},
        {"errcmd=0xBB", -2, 406}, // the component level failed
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.faults);
        sim::clear_faults();
        fault(c.faults);
        EXPECT_EQ(search(4), c.status);
        EXPECT_EQ(DABUtils_ErrorCode, c.location);
        EXPECT_EQ(count_, 0);
        EXPECT_EQ(output_.find("DABUtils error"), std::string::npos);
    }
}

TEST_F(EnsembleSearch, ReceptionStatusThatCannotBeReadAfterAMatchFails) {
    load_band(band({ensemble(4, {service(0xA1, {showing(1)})})}));
    // The scan step's reading is good; the one after the search is refused.
    sim::script_reply(0xB2, good_digrad());
    sim::script_reply(0xB2, {0xC0, 0x00, 0x00, 0xC0});
    EXPECT_EQ(search(4), -2);
    EXPECT_EQ(DABUtils_ErrorCode, 506);
    EXPECT_EQ(count_, 1);
}

// ---------------------------------------------------------------------------
// The whole band

class BandSearch : public ApplicationSearch {
protected:
    int16_t search(uint8_t num_frequencies, uint16_t type = kSlideshow) {
        return run([&] {
            return DAB_scan_application_type(freq_indexes_, service_ids_, component_ids_, type,
                                             &count_, num_frequencies);
        });
    }
    std::vector<uint8_t> indexes() const {
        return std::vector<uint8_t>(freq_indexes_, freq_indexes_ + count_);
    }
    std::vector<uint32_t> services() const {
        return std::vector<uint32_t>(service_ids_, service_ids_ + count_);
    }
    std::vector<uint32_t> components() const {
        return std::vector<uint32_t>(component_ids_, component_ids_ + count_);
    }

    uint8_t freq_indexes_[DAB_MAX_MATCHES] = {};
    uint32_t service_ids_[DAB_MAX_MATCHES] = {};
    uint32_t component_ids_[DAB_MAX_MATCHES] = {};
    uint8_t count_ = 99;
};

TEST_F(BandSearch, EnsemblesGiveTheirMatchesLastFirstUntilFiveAreTaken) {
    load_band(band({
        ensemble(2, {service(0x201, {showing(1)}), service(0x202, {showing(2)}),
                     service(0x203, {showing(3)})}),
        ensemble(5, {service(0x501, {showing(11), showing(12), showing(13), showing(14)})}),
        ensemble(7, {service(0x701, {showing(21)})}),
    }));
    ASSERT_EQ(search(10), 1);
    EXPECT_EQ(indexes(), (std::vector<uint8_t>{2, 2, 2, 5, 5}));
    EXPECT_EQ(services(), (std::vector<uint32_t>{0x203, 0x202, 0x201, 0x501, 0x501}));
    EXPECT_EQ(components(), (std::vector<uint32_t>{3, 2, 1, 14, 13}));
    // The search ended with matches left over: nothing after index 5 is tuned.
    EXPECT_EQ(commands(0xB0), 6u);
    EXPECT_EQ(sim::tuned_index(), 5);
}

TEST_F(BandSearch, NoFrequenciesStillAppliesTheSettings) {
    const auto writes = sim::property_writes().size();
    EXPECT_EQ(search(0), 0);
    EXPECT_EQ(count_, 0);
    EXPECT_EQ(sim::property_writes().size(), writes + 8);
    EXPECT_EQ(commands(0xB0), 0u);
}

TEST_F(BandSearch, SettingsThatFailEndTheSearchBeforeItStarts) {
    fault("errcmd=0x13");
    EXPECT_EQ(search(10), -2);
    EXPECT_EQ(DABUtils_ErrorCode, 7);
    EXPECT_EQ(count_, 0);
    EXPECT_EQ(commands(0xB0), 0u);
}

TEST_F(BandSearch, FailingOrEmptyFrequenciesAreSkipped) {
    load_band(band({ensemble(0, {service(0x001, {showing(1)})}),
                    ensemble(3, {service(0x301, {showing(1), showing(2)})})}));
    fault("list-unstable=0");
    ASSERT_EQ(search(5), 1);
    EXPECT_EQ(indexes(), (std::vector<uint8_t>{3, 3}));
    EXPECT_EQ(services(), (std::vector<uint32_t>{0x301, 0x301}));
    EXPECT_EQ(components(), (std::vector<uint32_t>{2, 1}));
    // The failed frequency's location stays for diagnosis.
    EXPECT_EQ(DABUtils_ErrorCode, 6);
    EXPECT_EQ(commands(0xB0), 5u);
}

} // namespace
