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

    // ---- the kernel's spidev and GPIO character devices (BoardKernel.cpp) ----
    int sys_open(const char *path, int flags);
    int sys_close(int fd);
    int sys_ioctl(int fd, unsigned long request, void *argument);
    const char *device_tree_node();
    const char *gpiochip_node(unsigned index);
    // The chip lock: a real flock on the board's device node, so that
    // another process (a second program, a test) meets it as on a Pi.
    int sys_lock(const char *path);
    int sys_unlock(int fd);
    const char *locks_node();
    // This process was refused the chip: it leaves the board's files to
    // the program that holds it.
    bool lock_refused() const { return lock_refused_; }
    void set_pi_model(PiModel model);
    PiModel pi_model() const { return pi_model_; }
    std::string device_tree_path();
    std::size_t open_descriptors() const { return handles_.size(); }
    bool reset_line_requested() const;
    SpidevSettings spidev_settings() const { return spidev_; }

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
    // One chip-select frame of `length` bytes in place, each byte taking
    // `byte_ns`; it reaches the chip when `reaches` says so. Both paths' frames
    // come through here, so the trace, the frames and the stats are the same.
    void move_frame(uint8_t *bytes, uint32_t length, bool reaches, uint64_t byte_ns);

    // BoardKernel.cpp
    struct KernelHandle {
        enum class Kind { Spidev, Chip, Line } kind = Kind::Spidev;
        unsigned chip = 0;   // GPIO chip index (Chip, Line)
        uint32_t offset = 0; // line offset (Line)
        std::string name;    // as calls() names it
    };
    int kernel_fail(const std::string &call, int error);
    int spidev_ioctl(const KernelHandle &handle, unsigned long request, void *argument);
    int chip_ioctl(const KernelHandle &handle, unsigned long request, void *argument);
    int line_ioctl(const KernelHandle &handle, unsigned long request, void *argument);
    bool line_drives_reset(const KernelHandle &handle) const;
    void apply_line_flags(const KernelHandle &handle, uint64_t flags, bool high);
    void write_device_tree();
    void forget_kernel_handles();

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
    PiModel pi_model_ = PiModel::Pi4;
    std::map<int, KernelHandle> handles_;
    int next_fd_ = 3;
    SpidevSettings spidev_;
    std::string device_tree_path_;
    std::string gpiochip_path_;
    std::string node_path_;
    std::string saved_in_memory_; // save_state of an in-memory board
    std::map<std::string, std::string> last_written_;
    bool exit_hook_ = false;
    bool lock_refused_ = false;
    int lock_fd_ = -1;
    std::FILE *calls_file_ = nullptr; // SI468X_SIM_CALLS
};

} // namespace sim
