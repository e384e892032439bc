// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers that fail mid-run: on the kernel path the failing ioctl reports
// itself and the radio names the board link where it would otherwise blame
// the reception; on the bcm2835 path, where a transfer cannot fail visibly,
// the chip merely reads silent and the reception's messages stay.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "support/RadioBench.h"

namespace e2e {
namespace {

constexpr char kLinkWords[] = "The SPI transfer failed (Input/output error)";

bool kernelPath() {
    const char *pi = std::getenv("SI468X_SIM_PI");
    return pi != nullptr && std::string(pi) == "5";
}

class BoardLinkFails : public ::testing::Test {
protected:
    RadioBench bench;

    // A station list from a clean first start, the chip powered down.
    void scanAndQuit() {
        auto term = bench.firstStart();
        ASSERT_FALSE(HasFailure());
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }
};

TEST_F(BoardLinkFails, ScanWhoseTunesFailNamesTheLinkNotTheAntenna) {
    // The bring-up goes through; then every tune of the scan fails.
    bench.faults = "transfer-fail=0xB0";
    auto term = bench.start();
    ASSERT_TRUE(term->waitForOutput("Please confirm with pressing ENTER")) << term->output();
    term->send("\r");
    const ExitStatus status = term->waitExit(60s);
    ASSERT_TRUE(status.exited) << term->output();
    EXPECT_EQ(status.code, 0);
    const std::string console = consoleText(term->output());
    if (kernelPath()) {
        EXPECT_NE(console.find(std::string(kLinkWords) + ": check the board's connection. Exit.\n"),
                  std::string::npos)
            << console;
        EXPECT_EQ(console.find("No services found"), std::string::npos) << console;
    } else {
        EXPECT_NE(console.find("No services found... quit\n"), std::string::npos) << console;
    }
    EXPECT_FALSE(bench.hasStationList());
}

TEST_F(BoardLinkFails, VolumeThatIsNotSetAndTextsThatStopSaySo) {
    ASSERT_NO_FATAL_FAILURE(scanAndQuit());
    const std::string scanned = bench.stationList();

    // Property writes and packet reads fail from here on: the bring-up's
    // writes go unnoticed, as they always have, the menu comes up.
    bench.faults = "transfer-fail=0x13";
    {
        auto term = bench.start();
        ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
        term->send("q");
        if (kernelPath()) {
            EXPECT_TRUE(term->waitForText(std::string("Volume 62 not set: ") + kLinkWords, 5s))
                << term->dump();
            EXPECT_EQ(bench.stationList(), scanned) << "the file keeps the volume in force";
        } else {
            EXPECT_TRUE(term->waitUntil([&] { return bench.storedVolume() == 62u; }, 5s));
        }
        term->send("x");
        ASSERT_TRUE(term->waitExit().exited);
    }

    bench.faults = "transfer-fail=0x84";
    auto term = bench.start();
    ASSERT_TRUE(waitForMenu(*term)) << consoleText(term->output());
    term->send("\r");
    ASSERT_TRUE(term->waitForText("Playing: ", 10s)) << term->dump();
    if (kernelPath()) {
        EXPECT_TRUE(term->waitForRow(term->rows() - 3, kLinkWords, 5s)) << term->dump();
    } else {
        term->settle(1s);
        EXPECT_EQ(term->find("SPI"), -1) << term->dump();
    }
    term->send("x");
    ASSERT_TRUE(term->waitExit().exited);
}

} // namespace
} // namespace e2e
