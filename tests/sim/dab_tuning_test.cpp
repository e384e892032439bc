// SPDX-License-Identifier: GPL-3.0-or-later
// Frequency list, tuning and reception status of the simulated receiver.
#include "dab_receiver_fixture.h"

using namespace dabtest;

namespace {

class DabTuning : public Receiver {};

TEST_F(DabTuning, FrequencyListReportsTheBandIiiListFromPosition9) {
    const auto reply = send({0xB9, 0x00});
    ASSERT_FALSE(reply.err());
    EXPECT_EQ(reply.at(5), 41);
    EXPECT_EQ(reply.at(6), 0);
    EXPECT_EQ(reply.at(7), 0);
    EXPECT_EQ(reply.at(8), 0);
    ASSERT_EQ(reply.positions(), 9u + 4 * 41);
    EXPECT_EQ(reply.le32_at(9), 174928u);
    EXPECT_EQ(reply.le32_at(9 + 4 * 21), 210096u); // 10N
    EXPECT_EQ(reply.le32_at(9 + 4 * 40), 239200u);
}

TEST_F(DabTuning, SetFrequencyListReplacesTheListAndTuningFollowsIt) {
    std::vector<uint8_t> command{0xB8, 2, 0, 0};
    append_le32(command, 195936); // the default band's ensemble on index 12
    append_le32(command, 174928); // and the one on index 0
    ASSERT_FALSE(send(command).err());

    const auto list = send({0xB9, 0x00});
    ASSERT_EQ(list.at(5), 2);
    EXPECT_EQ(list.le32_at(9), 195936u);
    EXPECT_EQ(list.le32_at(13), 174928u);

    EXPECT_TRUE(tune(2).err()) << "index 2 is beyond the new two-entry list";
    ASSERT_FALSE(tune(0).err());
    wait(until_list());
    const auto status = digrad();
    EXPECT_EQ(status.le32_at(13), 195936u);
    EXPECT_EQ(status.at(17), 0);
    EXPECT_EQ(status.at(6) & 0x04, 0x04) << "the ensemble stays on its frequency, not its index";
}

TEST_F(DabTuning, SetFrequencyListRefusesAWrongLengthOrAnEmptyList) {
    std::vector<uint8_t> short_by_one{0xB8, 2, 0, 0};
    append_le32(short_by_one, 174928);
    short_by_one.insert(short_by_one.end(), {1, 2, 3});
    EXPECT_TRUE(send(short_by_one).err());

    std::vector<uint8_t> one_too_many{0xB8, 1, 0, 0};
    append_le32(one_too_many, 174928);
    append_le32(one_too_many, 176640);
    EXPECT_TRUE(send(one_too_many).err());

    EXPECT_TRUE(send({0xB8, 0, 0, 0}).err());
    EXPECT_EQ(send({0xB9, 0x00}).at(5), 41) << "a refused list leaves the old one";
}

TEST_F(DabTuning, SetFrequencyListTakesTheFull48Entries) {
    std::vector<uint8_t> command{0xB8, 48, 0, 0};
    for (uint32_t i = 0; i < 48; ++i) {
        append_le32(command, 170000 + i * 100);
    }
    ASSERT_FALSE(send(command).err());
    const auto list = send({0xB9, 0x00});
    EXPECT_EQ(list.at(5), 48);
    EXPECT_EQ(list.le32_at(9 + 4 * 47), 170000u + 47 * 100);
    EXPECT_FALSE(tune(47).err());
}

TEST_F(DabTuning, TuneBeyondTheListIsRejectedAndTheLastIndexIsAccepted) {
    EXPECT_TRUE(tune(41).err());
    EXPECT_TRUE(tune(255).err());
    EXPECT_EQ(radio.tuned_index(), -1);
    EXPECT_FALSE(tune(40).err());
    EXPECT_EQ(radio.tuned_index(), 40);
    EXPECT_TRUE(send({0xB0, 0x00, 3}).err()) << "a frame shorter than 6 bytes";
}

TEST_F(DabTuning, StcintComesTuneNsAfterTheTuneAndANewTuneClearsIt) {
    ASSERT_FALSE(tune(0).err());
    EXPECT_EQ(radio.status0_bits() & 0x01, 0);
    wait(radio.timing().tune_ns - 1);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0);
    wait(1);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0x01);

    ASSERT_FALSE(tune(5).err());
    EXPECT_EQ(radio.status0_bits() & 0x01, 0) << "a tune clears the previous tune's STCINT";
    wait(radio.timing().tune_ns);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0x01) << "an empty channel completes its tune too";
}

