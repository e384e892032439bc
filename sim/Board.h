// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated receiver board as one object: the Pi's GPIO and SPI0, the
// Si468x behind them, the clock, the faults, and the files through which the
// board outlives a process. The bcm2835 functions (Bcm2835.cpp) and the test
// API (SimBoard.cpp) both reach it through Board::host() and Board::test().
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Chip.h"
#include "Clock.h"
#include "Faults.h"
#include "Gpio.h"
#include "SimBoard.h"
#include "SpiBus.h"
#include "Trace.h"

namespace sim {

class Board {
public:
    // The board as the host program meets it: on first use it configures
    // itself from SI468X_SIM_* (unless a test set it up first).
    static Board &host();
    // The board as a test meets it: a first use starts from reset_for_test().
    static Board &test();

    void reset_for_test();

    // ---- bcm2835 ----
    int init();
    int close();
    void gpio_fsel(uint8_t pin, uint8_t mode);
    void gpio_set_pud(uint8_t pin, uint8_t pud);
    void gpio_write(uint8_t pin, uint8_t on);
    uint8_t gpio_lev(uint8_t pin);
    int spi_begin();
    void spi_end();
    void spi_set_bit_order(uint8_t order);
    void spi_set_data_mode(uint8_t mode);
    void spi_set_clock_divider(uint16_t divider);
    void spi_chip_select(uint8_t cs);
    void spi_set_chip_select_polarity(uint8_t cs, uint8_t active);
    void spi_transfern(char *buffer, uint32_t length);
    void delay_ms(unsigned int ms);
    void delay_us(uint64_t us);
    const char *device_node();

    // ---- parts, for the test API ----
    Clock &clock() { return clock_; }
    Chip &chip() { return *chip_; }
    const Gpio &gpio() const { return gpio_; }
    const SpiBus &spi() const { return spi_; }
    bool peripherals_open() const { return peripherals_open_; }
    const Stats &stats() const { return stats_; }
    const std::vector<std::string> &calls() const { return calls_; }
    void clear_calls() { calls_.clear(); }
    void record_calls(bool on) { record_calls_ = on; }
    const std::vector<Frame> &frames() const { return frames_; }
    void clear_frames() { frames_.clear(); }
    void record_frames(bool on) { record_frames_ = on; }
    void trace_to(const std::string &path) { trace_.open(path); }

    bool set_faults(const std::string &list, std::string *error);
    void clear_faults();
    // No chip answers: the absent fault, or a configuration the board could
    // not take.
    bool absent() const;

    // As if an earlier run had booted the DAB image and left it running.
    void set_chip_running();

    // ---- files (BoardFiles.cpp) ----
    void use_directory(const std::string &directory);
    const std::string &directory() const { return directory_; }
    void save_state();
    void load_state();
    // After a change the test API made to something the state file holds.
    void persist_if_changed();
    void set_spidev_present(bool present);
    std::string spidev_path();
    std::string errors_path();
    void report_error(const std::string &message);

    // Calls kept at most; past that newer calls are not recorded.
    static constexpr std::size_t calls_cap = 200'000;

private:
    Board();
    static Board &instance();
    void configure_from_environment();
    void record(const std::string &call);
    void reset_line_changed();
    bool frame_reaches_chip() const;

    // BoardFiles.cpp
    std::map<std::string, std::string> snapshot() const;
    void write_state(const std::map<std::string, std::string> &snapshot);
    void apply_state(const std::map<std::string, std::string> &state);
    void open_directory(const std::string &directory);
    std::string scratch_directory();
    void write_stats() const;
    static void at_exit();

    bool configured_ = false;
    bool from_environment_ = false;
    bool broken_ = false; // a configuration error: the board behaves as absent
    Clock clock_;
    Faults faults_;
    Gpio gpio_;
    SpiBus spi_;
    std::unique_ptr<Chip> chip_;
    bool peripherals_open_ = false;
    bool reset_released_ = false;
    Stats stats_;
    uint64_t clock_at_start_ns_ = 0;

    std::vector<std::string> calls_;
    bool record_calls_ = true;
    std::vector<Frame> frames_;
    bool record_frames_ = false;
    TraceFile trace_;
    std::vector<uint8_t> scratch_in_;

    std::string directory_;
    std::string scratch_directory_; // node and errors of an in-memory board
    long scratch_owner_pid_ = 0;
    bool spidev_present_ = true;
    std::string node_path_;
    std::string saved_in_memory_; // save_state of an in-memory board
    std::map<std::string, std::string> last_written_;
    bool exit_hook_ = false;
};

} // namespace sim
