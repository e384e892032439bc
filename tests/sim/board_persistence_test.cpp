// SPDX-License-Identifier: GPL-3.0-or-later
// The board outlives a process: what one run leaves in the board directory
// the next finds, and a host process takes its whole configuration from its
// environment.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "BusHost.h"
#include "SimBoard.h"
#include "Trace.h"
#include "run_program.h"
#include "scratch_dir.h"

extern "C" const char *Si468x_SPI_device_node(void);

using namespace bus_host;
using tunelark::test::read_file;
namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> read_pairs(const fs::path &path) {
    std::map<std::string, std::string> pairs;
    std::istringstream lines(read_file(path.string()));
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            pairs[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return pairs;
}

ino_t inode(const fs::path &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class BoardPersistence : public ::testing::Test {
protected:
    void SetUp() override {
        sim::reset_for_test();
        board_ = root_ / "board";
    }
    // The scratch directory goes after this: the board has let go of it.
    void TearDown() override { sim::reset_for_test(); }

    // A new process: nothing of this one's board but what the directory holds.
    void new_process() {
        sim::reset_for_test();
        sim::use_directory(board_.string());
    }

    tunelark::test::ScratchDir scratch_{"board-test"};
    fs::path root_{scratch_.path()};
    fs::path board_;
};

TEST_F(BoardPersistence, FreshDirectoryBecomesABoardWithItsNode) {
    sim::use_directory((board_ / "nested").string());
    EXPECT_TRUE(fs::exists(board_ / "nested" / "spidev0.0"));
    EXPECT_TRUE(fs::exists(board_ / "nested" / "state"));
    EXPECT_EQ(std::string(Si468x_SPI_device_node()), (board_ / "nested" / "spidev0.0").string());
    EXPECT_EQ(read_pairs(board_ / "nested" / "state").at("chip.state"), "reset");
}

TEST_F(BoardPersistence, RunningChipIsFoundRunningWithItsProperties) {
    sim::use_directory(board_.string());
    open_bus();
    bcm2835_gpio_set_pud(7, BCM2835_GPIO_PUD_UP);
    ASSERT_EQ(status3(bring_up()), 0xC0);
    set_property(0x0300, 17);
    bcm2835_spi_end();
    bcm2835_close();

    new_process();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Running);
    EXPECT_EQ(sim::running_image(), 2);
    EXPECT_TRUE(sim::pin(23).level);
    EXPECT_EQ(sim::pin(7).pud, 2) << "pulls outlive the process too";
    open_bus();
    EXPECT_EQ(status3(read(7)), 0xC0) << "no reset needed";
    EXPECT_EQ(get_property(0x0300), 17);
    const Bytes func = command({0x12, 0x00}, 13);
    EXPECT_EQ((Bytes{func[5], func[6], func[7]}), (Bytes{6, 0, 6}));
}

TEST_F(BoardPersistence, PoweredDownChipIsFoundHeldInReset) {
    sim::use_directory(board_.string());
    open_bus();
    ASSERT_EQ(status3(bring_up()), 0xC0);
    bcm2835_gpio_write(23, LOW);
    bcm2835_close();

    new_process();
    EXPECT_EQ(sim::chip_state(), sim::ChipState::Reset);
    EXPECT_EQ(sim::pin(23).function, 1);
    EXPECT_FALSE(sim::pin(23).level);
    open_bus();
    EXPECT_EQ(read(7), Bytes(7, 0));
    // Releasing the line finds a chip that must be brought up again.
    bcm2835_gpio_write(23, HIGH);
    EXPECT_EQ(status3(read(7)), 0x00);
}

TEST_F(BoardPersistence, IdentityTravelsWithTheBoard) {
    sim::use_directory(board_.string());
    sim::ChipIdentity identity;
    identity.part = 4689;
    identity.svn_id = 99;
    sim::set_identity(identity);
    new_process();
    open_bus();
    ASSERT_EQ(status3(bring_up()), 0xC0);
    const Bytes part = command({0x08, 0x00}, 24);
    EXPECT_EQ(part[9] | part[10] << 8, 4689);
    EXPECT_EQ(command({0x12, 0x00}, 13)[9], 99);
}

TEST_F(BoardPersistence, DeletedNodeStaysDeleted) {
    sim::use_directory(board_.string());
    fs::remove(board_ / "spidev0.0");
    new_process();
    EXPECT_FALSE(fs::exists(board_ / "spidev0.0"));
    EXPECT_FALSE(fs::exists(Si468x_SPI_device_node()));
    sim::set_spidev_present(true);
    EXPECT_TRUE(fs::exists(Si468x_SPI_device_node()));
}

TEST_F(BoardPersistence, StateIsRewrittenOnChangeOnlyAndNotPerChunk) {
    sim::use_directory(board_.string());
    open_bus();
    reset_pulse();
    command(power_up_bytes, 5);
    ASSERT_TRUE(upload(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE));
    command({0x06, 0x00});
    const ino_t before_chunks = inode(board_ / "state");
    for (int i = 0; i < 20; ++i) {
        read(7);
        command({0x09, 0x00}, 7);
    }
    for (std::size_t at = 0; at < FW_DAB_RADIO_6_0_6_SIZE; at += 4092) {
        const std::size_t n = std::min<std::size_t>(4092, FW_DAB_RADIO_6_0_6_SIZE - at);
        Bytes cmd = {0x04, 0x00, 0x00, 0x00};
        cmd.insert(cmd.end(), fw_dab_radio_6_0_6bin + at, fw_dab_radio_6_0_6bin + at + n);
        command(cmd);
    }
    EXPECT_EQ(inode(board_ / "state"), before_chunks);
    ASSERT_EQ(status3(boot()), 0xC0);
    EXPECT_NE(inode(board_ / "state"), before_chunks);
    EXPECT_EQ(read_pairs(board_ / "state").at("chip.state"), "running");
}

TEST_F(BoardPersistence, StateFileIsKeyValueLines) {
    sim::use_directory(board_.string());
    open_bus();
    ASSERT_EQ(status3(bring_up()), 0xC0);
    set_property(0x0300, 5);
    const auto state = read_pairs(board_ / "state");
    EXPECT_EQ(state.at("reset_line"), "1");
    EXPECT_EQ(state.at("pin.23"), "1,0,1");
    EXPECT_EQ(state.at("chip.image"), "2");
    EXPECT_EQ(state.at("chip.revision"), "6.0.6");
    EXPECT_EQ(state.at("prop.0x0300"), "5");
    EXPECT_GT(std::stoull(state.at("clock_ns")), 500'000'000ULL) << "the upload took its time";
}

TEST_F(BoardPersistence, ClockGoesOnFromWhereTheLastProcessLeftIt) {
    sim::use_directory(board_.string());
    open_bus();
    bcm2835_delay(1500);
    reset_pulse();
    // The state was last written when the reset line rose, 50 ms ago.
    const uint64_t last_change = sim::now_ns() - 50'000'000;
    new_process();
    EXPECT_EQ(sim::now_ns(), last_change);
    bcm2835_delay(10);
    sim::save_state();
    const uint64_t saved = sim::now_ns();
    new_process();
    EXPECT_EQ(sim::now_ns(), saved);
}

// ---- a host process --------------------------------------------------------

// The test program started again with TUNELARK_SIM_HOST_CHILD set plays a
// host: its first bcm2835 call configures the board from the environment.
void host_child(const std::string &mode) {
    if (mode == "bring-up") {
        open_bus();
        ASSERT_EQ(status3(bring_up()), 0xC0);
        set_property(0x0300, 17);
        bcm2835_delay(2000);
    } else if (mode == "take-over") {
        open_bus();
        EXPECT_EQ(status3(read(7)), 0xC0);
        EXPECT_EQ(get_property(0x0300), 17);
    } else if (mode == "absent") {
        open_bus();
        reset_pulse();
        EXPECT_EQ(read(7), Bytes(7, 0));
    } else if (mode == "real-clock") {
        open_bus();
        const auto start = std::chrono::steady_clock::now();
        bcm2835_delay(30);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    } else {
        FAIL() << mode;
    }
}

int run_child(const std::string &mode, const std::map<std::string, std::string> &env) {
    tunelark::test::ProgramOptions options;
    options.program = fs::read_symlink("/proc/self/exe").string();
    options.args = {"--gtest_filter=BoardHostProcess.TakesItsConfigurationFromTheEnvironment",
                    "--gtest_brief=1"};
    // The child configures its board from the variables given here alone.
    options.env_prefixes_removed = {"SI468X_SIM_", "TMPDIR="};
    options.env.emplace_back("TUNELARK_SIM_HOST_CHILD", mode);
    options.env.insert(options.env.end(), env.begin(), env.end());
    const auto result = tunelark::test::run_program(options);
    // What the child's checks reported, shown with the parent's failure.
    std::fputs(result.out.c_str(), stdout);
    std::fputs(result.err.c_str(), stderr);
    return result.exited ? result.exit_status : -1;
}

class BoardHostProcess : public ::testing::Test {
protected:
    // The child must meet an untouched board, so only the parent prepares.
    void SetUp() override {
        if (child()) {
            return;
        }
        scratch_.emplace("board-host");
        root_ = scratch_->path();
        board_ = root_ / "board";
    }
    static bool child() { return std::getenv("TUNELARK_SIM_HOST_CHILD") != nullptr; }

    std::optional<tunelark::test::ScratchDir> scratch_;
    fs::path root_;
    fs::path board_;
};

TEST_F(BoardHostProcess, TakesItsConfigurationFromTheEnvironment) {
    if (const char *mode = std::getenv("TUNELARK_SIM_HOST_CHILD")) {
        host_child(mode);
        return;
    }
    const std::map<std::string, std::string> env = {
        {"SI468X_SIM_BOARD", board_.string()},
        {"SI468X_SIM_CLOCK", "virtual"},
        {"SI468X_SIM_TRACE", (root_ / "trace").string()},
        {"TMPDIR", root_.string()},
    };
    ASSERT_EQ(run_child("bring-up", env), 0);
    EXPECT_TRUE(fs::exists(board_ / "spidev0.0"));
    EXPECT_EQ(read_pairs(board_ / "state").at("prop.0x0300"), "17");

    const auto stats = read_pairs(board_ / "stats");
    EXPECT_EQ(stats.at("command.0x04"), "124") << "2 patch and 122 image chunks";
    EXPECT_EQ(stats.at("command.0x07"), "1");
    const uint64_t elapsed = std::stoull(stats.at("elapsed_ns"));
    EXPECT_GT(elapsed, 2'750'000'000ULL) << "2 s delay, reset pulse, upload and boot";
    EXPECT_LT(elapsed, 4'000'000'000ULL);

    // One trace line per frame, each "<start> <end> <out> | <in>" with as
    // many bytes in as out (the reader takes no other).
    std::istringstream trace(read_file((root_ / "trace").string()));
    std::string line;
    std::size_t lines = 0;
    while (std::getline(trace, line)) {
        ++lines;
        const auto frame = sim::parse_trace_line(line);
        ASSERT_TRUE(frame.has_value()) << line;
        EXPECT_LE(frame->start_us, frame->end_us) << line;
        EXPECT_FALSE(frame->out.empty()) << line;
    }
    EXPECT_EQ(std::to_string(lines), stats.at("frames"));

    ASSERT_EQ(run_child("take-over", env), 0);

    auto faulty = env;
    faulty["SI468X_SIM_FAULTS"] = "absent,unheard-of=3";
    ASSERT_EQ(run_child("absent", faulty), 0);
    EXPECT_NE(read_file((board_ / "errors").string()).find("unheard-of"), std::string::npos);

    // Without SI468X_SIM_BOARD the board lives in $TMPDIR/si468x-sim-board;
    // without SI468X_SIM_CLOCK delays really sleep.
    ASSERT_EQ(run_child("real-clock", {{"TMPDIR", root_.string()}}), 0);
    EXPECT_TRUE(fs::exists(root_ / "si468x-sim-board" / "state"));

    auto bad_clock = env;
    bad_clock["SI468X_SIM_CLOCK"] = "sundial";
    ASSERT_EQ(run_child("absent", bad_clock), 0);
    EXPECT_NE(read_file((board_ / "errors").string()).find("sundial"), std::string::npos);

    auto bad_timing = env;
    bad_timing["SI468X_SIM_TIMING"] = "first-text=200,text-interval=soon";
    ASSERT_EQ(run_child("absent", bad_timing), 0);
    EXPECT_NE(read_file((board_ / "errors").string()).find("text-interval"), std::string::npos);
}

} // namespace