TEST_F(DabTuning, StcAckInTheReceptionStatusClearsStcint) {
    ASSERT_FALSE(tune(0).err());
    wait(radio.timing().tune_ns);
    ASSERT_EQ(radio.status0_bits() & 0x01, 0x01);
    send({0xB2, 0x00});
    EXPECT_EQ(radio.status0_bits() & 0x01, 0x01) << "no acknowledge bit: STCINT stays";
    send({0xB2, 0x01});
    EXPECT_EQ(radio.status0_bits() & 0x01, 0);
}

TEST_F(DabTuning, TuneTimeoutFaultHoldsStcintBackOnlyOnItsIndex) {
    fault("tune-timeout=7");
    ASSERT_FALSE(tune(7).err());
    wait(60 * s);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0);
    EXPECT_EQ(digrad().at(6) & 0x05, 0) << "neither valid nor acquired";

    ASSERT_FALSE(tune(0).err());
    wait(radio.timing().tune_ns);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0x01);

    fault("tune-timeout=always");
    ASSERT_FALSE(tune(0).err());
    wait(60 * s);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0) << "always: every index";
}

TEST_F(DabTuning, ReceptionStatusCarriesTheEnsembleFiguresByPosition) {
    const auto &e = ensemble_at(radio.band(), 0);
    tune_and_settle(0);
    const auto r = digrad();
    ASSERT_GE(r.positions(), 24u);
    EXPECT_EQ(r.at(6) & 0x05, 0x05) << "rssi valid and acquired";
    EXPECT_EQ(r.at(6) & 0x10, 0) << "no hardmute once acquired";
    EXPECT_EQ(r.at(7), e.reception.rssi);
    EXPECT_EQ(r.at(8), e.reception.snr);
    EXPECT_EQ(r.at(9), e.reception.fic_quality);
    EXPECT_EQ(r.at(10), e.reception.cnr);
    EXPECT_EQ(r.le16_at(11), e.reception.fib_errors);
    EXPECT_EQ(r.le32_at(13), 174928u);
    EXPECT_EQ(r.at(17), 0);
    EXPECT_NE(r.le16_at(19), 0) << "an antenna capacitor value is reported";
    EXPECT_EQ(r.le16_at(21), e.reception.cu_level);
    EXPECT_EQ(r.at(23), e.reception.fast_detect);
    ASSERT_GT(e.reception.fib_errors, 0) << "the default ensemble on 0 has FIB errors";
    EXPECT_EQ(r.at(6) & 0x08, 0x08);
}

TEST_F(DabTuning, AcquisitionFollowsStcintByAcquireNsWhileFicQualityIsThereAtStcint) {
    const auto &e = ensemble_at(radio.band(), 7);
    ASSERT_FALSE(tune(7).err());
    const auto before = digrad();
    EXPECT_EQ(before.at(7), 0) << "nothing measured before the tune completes";
    EXPECT_EQ(before.at(6) & 0x05, 0);

    wait(radio.timing().tune_ns);
    const auto at_stc = digrad();
    EXPECT_EQ(at_stc.at(6) & 0x05, 0x01) << "valid, not yet acquired";
    EXPECT_EQ(at_stc.at(6) & 0x10, 0x10) << "hardmute until acquired";
    EXPECT_EQ(at_stc.at(7), e.reception.rssi);
    EXPECT_EQ(at_stc.at(9), e.reception.fic_quality) << "a scan judges the channel here";
    EXPECT_EQ(at_stc.at(5) & 0x04, 0) << "no acquisition event yet";

    wait(radio.timing().acquire_ns - 1);
    EXPECT_EQ(digrad().at(6) & 0x04, 0);
    wait(1);
    const auto acquired = digrad();
    EXPECT_EQ(acquired.at(6) & 0x04, 0x04);
    EXPECT_EQ(acquired.at(5) & 0x04, 0x04) << "acquisition state changed";
}

TEST_F(DabTuning, DigradAckClearsTheInterruptsItReported) {
    tune_and_settle(0);
    EXPECT_NE(digrad().at(5), 0);
    EXPECT_NE(send({0xB2, 0x08}).at(5), 0) << "the acknowledging read still reports them";
    const auto after = digrad();
    EXPECT_EQ(after.at(5), 0);
    EXPECT_EQ(after.at(6) & 0x05, 0x05) << "states are not interrupts: they stay";
}

TEST_F(DabTuning, EmptyChannelShowsLowNoiseAndNoValidSignal) {
    tune_and_settle(1);
    const auto r = digrad();
    EXPECT_EQ(r.at(6) & 0x05, 0);
    EXPECT_EQ(r.at(6) & 0x10, 0x10);
    EXPECT_GT(r.at(7), 0);
    EXPECT_LT(r.at(7), 12) << "noise stays below the valid-RSSI threshold";
    EXPECT_EQ(r.at(9), 0);
    EXPECT_EQ(r.at(5) & 0x03, 0x02) << "below the RSSI threshold";
    EXPECT_EQ(r.le32_at(13), 176640u);
    EXPECT_EQ(r.at(17), 1);
}

