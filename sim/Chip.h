// SPDX-License-Identifier: GPL-3.0-or-later
// The behavioural Si468x: a state machine as the chip's programming guide
// draws it,
//
//   Reset --RSTB released--> WaitingPowerUp --POWER_UP--> BootLoader
//   BootLoader --LOAD_INIT, HOST_LOAD...--> (loading) --BOOT--> Running
//
// with time in every transition: each command clears CTS, and CTS returns a
// command-specific busy time after the command's last byte. RD_REPLY always
// answers from the start of the reply: STATUS0..STATUS3, then RESP4 onwards.
// Once the DAB image runs, its commands go to the receiver (DabRadio).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Clock.h"
#include "DabRadio.h"
#include "Faults.h"
#include "ImageUpload.h"
#include "Properties.h"
#include "SimBoard.h"

namespace sim {

// When the bytes of one chip-select frame passed.
struct FrameTime {
    uint64_t start_ns = 0;      // chip select asserted
    uint64_t first_byte_ns = 0; // opcode byte clocked in: the chip latches its status
    uint64_t end_ns = 0;        // last byte clocked
};

class Chip {
public:
    Chip(const Clock &clock, const Faults &faults);
    ~Chip();
    Chip(const Chip &) = delete;
    Chip &operator=(const Chip &) = delete;

    // RSTB: low holds the chip in reset and forgets everything it was told; a
    // release starts a new power cycle, counted for the per-reset faults.
    void set_reset_released(bool released);
    ChipState state() const { return state_; }
    // Power cycles since this chip model was made (rising edges of RSTB).
    uint64_t power_cycles() const { return power_cycles_; }

    // One chip-select frame while the chip is out of reset: `out` as the host
    // sent it, `in` receives what the chip clocks out (same length).
    void frame(const uint8_t *out, uint8_t *in, std::size_t length, const FrameTime &time);
    void hang_when_due(uint64_t now_ns);

    // ---- for tests and the board's own set-up ----
    int running_image() const;
    // As if an earlier run had booted the DAB image and left it running.
    void set_running();
    void set_identity(const ChipIdentity &identity) { identity_ = identity; }
    const ChipIdentity &identity() const { return identity_; }
    void set_busy_ns(uint8_t opcode, uint64_t ns) { busy_override_[opcode] = ns; }
    // Sum of the busy times this chip has imposed since it was made.
    uint64_t busy_imposed_ns() const { return busy_imposed_ns_; }
    std::optional<uint16_t> property(uint16_t id) const;
    void set_property(uint16_t id, uint16_t value) { properties_[id] = value; }
    const std::vector<std::pair<uint16_t, uint16_t>> &property_writes() const {
        return property_writes_;
    }
    void script_reply(uint8_t opcode, std::vector<uint8_t> bytes);
    void script_reads(uint8_t opcode, std::vector<std::vector<uint8_t>> reads);
    void clear_scripts() { scripts_.clear(); }
    DabRadio &receiver() { return *receiver_; }
    const DabRadio &receiver() const { return *receiver_; }
    // Why the last BOOT left the boot loader running ("" after a good boot).
    const std::string &boot_problem() const { return boot_problem_; }

    // What survives the process: power-up state, running image, properties,
    // identity and the receiver's own state. Loading puts the chip where the
    // state says, with CTS set and no reply pending.
    void save(std::map<std::string, std::string> &state) const;
    void load(const std::map<std::string, std::string> &state);

    // Busy times the chip takes when no test says otherwise.
    static uint64_t default_busy_ns(uint8_t opcode);
    // Simple commands and rejections are done before the host's first
    // status read has clocked its opcode (1.024 µs at divider 32).
    static constexpr uint64_t quick_busy_ns = 1'000;
    static constexpr uint64_t rejected_busy_ns = 1'000;

private:
    // What one command did, before the transport adds CTS timing and faults.
    struct Result {
        bool accepted = false;
        uint64_t busy_ns = 0;
        std::vector<uint8_t> resp; // RESP4 onwards
    };
    static Result rejected() { return Result{}; }
    static Result accepted(uint8_t opcode, std::vector<uint8_t> resp = {});

    // The reply that RD_REPLY returns until the next command.
    struct Reply {
        uint64_t cts_at_ns = 0;             // CTS from this time on
        std::optional<uint8_t> hung_opcode; // the busy fault holds CTS back
        bool err_cmd = false;
        uint8_t status3_bits = 0; // error flags the command raised
        std::vector<uint8_t> resp;
        std::optional<uint32_t> garbage_seed;
        // STATUS0 onwards, as given: one per read, the last repeating.
        std::optional<std::vector<std::vector<uint8_t>>> script;
        std::size_t script_reads = 0;
    };

    bool cts_at(uint64_t ns) const;
    void read_reply(uint8_t *in, std::size_t length, uint64_t at_ns);
    void command(const uint8_t *out, std::size_t length, const FrameTime &time);
    Result execute(const uint8_t *out, std::size_t length);
    uint8_t status3(bool cts) const;
    uint8_t live_status0() const;
    bool reset_fault(Fault fault) const;
    void forget_everything();

    // Boot loader commands (ChipBoot.cpp).
    Result power_up(const uint8_t *out, std::size_t length);
    Result load_init(const uint8_t *out, std::size_t length);
    Result host_load(const uint8_t *out, std::size_t length);
    Result flash_load(const uint8_t *out, std::size_t length);
    Result boot(const uint8_t *out, std::size_t length);
    // Information and properties (ChipInfo.cpp).
    Result get_part_info(const uint8_t *out, std::size_t length);
    Result get_sys_state(const uint8_t *out, std::size_t length);
    Result get_func_info(const uint8_t *out, std::size_t length);
    Result set_property_command(const uint8_t *out, std::size_t length);
    Result get_property_command(const uint8_t *out, std::size_t length);

    const Clock &clock_;
    const Faults &faults_;
    ChipState state_ = ChipState::Reset;
    uint64_t power_cycles_ = 0;
    // The current power cycle is hung: the chip never answers until reset.
    bool mute_ = false;
    // hang-after: the first frame's time, and whether the hang came.
    std::optional<uint64_t> first_frame_ns_;
    bool hang_done_ = false;
    // Found running without having been booted in this process.
    bool inherited_running_ = false;
    bool command_overflow_ = false;
    uint8_t image_ = 0;
    std::array<uint8_t, 3> revision_{};
    ChipIdentity identity_;
    Reply reply_;
    UploadSequence uploads_;
    std::string boot_problem_;
    PropertyStore properties_;
    std::vector<std::pair<uint16_t, uint16_t>> property_writes_;
    std::map<uint8_t, uint64_t> busy_override_;
    std::map<uint8_t, std::deque<std::vector<std::vector<uint8_t>>>> scripts_;
    uint32_t garbage_count_ = 0;
    uint64_t busy_imposed_ns_ = 0;
    std::unique_ptr<DabRadio> receiver_;
};

} // namespace sim
