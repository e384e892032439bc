// SPDX-License-Identifier: GPL-3.0-or-later
// The radio engine on the simulated board: each outcome of a play, a volume
// change, a poll and a list load once, the stepped scan against the one-call
// scan, and a failing board link told apart from a chip that answers badly.
#include <cerrno>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "DAB_radio.h"
#include "StationTest.h"

namespace {

namespace fs = std::filesystem;

// Index 0: an audio service with an EBU Latin text (Grüße, then Hallo) and a
// data service; index 2: an ensemble that is never acquired.
constexpr char kBand[] = R"({"ensembles": [
  {"index": 0, "list_version": 1, "label": "Harbour Mux", "services": [
    {"id": "0xC221", "label": "Harbour Radio", "components": [{"id": 4}],
     "texts": [[71, 114, 153, 141, 101], "Hallo"]},
    {"id": "0xE1C222", "data": true, "ecc": "0xE1", "label": "Harbour Data",
     "components": [{"id": 5}]}]},
  {"index": 2, "list_version": 1, "label": "Hill Mux",
   "reception": {"acquires": false}, "services": [
    {"id": "0xC331", "label": "Hill Radio", "components": [{"id": 6}]}]}]})";

class Engine : public station_test::SimulatedReceiver {
protected:
    void SetUp() override {
        SimulatedReceiver::SetUp();
        DAB_radio_init(radio_.get());
        load_band(kBand);
    }
    // The kernel path, where a failing transfer reports itself.
    void use_kernel_path() {
        Si468x_SPI_shutdown();
        sim::set_pi_model(sim::PiModel::Pi5);
        ASSERT_EQ(Si468x_bus_init(), 0);
    }
    void scan() {
        DAB_ScanSteps steps{};
        ASSERT_EQ(DAB_scan_begin(&steps, &radio_->stations), 0);
        while (DAB_scan_step(&steps) == 1) {
        }
    }
    // The database of the scan, with the never acquired ensemble added.
    void stations() {
        scan();
        ASSERT_EQ(radio_->stations.num_ensembles, 1);
        radio_->stations.ensembles[1] = radio_->stations.ensembles[0];
        radio_->stations.ensembles[1].freq_index = 2;
        radio_->stations.num_ensembles = 2;
    }
    DAB_PollEvent poll_until_text(int polls = 100) {
        for (int i = 0; i < polls; ++i) {
            const DAB_PollEvent event = DAB_radio_poll(radio_.get());
            if (event != DAB_POLL_NOTHING) {
                return event;
            }
            bcm2835_delay(DAB_DATA_POLL_MS);
        }
        return DAB_POLL_NOTHING;
    }

    std::unique_ptr<DAB_Radio> radio_ = std::make_unique<DAB_Radio>();
    station_test::ScratchDir dir_{"tunelark-engine"};
    std::string list_ = dir_.file("stationlist.txt");
};

TEST_F(Engine, PlayOutcomes) {
    ASSERT_NO_FATAL_FAILURE(stations());
    DAB_Play play{};
    forget();

    EXPECT_EQ(DAB_radio_play(radio_.get(), 0, 0, &play), DAB_PLAY_PLAYING);
    EXPECT_EQ(play.service.service_id, 0xC221u);
    EXPECT_EQ(play.component.comp_id, 4u);
    EXPECT_EQ(radio_->playing, 1);
    EXPECT_EQ(radio_->last_tuned_index, 0);
    EXPECT_EQ(commands(0xB0), 1u) << "tuned once";

    // The same ensemble: no retune.
    EXPECT_EQ(DAB_radio_play(radio_.get(), 0, 1, &play), DAB_PLAY_NO_AUDIO);
    EXPECT_EQ(play.service.pd_flag, SI468X_PD_DATA);
    EXPECT_EQ(radio_->playing, 0);
    EXPECT_EQ(commands(0xB0), 1u);

    fault("errcmd=0x81");
    EXPECT_EQ(static_cast<int>(DAB_radio_play(radio_.get(), 0, 0, &play)),
              static_cast<int>(DAB_PLAY_STATION_FAILED));
    EXPECT_EQ(radio_->playing, 0);
    EXPECT_EQ(play.link_errno, 0) << "the chip refused: not the link";
    sim::clear_faults();

    EXPECT_EQ(DAB_radio_play(radio_.get(), 1, 0, &play), DAB_PLAY_TUNE_FAILED);
    EXPECT_EQ(radio_->last_tuned_index, 0) << "a start on that ensemble tunes again";
    EXPECT_EQ(DAB_radio_play(radio_.get(), DAB_MAX_ENSEMBLES, 0, &play), DAB_PLAY_TUNE_FAILED);
}

TEST_F(Engine, PlayOnAFailingLinkSaysSo) {
    ASSERT_NO_FATAL_FAILURE(stations());
    ASSERT_NO_FATAL_FAILURE(use_kernel_path());
    fault("transfer-fail=0x81");
    DAB_Play play{};
    EXPECT_EQ(DAB_radio_play(radio_.get(), 0, 0, &play), DAB_PLAY_LINK_FAILED);
    EXPECT_EQ(play.link_errno, EIO);
    // A clean play afterwards starts from a clear link.
    sim::clear_faults();
    EXPECT_EQ(DAB_radio_play(radio_.get(), 0, 0, &play), DAB_PLAY_PLAYING);
    EXPECT_FALSE(DAB_link_failed(nullptr));
}

