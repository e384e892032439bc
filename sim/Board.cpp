// SPDX-License-Identifier: GPL-3.0-or-later
// The board's wiring: bcm2835 calls move pins and the SPI block, the reset
// line drives the chip, and each transfer is one chip-select frame that
// reaches the chip only when the bus is claimed and set up as the chip needs.
#include "Board.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "ChipProtocol.h"

namespace sim {

namespace {

constexpr uint8_t PIN_RSTB = 23;
constexpr uint8_t PIN_CE1 = 7;
constexpr uint8_t PIN_CE0 = 8;
constexpr uint8_t PIN_SCLK = 11;
// With nothing driving MISO the host reads zeros: an absent or silent chip
// shows CTS clear, never a plausible status.
constexpr uint8_t MISO_FLOATING = 0x00;

std::string call_text(const char *name, std::initializer_list<unsigned long long> args) {
    std::string text = name;
    text += '(';
    bool first = true;
    for (const auto arg : args) {
        if (!first) {
            text += ',';
        }
        text += std::to_string(arg);
        first = false;
    }
    text += ')';
    return text;
}

} // namespace

Board::Board() : chip_(std::make_unique<Chip>(clock_, faults_)) {}

Board &Board::host() {
    Board &board = instance();
    if (!board.configured_) {
        board.configure_from_environment();
    }
    return board;
}

Board &Board::test() {
    Board &board = instance();
    if (!board.configured_) {
        board.reset_for_test();
    }
    return board;
}

Board &Board::instance() {
    static Board *board = new Board();
    return *board;
}

void Board::reset_for_test() {
    configured_ = true;
    from_environment_ = false;
    broken_ = false;
    lock_refused_ = false;
    if (calls_file_ != nullptr) {
        std::fclose(calls_file_);
        calls_file_ = nullptr;
    }
    trace_.close();
    directory_.clear();
    saved_in_memory_.clear();
    last_written_.clear();
    clock_.set_mode(ClockMode::Virtual);
    clock_at_start_ns_ = 0;
    faults_.clear();
    gpio_.reset();
    spi_ = SpiBus{};
    peripherals_open_ = false;
    reset_released_ = false;
    // A new chip forgets identity, timings, scripts, properties and the
    // receiver's band and state all at once.
    chip_ = std::make_unique<Chip>(clock_, faults_);
    stats_ = Stats{};
    calls_.clear();
    record_calls_ = true;
    frames_.clear();
    record_frames_ = false;
    set_spidev_present(true);
    forget_kernel_handles();
    set_pi_model(PiModel::Pi4);
}

void Board::record(const std::string &call) {
    if (record_calls_ && calls_.size() < calls_cap) {
        calls_.push_back(call);
    }
    if (calls_file_ != nullptr) {
        std::fprintf(calls_file_, "%s\n", call.c_str());
        std::fflush(calls_file_);
    }
}

bool Board::absent() const {
    return broken_ || faults_.has(Fault::Absent);
}

bool Board::set_faults(const std::string &list, std::string *error) {
    std::string message;
    if (!faults_.parse(list, &message)) {
        broken_ = true;
        report_error("faults \"" + list + "\": " + message + "; the board behaves as absent");
        if (error != nullptr) {
            *error = message;
        }
        return false;
    }
    broken_ = false;
    return true;
}

void Board::clear_faults() {
    faults_.clear();
    broken_ = false;
}

void Board::reset_line_changed() {
    const bool released = gpio_.reset_released();
    if (released == reset_released_) {
        return;
    }
    reset_released_ = released;
    if (released) {
        chip_->set_reset_released(true);
        ++stats_.reset_releases;
    } else {
        if (chip_->state() != ChipState::Reset) {
            ++stats_.resets;
        }
        chip_->set_reset_released(false);
    }
}

void Board::set_chip_running() {
    gpio_.fsel(PIN_RSTB, Gpio::FSEL_OUTPUT);
    gpio_.write(PIN_RSTB, true);
    reset_released_ = true;
    chip_->set_running();
    persist_if_changed();
}

// ---- bcm2835 ----------------------------------------------------------------

int Board::init() {
    record("bcm2835_init()");
    if (faults_.has(Fault::InitFail)) {
        return 0;
    }
    if (faults_.has(Fault::SpidevVanishes)) {
        ::unlink(spidev_path().c_str());
    }
    peripherals_open_ = true;
    return 1;
}

int Board::close() {
    record("bcm2835_close()");
    peripherals_open_ = false;
    return 1;
}

void Board::gpio_fsel(uint8_t pin, uint8_t mode) {
    record(call_text("bcm2835_gpio_fsel", {pin, mode}));
    if (!peripherals_open_) {
        return;
    }
    gpio_.fsel(pin, mode);
    reset_line_changed();
    persist_if_changed();
}

void Board::gpio_set_pud(uint8_t pin, uint8_t pud) {
    record(call_text("bcm2835_gpio_set_pud", {pin, pud}));
    if (!peripherals_open_) {
        return;
    }
    gpio_.set_pud(pin, pud);
    reset_line_changed();
    persist_if_changed();
}

void Board::gpio_write(uint8_t pin, uint8_t on) {
    record(call_text("bcm2835_gpio_write", {pin, on}));
    if (!peripherals_open_) {
        return;
    }
    gpio_.write(pin, on != 0);
    reset_line_changed();
    persist_if_changed();
}

uint8_t Board::gpio_lev(uint8_t pin) {
    record(call_text("bcm2835_gpio_lev", {pin}));
    if (!peripherals_open_) {
        return 0;
    }
    return gpio_.level(pin) ? 1 : 0;
}

int Board::spi_begin() {
    record("bcm2835_spi_begin()");
    if (!peripherals_open_ || faults_.has(Fault::SpiFail)) {
        return 0;
    }
    for (uint8_t pin = PIN_CE1; pin <= PIN_SCLK; ++pin) {
        gpio_.fsel(pin, Gpio::FSEL_ALT0);
    }
    spi_.begin();
    persist_if_changed();
    return 1;
}

void Board::spi_end() {
    record("bcm2835_spi_end()");
    if (!peripherals_open_) {
        return;
    }
    for (uint8_t pin = PIN_CE1; pin <= PIN_SCLK; ++pin) {
        gpio_.fsel(pin, Gpio::FSEL_INPUT);
    }
    spi_.end();
    persist_if_changed();
}

void Board::spi_set_bit_order(uint8_t order) {
    record(call_text("bcm2835_spi_setBitOrder", {order}));
    if (peripherals_open_) {
        spi_.set_bit_order(order);
    }
}

void Board::spi_set_data_mode(uint8_t mode) {
    record(call_text("bcm2835_spi_setDataMode", {mode}));
    if (peripherals_open_) {
        spi_.set_data_mode(mode);
    }
}

void Board::spi_set_clock_divider(uint16_t divider) {
    record(call_text("bcm2835_spi_setClockDivider", {divider}));
    if (peripherals_open_) {
        spi_.set_clock_divider(divider);
    }
}

void Board::spi_chip_select(uint8_t cs) {
    record(call_text("bcm2835_spi_chipSelect", {cs}));
    if (peripherals_open_) {
        spi_.chip_select(cs);
    }
}

void Board::spi_set_chip_select_polarity(uint8_t cs, uint8_t active) {
    record(call_text("bcm2835_spi_setChipSelectPolarity", {cs, active}));
    if (peripherals_open_) {
        spi_.set_chip_select_polarity(cs, active);
    }
}

bool Board::frame_reaches_chip() const {
    if (!spi_.settings_reach_chip() || absent() || chip_->state() == ChipState::Reset) {
        return false;
    }
    for (uint8_t pin = PIN_CE0; pin <= PIN_SCLK; ++pin) {
        if (gpio_.function(pin) != Gpio::FSEL_ALT0) {
            return false;
        }
    }
    return true;
}

void Board::spi_transfern(char *buffer, uint32_t length) {
    record(call_text("bcm2835_spi_transfern", {length}));
    if (!peripherals_open_ || buffer == nullptr || length == 0) {
        return;
    }
    auto *bytes = reinterpret_cast<uint8_t *>(buffer);
    // The library cannot report a failed transfer: what fails never reaches
    // the chip.
    const bool failed = faults_.matches(Fault::TransferFail, bytes[0]);
    move_frame(bytes, length, frame_reaches_chip() && !failed, spi_.byte_ns());
}

void Board::move_frame(uint8_t *bytes, uint32_t length, bool reaches, uint64_t byte_ns) {
    FrameTime time;
    time.start_ns = clock_.now_ns();
    clock_.pass_ns(byte_ns * length);
    time.end_ns = clock_.now_ns();
    time.first_byte_ns = std::min(time.start_ns + byte_ns, time.end_ns);

    const bool keep_out = record_frames_ || trace_.is_open();
    std::vector<uint8_t> out;
    if (keep_out) {
        out.assign(bytes, bytes + length);
    }
    const bool reached = reaches;
    const uint8_t opcode = bytes[0];
    if (reached) {
        scratch_in_.resize(length);
        const uint64_t busy_before = chip_->busy_imposed_ns();
        chip_->frame(bytes, scratch_in_.data(), length, time);
        stats_.busy_ns += chip_->busy_imposed_ns() - busy_before;
        std::memcpy(bytes, scratch_in_.data(), length);
        ++stats_.commands[opcode];
        if (opcode == si468x::HOST_LOAD && length > si468x::HOST_LOAD_HEADER) {
            stats_.host_load_image_bytes += length - si468x::HOST_LOAD_HEADER;
        }
    } else {
        std::memset(bytes, MISO_FLOATING, length);
    }
    ++stats_.frames;
    stats_.bytes += length;

    if (trace_.is_open()) {
        trace_.write(time.start_ns, time.end_ns, out.data(), bytes, length);
    }
    if (record_frames_) {
        Frame frame;
        frame.start_ns = time.start_ns;
        frame.end_ns = time.end_ns;
        frame.out = std::move(out);
        frame.in.assign(bytes, bytes + length);
        frame.reached_chip = reached;
        frames_.push_back(std::move(frame));
    }
    // Reads change nothing that persists, and the upload's chunks change
    // nothing until BOOT.
    if (reached && opcode != si468x::RD_REPLY && opcode != si468x::HOST_LOAD) {
        persist_if_changed();
    }
}

void Board::delay_ms(unsigned int ms) {
    record(call_text("bcm2835_delay", {ms}));
    const uint64_t ns = static_cast<uint64_t>(ms) * 1'000'000U;
    ++stats_.delay_calls;
    stats_.delay_ns += ns;
    clock_.sleep_ns(ns);
}

void Board::delay_us(uint64_t us) {
    record(call_text("bcm2835_delayMicroseconds", {us}));
    const uint64_t ns = us * 1'000U;
    ++stats_.delay_calls;
    stats_.delay_ns += ns;
    clock_.sleep_ns(ns);
}

} // namespace sim
