// SPDX-License-Identifier: GPL-3.0-or-later
// The board settings that turn a behaviour the radio relies on into its
// opposite (sim/README.md, "What the radio relies on"): each one against the
// default behaviour it replaces.
#include <string>

#include "SimBoard.h"
#include "dab_receiver_fixture.h"
#include "scratch_dir.h"

using namespace dabtest;

namespace {

constexpr uint8_t STCINT = 0x01;

class RelianceSetting : public Receiver {
protected:
    void start_harbour() {
        tune_and_settle(0);
        ASSERT_FALSE(send(frame12(0x81, 0, harbour, harbour_audio)).err());
    }
    static std::string text_of(const Reply &r) {
        const uint16_t count = r.le16_at(19);
        return count < 3 ? std::string()
                         : std::string(r.outcome.resp.begin() + 20 + 2,
                                       r.outcome.resp.begin() + 20 + count - 1);
    }
    void overflow_the_buffer() {
        start_harbour();
        auto &t = radio.timing();
        t.packet_interval_ns = 3600 * s;
        wait(t.first_text_ns + 20 * t.text_interval_ns); // 21 texts, room for 8
    }
};

TEST_F(RelianceSetting, ByDefaultANewTuneClearsStcint) {
    tune_and_settle(0);
    ASSERT_NE(radio.status0_bits() & STCINT, 0);
    ASSERT_FALSE(tune(7).err());
    EXPECT_EQ(radio.status0_bits() & STCINT, 0);
}

TEST_F(RelianceSetting, StcintStickyKeepsItUntilStcAck) {
    fault("stcint-sticky");
    tune_and_settle(0);
    ASSERT_FALSE(tune(7).err());
    EXPECT_NE(radio.status0_bits() & STCINT, 0) << "the first tune's STCINT is still set";
    EXPECT_EQ(digrad().at(7), 0) << "nothing measured yet on the new channel";
    ASSERT_FALSE(send({0xB2, 0x01}).err()); // STC_ACK
    EXPECT_EQ(radio.status0_bits() & STCINT, 0);
    wait(radio.timing().tune_ns);
    EXPECT_NE(radio.status0_bits() & STCINT, 0) << "the new tune's own STCINT";
    radio.chip_reset();
    EXPECT_EQ(radio.status0_bits() & STCINT, 0);
}

TEST_F(RelianceSetting, FicQualityLateKeepsTheFiguresBackUntilAcquisition) {
    const auto &harbour_reception = ensemble_at(radio.band(), 0).reception;
    ASSERT_FALSE(tune(0).err());
    wait(radio.timing().tune_ns);
    EXPECT_EQ(digrad().at(9), harbour_reception.fic_quality) << "by default at STCINT";

    fault("fic-quality-late");
    ASSERT_FALSE(tune(0).err());
    wait(radio.timing().tune_ns);
    const auto early = digrad();
    EXPECT_EQ(early.at(9), 0);
    EXPECT_EQ(early.at(6) & 0x01, 0) << "RSSI valid";
    EXPECT_EQ(early.at(8), 0) << "SNR";
    EXPECT_EQ(early.at(10), 0) << "CNR";
    EXPECT_EQ(early.at(7), harbour_reception.rssi) << "the RSSI itself is there";
    wait(radio.timing().acquire_ns);
    const auto acquired = digrad();
    EXPECT_EQ(acquired.at(6) & 0x05, 0x05);
    EXPECT_EQ(acquired.at(9), harbour_reception.fic_quality);
}

TEST_F(RelianceSetting, OverflowStickyStaysUntilIntack) {
    fault("overflow-sticky");
    overflow_the_buffer();
    EXPECT_EQ(data_status().at(5), 0x03);
    EXPECT_EQ(data_status().at(5), 0x03) << "not cleared by the read that reported it";
    EXPECT_EQ(data_full().at(5), 0x03);
    EXPECT_EQ(send({0x84, 0x11}).at(5), 0x01) << "INTACK clears it";
    EXPECT_EQ(data_status().at(5), 0x01);
}

TEST_F(RelianceSetting, PacketNeedsAckRepeatsThePacketUntilAcknowledged) {
    fault("packet-needs-ack");
    start_harbour();
    const auto &t = radio.timing();
    wait(t.first_text_ns + t.text_interval_ns); // two texts
    const auto first = data_full();
    ASSERT_EQ(first.at(5) & 0x01, 0x01);
    EXPECT_EQ(first.at(6), 2) << "the packet sent stays in the buffer";
    EXPECT_EQ(text_of(data_full()), text_of(first)) << "the same packet again";
    ASSERT_FALSE(send({0x84, 0x11}).err()); // acknowledges the packet the full read sent
    const auto second = data_full();
    EXPECT_NE(text_of(second), text_of(first));
    EXPECT_EQ(second.at(6), 1);
}

// ---- across processes ------------------------------------------------------------

class RelianceAcrossProcesses : public ::testing::Test {
protected:
    tunelark::test::ScratchDir dir{"reliance-settings"};

    // An earlier process left the chip running with volume 40 and playing.
    void leave_running() {
        sim::reset_for_test();
        sim::use_directory(dir.path());
        sim::set_chip_running();
        sim::set_property(0x0300, 40);
        sim::save_state();
        sim::reset_for_test();
        sim::use_directory(dir.path());
    }
};

TEST_F(RelianceAcrossProcesses, ByDefaultARunningChipKeepsItsPropertiesAndRuns) {
    leave_running();
    sim::load_state();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_EQ(sim::property(0x0300), 40);
}

TEST_F(RelianceAcrossProcesses, TakeoverDefaultsForgetsTheProperties) {
    leave_running();
    ASSERT_TRUE(sim::set_faults("takeover-defaults"));
    sim::load_state();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_EQ(sim::property(0x0300), 63);
}

TEST_F(RelianceAcrossProcesses, HostExitResetsChipHoldsItInReset) {
    leave_running();
    ASSERT_TRUE(sim::set_faults("host-exit-resets-chip"));
    sim::load_state();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
}

} // namespace