TEST_F(Engine, VolumeOutcomes) {
    ASSERT_NO_FATAL_FAILURE(stations());
    DAB_Volume result{};
    std::string out = station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_radio_set_volume(radio_.get(), 70, list_.c_str(), &result), DAB_VOLUME_SAVED);
    });
    EXPECT_EQ(result.volume, 63);
    EXPECT_EQ(result.clamped, 1);
    EXPECT_NE(station_test::read_file(list_).find("Volume: 63\n"), std::string::npos);

    EXPECT_EQ(DAB_radio_set_volume(radio_.get(), -1, nullptr, &result), DAB_VOLUME_SET);
    EXPECT_EQ(sim::property(AUDIO_ANALOG_VOLUME), 0);
    EXPECT_EQ(result.clamped, 1);

    // A held list: set on the chip, not saved, and the failure line swallowed.
    radio_->list_held = 1;
    out += station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_radio_set_volume(radio_.get(), 20, list_.c_str(), &result),
                  DAB_VOLUME_NOT_SAVED);
    });
    EXPECT_EQ(result.save_status, -6);
    EXPECT_EQ(result.save_location, 11);
    EXPECT_EQ(result.volume, 20);
    EXPECT_EQ(sim::property(AUDIO_ANALOG_VOLUME), 20);
    EXPECT_EQ(out, "") << "nothing reaches the screen the front-end owns";
    radio_->list_held = 0;

    // The link fails: the volume stays, the file stays.
    ASSERT_NO_FATAL_FAILURE(use_kernel_path());
    const std::string before = station_test::read_file(list_);
    fault("transfer-fail=0x13");
    EXPECT_EQ(DAB_radio_set_volume(radio_.get(), 30, list_.c_str(), &result), DAB_VOLUME_NOT_SET);
    EXPECT_EQ(result.link_errno, EIO);
    EXPECT_EQ(result.volume, 20);
    EXPECT_EQ(radio_->volume, 20);
    EXPECT_EQ(station_test::read_file(list_), before);
}

TEST_F(Engine, PollTakesTheTextAsUtf8WhateverTheLocale) {
    ASSERT_NO_FATAL_FAILURE(stations());
    DAB_Play play{};
    ASSERT_EQ(DAB_radio_play(radio_.get(), 0, 0, &play), DAB_PLAY_PLAYING);

    // The test runs in the C locale, in which the terminal would spell ü.
    ASSERT_EQ(poll_until_text(), DAB_POLL_TEXT_CHANGED);
    EXPECT_STREQ(radio_->text, "Gr\xC3\xBC\xC3\x9F"
                               "e");
    DAB_PollEvent next = DAB_POLL_NOTHING;
    while ((next = poll_until_text()) == DAB_POLL_TEXT_REPEATED) {
    }
    ASSERT_EQ(next, DAB_POLL_TEXT_CHANGED);
    EXPECT_STREQ(radio_->text, "Hallo");

    ASSERT_NO_FATAL_FAILURE(use_kernel_path());
    fault("transfer-fail=0x84");
    EXPECT_EQ(DAB_radio_poll(radio_.get()), DAB_POLL_LINK_FAILED);
    EXPECT_STREQ(radio_->text, "Hallo") << "the last text stays";
}

