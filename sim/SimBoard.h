// SPDX-License-Identifier: GPL-3.0-or-later
// Test API of the simulated receiver board. The bcm2835 functions that the
// board link calls are defined by this library against a behavioural Si468x
// model; tests talk to the board here, never through the bus.
//
// Outside tests the board configures itself from its environment on the first
// call of the link: SI468X_SIM_BOARD (directory), SI468X_SIM_CLOCK
// (virtual|real), SI468X_SIM_TRACE (file), SI468X_SIM_FAULTS (list),
// SI468X_SIM_BAND (file), SI468X_SIM_PI (3|4|5|unknown|none: which board the
// device tree names).
// The board never writes to stdout or stderr.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Clock.h"
#include "DabRadio.h"

namespace sim {

// One chip-select frame on SPI0.
struct Frame {
    uint64_t start_ns = 0;     // clock when the frame began
    uint64_t end_ns = 0;       // clock when its last byte was clocked
    std::vector<uint8_t> out;  // bytes the host sent
    std::vector<uint8_t> in;   // bytes the host received
    bool reached_chip = false; // false: bus released, wrong settings or chip in reset
};

enum class ChipState {
    Reset,          // reset line low: nothing answers
    WaitingPowerUp, // reset released, waiting for POWER_UP
    BootLoader,     // POWER_UP done (STATUS3 0x80); LOAD_INIT/HOST_LOAD accepted here
    Running,        // BOOT done: application running (STATUS3 0xC0)
};

struct Pin {
    uint8_t function = 0; // BCM2835 FSEL value: 0 input, 1 output, 4 alternate 0
    uint8_t pud = 0;      // 0 off, 1 down, 2 up
    bool level = false;   // level read on the pin (driven or pulled)
};

struct SpiSettings {
    bool begun = false; // bcm2835_spi_begin without a later bcm2835_spi_end
    int bit_order = -1; // -1: never set since begin
    int data_mode = -1;
    int divider = -1;
    int chip_select = -1;
    int cs_polarity_cs = -1;
    int cs_polarity_level = -1;
};

// Which board the device tree names. The bcm2835 library knows the Pi 3 and
// 4; the Pi 5 and an unknown board are driven through the kernel's spidev
// and GPIO character devices, and so is a board without a readable device
// tree (NoDeviceTree: the compatible node is missing).
enum class PiModel { Pi3, Pi4, Pi5, Unknown, NoDeviceTree };

// What the chip reports about itself; settable per board.
struct ChipIdentity {
    uint8_t chip_rev = 2;
    uint8_t rom_id = 1;
    uint16_t part = 4688;
    uint8_t rev_ext = 6; // of the running DAB image
    uint8_t rev_branch = 0;
    uint8_t rev_int = 6;
    uint8_t func_flags =
        0x10; // RESP7 of GET_FUNC_INFO: NOSVN 0x80, LOCATION 0x30, MIXEDREV 0x02, LOCALMOD 0x01
    uint32_t svn_id = 4711;
};

// Traffic counters since the last reset_for_test (or process start).
struct Stats {
    uint64_t frames = 0;
    uint64_t bytes = 0;
    uint64_t host_load_image_bytes = 0;
    uint64_t resets = 0;         // falling edges of the reset line that reached a powered chip
    uint64_t reset_releases = 0; // rising edges: each starts a power cycle (WaitingPowerUp)
    uint64_t delay_calls = 0;    // bcm2835_delay + bcm2835_delayMicroseconds
    uint64_t delay_ns = 0;       // total asked for by the host
    uint64_t busy_ns = 0;        // CTS busy times the chip imposed after the commands it took
    uint64_t syscalls = 0;       // open, close and ioctl calls of the kernel path
    uint64_t chunk_ioctls = 0;   // SPI_IOC_MESSAGE ioctls whose frame began with HOST_LOAD
    uint64_t commands[256] = {};
};

// ---- life cycle --------------------------------------------------------------

// A fresh board for a test: virtual clock at 0, no state file, no trace file,
// no faults, default band, default identity and timings, device node present,
// peripheral access closed, chip unpowered with the reset line low, nothing
// recorded. Forgets any configuration taken from the environment.
void reset_for_test();

// Keep the board's state in `directory` (state file, device node, errors,
// stats): what one process leaves there, the next finds. A directory that
// holds a state file is loaded as a new process would find it; otherwise the
// directory is created if needed and becomes a fresh board: device node made,
// the current board written as its state.
void use_directory(const std::string &directory);
// The board's directory ("" when in memory only).
std::string directory();

// Persist the current state now (the board also does it on every change of
// the reset line or chip state) / reload it as a new process would: pins,
// chip state, running image, properties, identity and the receiver's state
// come from the file, the peripherals are closed and SPI0 unclaimed; the
// test's set-up (faults, band, timings, busy times, scripts) stays, and the
// clock never goes back. An in-memory board saves to and loads from memory.
void save_state();
void load_state();

// ---- clock -------------------------------------------------------------------

Clock &clock();
uint64_t now_ns();
double now_ms();

// ---- faults ------------------------------------------------------------------

// Same syntax as SI468X_SIM_FAULTS. An unknown fault fails and the board then
// behaves as absent, as it does for the environment; the message is appended
// to errors_path(). A later successful set_faults or clear_faults ends it.
bool set_faults(const std::string &list, std::string *error = nullptr);
void clear_faults();
// `<board directory>/errors`; for an in-memory board, a file in a scratch
// directory of this process (removed at exit).
std::string errors_path();

// ---- GPIO, SPI, device node ----------------------------------------------------

Pin pin(uint8_t gpio);
SpiSettings spi();
bool peripherals_open(); // bcm2835_init succeeded and bcm2835_close not yet called
void set_spidev_present(bool present);
std::string spidev_path();

// ---- the board's model and the kernel's devices --------------------------------

// Pi4 after reset_for_test and by default in a host process. Writes the
// device tree's compatible node (removes it for NoDeviceTree).
void set_pi_model(PiModel model);
PiModel pi_model();
std::string device_tree_path();
// Descriptors the kernel path holds open on the board (spidev, GPIO chips,
// line requests).
std::size_t open_descriptors();
// True while a line request holds GPIO 23.
bool reset_line_requested();
// The spidev device's settings as last written (the kernel keeps them on the
// device between opens).
struct SpidevSettings {
    uint8_t mode = 0;
    uint8_t lsb_first = 0;
    uint8_t bits_per_word = 8;
    uint32_t max_speed_hz = 125'000'000; // the device tree's, until the host asks
};
SpidevSettings spidev_settings();

// Every bcm2835 call in order, as "bcm2835_gpio_fsel(23,1)", "bcm2835_spi_transfern(7)",
// and every system call of the kernel path, as "open(spidev0.0)",
// "ioctl(spidev0.0,SPI_IOC_WR_MODE,0)", "ioctl(spidev0.0,SPI_IOC_MESSAGE,7)",
// "ioctl(line,GPIO_V2_LINE_SET_VALUES,1)", "close(gpiochip4)".
// On after reset_for_test (at most 200000 kept); off in a host process.
const std::vector<std::string> &calls();
void clear_calls();
void record_calls(bool on);

// ---- wire trace --------------------------------------------------------------

void record_frames(bool on);        // off by default; SI468X_SIM_TRACE writes the file only
const std::vector<Frame> &frames(); // recorded frames, oldest first
void clear_frames();
// Writes every frame to the file as one line: "<start µs> <end µs> <out hex> | <in hex>".
void trace_to(const std::string &path);

const Stats &stats();

// ---- chip --------------------------------------------------------------------

ChipState chip_state();
// Which image runs: -1 none (boot loader or reset), else the GET_SYS_STATE image code.
int running_image();
// As if an earlier run had booted the DAB firmware and left it running:
// GPIO 23 an output driving high, the DAB image running with the identity's
// revision, default properties.
void set_chip_running();

void set_identity(const ChipIdentity &identity);
// Busy time after a command with this opcode before CTS comes; replaces the
// model's own (also the receiver's, and that of a rejected command).
void set_busy_ns(uint8_t opcode, uint64_t ns);

std::optional<uint16_t> property(uint16_t id);
void set_property(uint16_t id, uint16_t value);
// Every SET_PROPERTY the chip accepted, in order (id, value).
const std::vector<std::pair<uint16_t, uint16_t>> &property_writes();

// Answers the next command with this opcode with these bytes instead of the
// model's own reply: bytes[0] is STATUS0 (CTS included), bytes[1..3] STATUS1 to
// STATUS3, bytes[4..] RESP4 onwards. Queued per opcode, one per command. The
// model does not execute a scripted command (no state change), and every read
// until the next command returns exactly these bytes, zeros beyond.
void script_reply(uint8_t opcode, std::vector<uint8_t> bytes);
// The same with one answer per read: the k-th read after the command returns
// reads[k], the last one repeating. What a chip does when its status changes
// between the clear-to-send poll and the reply, or while a host waits.
void script_reads(uint8_t opcode, std::vector<std::vector<uint8_t>> reads);
void clear_scripts();
// Why the last BOOT left the boot loader running ("" after a good boot).
std::string boot_problem();

// ---- band (forwarded to the receiver) ------------------------------------------

void use_default_band();
bool load_band_json(const std::string &json, std::string *error = nullptr);
bool load_band_file(const std::string &path, std::string *error = nullptr);
// The receiver's timings (tune, acquisition, service list, data CTS, texts).
DabRadio::Timing &receiver_timing();
int tuned_index();
bool service_started(uint32_t *service_id, uint32_t *component_id);

} // namespace sim