TEST_F(DabTuning, NoSignalFaultSilencesAnOccupiedChannel) {
    fault("no-signal=0");
    tune_and_settle(0);
    const auto r = digrad();
    EXPECT_EQ(r.at(6) & 0x05, 0);
    EXPECT_EQ(r.at(9), 0);
    EXPECT_TRUE(service_list().err());

    tune_and_settle(7);
    EXPECT_EQ(digrad().at(6) & 0x05, 0x05) << "other channels are untouched";
}

TEST_F(DabTuning, WeakEnsembleIsValidButNeverAcquired) {
    // The default band's ensemble on index 33 has a valid signal whose FIC
    // never decodes: a scan must pass it over on its FIC quality.
    const auto &e = ensemble_at(radio.band(), 33);
    ASSERT_FALSE(e.reception.acquires);
    tune_and_settle(33);
    wait(10 * s);
    const auto r = digrad();
    EXPECT_EQ(r.at(6) & 0x05, 0x01);
    EXPECT_LT(r.at(9), 30);
    EXPECT_EQ(events().at(6) & 0x01, 0) << "no list without acquisition";
}

TEST_F(DabTuning, ValidRssiThresholdPropertyDecidesAnUnforcedSignal) {
    use_band(R"({"ensembles": [{"index": 2, "reception": {"rssi": 20},
                 "services": [{"id": 1, "components": [{"id": 1}]}]}]})");
    tune_and_settle(2);
    EXPECT_EQ(digrad().at(6) & 0x05, 0x05) << "20 reaches the chip's default threshold of 12";

    properties[0xB201] = 21;
    tune_and_settle(2);
    EXPECT_EQ(digrad().at(6) & 0x05, 0) << "20 is below a threshold of 21";
}

TEST_F(DabTuning, ForcedRssiValidOverridesTheThreshold) {
    use_band(R"({"ensembles": [{"index": 2, "reception": {"rssi": 3, "rssi_valid": true}},
                               {"index": 3, "reception": {"rssi": 90, "rssi_valid": false}}]})");
    tune_and_settle(2);
    EXPECT_EQ(digrad().at(6) & 0x01, 0x01);
    tune_and_settle(3);
    EXPECT_EQ(digrad().at(6) & 0x05, 0);
}

TEST_F(DabTuning, ChipResetForgetsTheTuneAndASetList) {
    std::vector<uint8_t> command{0xB8, 1, 0, 0};
    append_le32(command, 174928);
    ASSERT_FALSE(send(command).err());
    tune_and_settle(0);
    radio.chip_reset();
    EXPECT_EQ(radio.tuned_index(), -1);
    EXPECT_EQ(radio.status0_bits() & 0x01, 0);
    EXPECT_EQ(send({0xB9, 0x00}).at(5), 41);
    EXPECT_EQ(digrad().at(6) & 0x05, 0);
}

TEST_F(DabTuning, OpcodesOutsideTheReceiverAreNotItsOwnAndUnknownOnesAreRejected) {
    EXPECT_TRUE(sim::DabRadio::handles(0x80));
    EXPECT_TRUE(sim::DabRadio::handles(0xBC));
    EXPECT_FALSE(sim::DabRadio::handles(0x14));
    EXPECT_FALSE(sim::DabRadio::handles(0xC0));
    EXPECT_TRUE(send({0xB1, 0x00}).err());
    EXPECT_TRUE(radio.execute(nullptr, 0).err_cmd);
}

TEST_F(DabTuning, EnsembleInfoIsRefusedUntilAcquisitionThenGivesIdAndLabel) {
    const auto &e = ensemble_at(radio.band(), 7);
    EXPECT_TRUE(send({0xB4, 0x00}).err()) << "nothing tuned";
    ASSERT_FALSE(tune(7).err());
    wait(radio.timing().tune_ns + radio.timing().acquire_ns - 1);
    EXPECT_TRUE(send({0xB4, 0x00}).err()) << "valid, not yet acquired";
    wait(1);
    const auto info = send({0xB4, 0x00});
    ASSERT_FALSE(info.err());
    EXPECT_EQ(info.le16_at(5), e.id);
    for (std::size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(info.at(7 + i), e.label[i]) << "label byte " << i;
    }
    EXPECT_TRUE(send({0xB4, 0x01}).err()) << "a reserved argument bit";
    EXPECT_TRUE(send({0xB4}).err());
}

} // namespace
