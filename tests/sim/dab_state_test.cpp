// SPDX-License-Identifier: GPL-3.0-or-later
// What a chip left running keeps for the next process: tuning and the started service.
#include "dab_receiver_fixture.h"

using namespace dabtest;

namespace {

class DabState : public Receiver {
protected:
    // A second process: its own clock from zero, the same faults and properties.
    struct NextProcess {
        NextProcess(const sim::Faults &f, const std::map<uint16_t, uint16_t> &p)
            : radio(clock, f, p) {
            clock.set_mode(sim::ClockMode::Virtual);
        }
        sim::Clock clock;
        sim::DabRadio radio;
        sim::Outcome send(std::vector<uint8_t> command) {
            return radio.execute(command.data(), command.size());
        }
    };
};

TEST_F(DabState, AFreshReceiverSavesNothingTunedOrStarted) {
    std::map<std::string, std::string> state;
    radio.save(state);
    NextProcess next(faults, properties);
    next.radio.load(state);
    EXPECT_EQ(next.radio.tuned_index(), -1);
    EXPECT_FALSE(next.radio.service_started(nullptr, nullptr));
}

TEST_F(DabState, TunedIndexAndStartedServiceSurviveAndTextsGoOnInTheNextProcess) {
    tune_and_settle(0);
    ASSERT_FALSE(send(frame12(0x81, 0, 0xD210, 0x0004)).err());
    std::map<std::string, std::string> state;
    radio.save(state);

    NextProcess next(faults, properties);
    next.radio.load(state);
    EXPECT_EQ(next.radio.tuned_index(), 0);
    uint32_t service = 0;
    uint32_t component = 0;
    ASSERT_TRUE(next.radio.service_started(&service, &component));
    EXPECT_EQ(service, 0xD210u);
    EXPECT_EQ(component, 0x0004u);

    // Long tuned: every phase is complete at once.
    EXPECT_EQ(next.radio.status0_bits() & 0x01, 0x01);
    const auto status = next.send({0xB2, 0x00});
    EXPECT_EQ(status.resp.at(1) & 0x05, 0x05);
    EXPECT_FALSE(next.send({0x80, 0x00}).err_cmd) << "the list is there without waiting";
    EXPECT_EQ(next.send({0xB3, 0x01}).resp.at(0) & 0x01, 0) << "announced in the earlier run";

    next.clock.sleep_ns(next.radio.timing().first_text_ns);
    const auto packet = next.send({0x84, 0x00});
    EXPECT_EQ(packet.resp.at(0) & 0x01, 0x01) << "texts resume on the new process's clock";
    EXPECT_EQ(le32(packet.resp, 4), 0xD210u);
}

TEST_F(DabState, ASetFrequencyListIsKept) {
    std::vector<uint8_t> command{0xB8, 2, 0, 0};
    append_le32(command, 227360);
    append_le32(command, 211648);
    ASSERT_FALSE(send(command).err());
    ASSERT_FALSE(tune(1).err());
    std::map<std::string, std::string> state;
    radio.save(state);

    NextProcess next(faults, properties);
    next.radio.load(state);
    const auto list = next.send({0xB9, 0x00});
    ASSERT_EQ(list.resp.at(0), 2);
    EXPECT_EQ(le32(list.resp, 4), 227360u);
    EXPECT_EQ(next.radio.tuned_index(), 1);
    EXPECT_EQ(le32(next.send({0xB2, 0x00}).resp, 8), 211648u);
}

TEST_F(DabState, DamagedStateLoadsAsAnIdleReceiver) {
    const std::vector<std::map<std::string, std::string>> damaged{
        {{"tuned_index", "41"}},
        {{"tuned_index", "-3"}},
        {{"tuned_index", "seven"}},
        {{"tuned_index", ""}, {"started_service", "53776 4"}},
    };
    for (const auto &state : damaged) {
        NextProcess next(faults, properties);
        next.radio.load(state);
        EXPECT_EQ(next.radio.tuned_index(), -1);
        EXPECT_FALSE(next.radio.service_started(nullptr, nullptr));
    }
    NextProcess next(faults, properties);
    next.radio.load({{"tuned_index", "3"}, {"started_service", "x y"}, {"frequency_list", "1,,2"}});
    EXPECT_EQ(next.radio.tuned_index(), 3) << "a good index survives bad neighbours";
    EXPECT_FALSE(next.radio.service_started(nullptr, nullptr));
    EXPECT_EQ(next.send({0xB9, 0x00}).resp.at(0), 41);
}

TEST_F(DabState, LoadReplacesWhatTheReceiverHeld) {
    tune_and_settle(0);
    ASSERT_FALSE(send(frame12(0x81, 0, 0xD210, 0x0004)).err());
    radio.load({});
    EXPECT_EQ(radio.tuned_index(), -1);
    EXPECT_FALSE(radio.service_started(nullptr, nullptr));
}

TEST_F(DabState, ChipResetEndsTheServiceButKeepsTheBand) {
    use_band(
        R"({"ensembles": [{"index": 5, "services": [{"id": 9, "components": [{"id": 1}]}]}]})");
    tune_and_settle(5);
    ASSERT_FALSE(send(frame12(0x81, 0, 9, 1)).err());
    radio.chip_reset();
    EXPECT_FALSE(radio.service_started(nullptr, nullptr));
    EXPECT_EQ(radio.band().ensembles.size(), 1u);
    std::map<std::string, std::string> state;
    radio.save(state);
    NextProcess next(faults, properties);
    next.radio.load(state);
    EXPECT_EQ(next.radio.tuned_index(), -1);
}

} // namespace