TEST_F(Engine, ReceptionIsReadAtMostEveryTwoSeconds) {
    ASSERT_NO_FATAL_FAILURE(stations());
    EXPECT_FALSE(DAB_radio_read_reception(radio_.get(), 0)) << "nothing plays";
    DAB_Play play{};
    ASSERT_EQ(DAB_radio_play(radio_.get(), 0, 0, &play), DAB_PLAY_PLAYING);
    forget();
    EXPECT_TRUE(DAB_radio_read_reception(radio_.get(), 10'000));
    EXPECT_EQ(radio_->reception_valid, 1);
    EXPECT_FALSE(DAB_radio_read_reception(radio_.get(), 11'999));
    EXPECT_TRUE(DAB_radio_read_reception(radio_.get(), 12'000));
    EXPECT_EQ(commands(0xB2), 2u);
}

TEST_F(Engine, ListLoadOutcomes) {
    ASSERT_NO_FATAL_FAILURE(stations());
    DAB_ListLoadFacts facts{};
    auto fresh = std::make_unique<DAB_Radio>();

    DAB_radio_init(fresh.get());
    EXPECT_EQ(DAB_radio_load_list(fresh.get(), list_.c_str(), &facts), DAB_LIST_MISSING);
    EXPECT_EQ(fresh->list_held, 0);

    radio_->volume = 17;
    ASSERT_EQ(DAB_radio_save_list(radio_.get(), list_.c_str()), 0);
    station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_radio_load_list(fresh.get(), list_.c_str(), &facts), DAB_LIST_LOADED);
    });
    EXPECT_EQ(fresh->volume, 17);
    EXPECT_EQ(DAB_service_count(&fresh->stations), 4);

    // Cut inside the last record: kept beside itself.
    const std::string whole = station_test::read_file(list_);
    station_test::write_file(list_, whole.substr(0, whole.size() - 40));
    station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_radio_load_list(fresh.get(), list_.c_str(), &facts), DAB_LIST_DAMAGED_KEPT);
    });
    EXPECT_EQ(std::string(facts.kept_path), list_ + ".damaged-1");
    EXPECT_EQ(fresh->list_held, 0);

    // Every name for a copy taken: held, and no save goes over it.
    for (int n = 2; n <= 999; ++n) {
        station_test::write_file(list_ + ".damaged-" + std::to_string(n), std::to_string(n));
    }
    station_test::write_file(list_, whole.substr(0, whole.size() - 30));
    station_test::captured_stdout([&] {
        EXPECT_EQ(DAB_radio_load_list(fresh.get(), list_.c_str(), &facts), DAB_LIST_DAMAGED_HELD);
        EXPECT_EQ(DAB_radio_save_list(fresh.get(), list_.c_str()), -6);
    });
    EXPECT_EQ(fresh->list_held, 1);
    EXPECT_EQ(station_test::read_file(list_), whole.substr(0, whole.size() - 30));

    // A link that loops is there, unreadable: not a first start, and held.
    const std::string loop = dir_.file("loop.txt");
    fs::create_symlink("loop.txt", loop);
    DAB_radio_init(fresh.get());
    EXPECT_EQ(DAB_radio_load_list(fresh.get(), loop.c_str(), &facts), DAB_LIST_UNREADABLE);
    EXPECT_EQ(facts.error, ELOOP);
    EXPECT_EQ(fresh->list_held, 1);

    DAB_radio_init(fresh.get());
    fs::create_directory(dir_.file("folder"));
    EXPECT_EQ(DAB_radio_load_list(fresh.get(), dir_.file("folder").c_str(), &facts),
              DAB_LIST_NOT_REGULAR);
    EXPECT_EQ(facts.kind, DAB_PATH_DIRECTORY);
}

TEST_F(Engine, StepsReportProgressAndGiveTheOneCallScansDatabase) {
    sim::use_default_band();
    auto stepped = station_test::make_results();
    DAB_ScanSteps steps{};
    std::string out = station_test::captured_stdout([&] {
        ASSERT_EQ(DAB_scan_begin(&steps, stepped.get()), 0);
        uint8_t seen = 0;
        while (DAB_scan_step(&steps) == 1) {
            EXPECT_EQ(steps.next, ++seen);
            EXPECT_LE(stepped->num_ensembles, steps.next);
        }
    });
    EXPECT_EQ(out, "") << "the steps print nothing";
    EXPECT_EQ(steps.done, 1);
    EXPECT_EQ(steps.next, steps.count);
    EXPECT_EQ(DAB_scan_step(&steps), 0) << "a step after the end does nothing";

    auto whole = station_test::make_results();
    const auto frequencies = chip_frequencies();
    out = station_test::captured_stdout([&] {
        DAB_do_full_scan(whole.get(), frequencies.data(), static_cast<uint8_t>(frequencies.size()));
    });
    EXPECT_NE(out.find("Scanning Freq. "), std::string::npos);
    ASSERT_GT(whole->num_ensembles, 1);
    ASSERT_EQ(stepped->num_ensembles, whole->num_ensembles);
    for (uint8_t e = 0; e < whole->num_ensembles; ++e) {
        const DAB_Ensemble &a = stepped->ensembles[e];
        const DAB_Ensemble &b = whole->ensembles[e];
        EXPECT_EQ(a.freq_index, b.freq_index);
        EXPECT_EQ(a.data_length, b.data_length);
        EXPECT_EQ(std::memcmp(a.service_data, b.service_data, a.data_length), 0);
    }

    // The walks over it: the k-th in menu order, and the last of an id.
    const uint16_t total = DAB_service_count(whole.get());
    uint8_t ensemble = 0;
    uint8_t service = 0;
    ASSERT_TRUE(DAB_service_at(whole.get(), static_cast<uint16_t>(total - 1), &ensemble, &service));
    EXPECT_EQ(ensemble, whole->num_ensembles - 1);
    EXPECT_EQ(service, whole->ensembles[ensemble].num_services - 1);
    EXPECT_FALSE(DAB_service_at(whole.get(), total, &ensemble, &service));
    Si468x_Service last{};
    Si468x_get_digital_service(&whole->ensembles[ensemble], service, &last);
    uint16_t k = 0;
    ASSERT_TRUE(DAB_find_service(whole.get(), last.service_id, &ensemble, &service, &k));
    EXPECT_EQ(k, total - 1);
    // A damaged count never walks past the room.
    whole->num_ensembles = 200;
    EXPECT_EQ(DAB_ensemble_count(whole.get()), DAB_MAX_ENSEMBLES);
}

} // namespace
