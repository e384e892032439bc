// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's transport and power-up state machine: CTS timing, RD_REPLY,
// status bytes, command dispatch, faults, and what the chip keeps across
// processes.
#include "Chip.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "ChipProtocol.h"
#include "SavedState.h"

namespace sim {

using namespace si468x;

namespace {

const char *state_name(ChipState state) {
    switch (state) {
    case ChipState::Reset:
        return "reset";
    case ChipState::WaitingPowerUp:
        return "waiting-power-up";
    case ChipState::BootLoader:
        return "boot-loader";
    case ChipState::Running:
        return "running";
    }
    return "reset";
}

std::optional<ChipState> state_from_name(const std::string &name) {
    for (ChipState state :
         {ChipState::Reset, ChipState::WaitingPowerUp, ChipState::BootLoader, ChipState::Running}) {
        if (name == state_name(state)) {
            return state;
        }
    }
    return std::nullopt;
}

// Deterministic noise for the garbage fault: the same command in the same
// run always brings the same bytes.
uint8_t noise(uint32_t seed, std::size_t position) {
    uint32_t x = seed ^ (static_cast<uint32_t>(position) * 0x9E3779B1U);
    x ^= x >> 16;
    x *= 0x7FEB352DU;
    x ^= x >> 15;
    x *= 0x846CA68BU;
    x ^= x >> 16;
    return static_cast<uint8_t>(x);
}

unsigned long number_or(const std::map<std::string, std::string> &state, const std::string &key,
                        unsigned long fallback) {
    const auto value = saved_number(state, key, ULONG_MAX);
    return value ? static_cast<unsigned long>(*value) : fallback;
}

} // namespace

Chip::Chip(const Clock &clock, const Faults &faults)
    : clock_(clock), faults_(faults), properties_(default_properties()),
      receiver_(std::make_unique<DabRadio>(clock, faults, properties_)) {}

Chip::~Chip() = default;

uint64_t Chip::default_busy_ns(uint8_t opcode) {
    switch (opcode) {
    case POWER_UP:
        return 2'000'000; // crystal start-up
    case HOST_LOAD:
        return 200'000; // one chunk into the chip's RAM
    case BOOT:
        return 100'000'000; // the image unpacks and starts
    case LOAD_INIT:
    case FLASH_LOAD:
    case GET_PART_INFO:
    case GET_SYS_STATE:
    case GET_FUNC_INFO:
    case SET_PROPERTY:
    case GET_PROPERTY:
        return quick_busy_ns;
    default:
        return rejected_busy_ns;
    }
}

Chip::Result Chip::accepted(uint8_t opcode, std::vector<uint8_t> resp) {
    Result result;
    result.accepted = true;
    result.busy_ns = default_busy_ns(opcode);
    result.resp = std::move(resp);
    return result;
}

bool Chip::reset_fault(Fault fault) const {
    const auto count = faults_.number(fault);
    if (!count) {
        return false;
    }
    if (*count < 0) {
        return true; // always
    }
    return power_cycles_ >= 1 && power_cycles_ <= static_cast<uint64_t>(*count);
}

void Chip::forget_everything() {
    mute_ = false;
    inherited_running_ = false;
    command_overflow_ = false;
    image_ = IMAGE_BOOTLOADER;
    revision_ = {};
    reply_ = Reply{};
    uploads_.clear();
    boot_problem_.clear();
    properties_ = default_properties();
    receiver_->chip_reset();
}

void Chip::set_reset_released(bool released) {
    if (!released) {
        if (state_ != ChipState::Reset) {
            state_ = ChipState::Reset;
            forget_everything();
        }
        return;
    }
    if (state_ != ChipState::Reset) {
        return;
    }
    ++power_cycles_;
    forget_everything();
    state_ = ChipState::WaitingPowerUp;
    // Out of reset the chip is ready for POWER_UP at once: CTS is set.
    reply_.cts_at_ns = 0;
    mute_ = reset_fault(Fault::NoCtsAfterReset);
}

int Chip::running_image() const {
    return state_ == ChipState::Running ? image_ : -1;
}

void Chip::set_running() {
    forget_everything();
    state_ = ChipState::Running;
    image_ = IMAGE_DAB;
    revision_ = {identity_.rev_ext, identity_.rev_branch, identity_.rev_int};
    inherited_running_ = true;
}

std::optional<uint16_t> Chip::property(uint16_t id) const {
    const auto found = properties_.find(id);
    if (found == properties_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void Chip::script_reply(uint8_t opcode, std::vector<uint8_t> bytes) {
    script_reads(opcode, {std::move(bytes)});
}

void Chip::script_reads(uint8_t opcode, std::vector<std::vector<uint8_t>> reads) {
    if (reads.empty()) {
        reads.emplace_back();
    }
    scripts_[opcode].push_back(std::move(reads));
}

uint8_t Chip::live_status0() const {
    if (state_ == ChipState::Running && image_ == IMAGE_DAB) {
        return receiver_->status0_bits();
    }
    return 0;
}

uint8_t Chip::status3(bool cts) const {
    uint8_t value = 0;
    switch (state_) {
    case ChipState::Reset:
    case ChipState::WaitingPowerUp:
        value = PUP_RESET;
        break;
    case ChipState::BootLoader:
        value = PUP_BOOTLOADER;
        break;
    case ChipState::Running:
        value = PUP_APPLICATION;
        if (inherited_running_ && faults_.has(Fault::RunningError)) {
            value |= ERRNR;
        }
        break;
    }
    if (command_overflow_) {
        value |= CMDOFERR;
    }
    if (cts) {
        value |= reply_.status3_bits;
    }
    if (const auto extra = faults_.number(Fault::Status3); extra && *extra > 0) {
        value |= static_cast<uint8_t>(*extra);
    }
    return value;
}

// hang-after=<ms>: that long after the host's first frame the chip stops
// answering, once, until the next reset brings it back.
void Chip::hang_when_due(uint64_t now_ns) {
    const auto after_ms = faults_.number(Fault::HangAfter);
    if (!after_ms || hang_done_) {
        return;
    }
    if (!first_frame_ns_) {
        first_frame_ns_ = now_ns;
    }
    if (now_ns - *first_frame_ns_ >= static_cast<uint64_t>(*after_ms) * 1000000u) {
        hang_done_ = true;
        mute_ = true;
    }
}

bool Chip::cts_at(uint64_t ns) const {
    // The busy fault hangs the command for as long as the fault is there.
    if (reply_.hung_opcode && faults_.matches(Fault::Busy, *reply_.hung_opcode)) {
        return false;
    }
    return ns >= reply_.cts_at_ns;
}

void Chip::frame(const uint8_t *out, uint8_t *in, std::size_t length, const FrameTime &time) {
    std::fill(in, in + length, uint8_t{0});
    hang_when_due(clock_.now_ns());
    if (length == 0 || mute_) {
        return;
    }
    if (out[0] == RD_REPLY) {
        read_reply(in, length, time.first_byte_ns);
    } else {
        command(out, length, time);
    }
}

void Chip::read_reply(uint8_t *in, std::size_t length, uint64_t at_ns) {
    // in[0] is the byte clocked out while the opcode came in: nothing yet.
    if (reply_.script) {
        const auto &reads = *reply_.script;
        const auto &bytes = reads[std::min(reply_.script_reads, reads.size() - 1)];
        ++reply_.script_reads;
        for (std::size_t k = 1; k < length; ++k) {
            in[k] = k - 1 < bytes.size() ? bytes[k - 1] : 0;
        }
        return;
    }
    const bool cts = cts_at(at_ns);
    uint8_t status0 = live_status0();
    if (cts) {
        status0 |= CTS;
        if (reply_.err_cmd) {
            status0 |= ERR_CMD;
        }
    }
    const uint8_t status[4] = {status0, 0, 0, status3(cts)};
    for (std::size_t k = 1; k < length && k <= 4; ++k) {
        in[k] = status[k - 1];
    }
    if (!cts) {
        return; // a reply not yet ready reads as zeros
    }
    for (std::size_t k = 5; k < length; ++k) {
        const std::size_t index = k - 5;
        if (reply_.garbage_seed) {
            in[k] = noise(*reply_.garbage_seed, index);
        } else {
            in[k] = index < reply_.resp.size() ? reply_.resp[index] : 0;
        }
    }
}

void Chip::command(const uint8_t *out, std::size_t length, const FrameTime &time) {
    if (!cts_at(time.start_ns) && !reply_.script) {
        // The chip is still busy: the command is lost, and the host that did
        // not wait for CTS learns it from CMDOFERR.
        command_overflow_ = true;
        return;
    }
    const uint8_t opcode = out[0];
    if (auto found = scripts_.find(opcode); found != scripts_.end() && !found->second.empty()) {
        reply_ = Reply{};
        reply_.script = std::move(found->second.front());
        found->second.pop_front();
        return;
    }
    Result result = faults_.matches(Fault::ErrCmd, opcode) ? rejected() : execute(out, length);
    uint64_t busy = result.accepted ? result.busy_ns : rejected_busy_ns;
    if (const auto override = busy_override_.find(opcode); override != busy_override_.end()) {
        busy = override->second;
    }
    if (const auto slow = faults_.number(Fault::Slow); slow && *slow > 0) {
        busy += static_cast<uint64_t>(*slow);
    }
    reply_ = Reply{};
    reply_.cts_at_ns = time.end_ns + busy;
    busy_imposed_ns_ += busy;
    if (faults_.matches(Fault::Busy, opcode)) {
        reply_.hung_opcode = opcode;
    }
    reply_.err_cmd = !result.accepted;
    reply_.resp = std::move(result.resp);
    if (result.accepted) {
        command_overflow_ = false;
    }
    if (faults_.matches(Fault::ReplyOverflow, opcode)) {
        reply_.status3_bits |= REPOFERR;
    }
    if (faults_.matches(Fault::Garbage, opcode)) {
        reply_.garbage_seed = (static_cast<uint32_t>(opcode) << 24) ^ ++garbage_count_;
    }
}

Chip::Result Chip::execute(const uint8_t *out, std::size_t length) {
    switch (out[0]) {
    case POWER_UP:
        return power_up(out, length);
    case LOAD_INIT:
        return load_init(out, length);
    case HOST_LOAD:
        return host_load(out, length);
    case FLASH_LOAD:
        return flash_load(out, length);
    case BOOT:
        return boot(out, length);
    case GET_PART_INFO:
        return get_part_info(out, length);
    case GET_SYS_STATE:
        return get_sys_state(out, length);
    case GET_FUNC_INFO:
        return get_func_info(out, length);
    case SET_PROPERTY:
        return set_property_command(out, length);
    case GET_PROPERTY:
        return get_property_command(out, length);
    default:
        break;
    }
    if (!DabRadio::handles(out[0]) || state_ != ChipState::Running || image_ != IMAGE_DAB) {
        return rejected();
    }
    Outcome outcome = receiver_->execute(out, length);
    Result result;
    result.accepted = !outcome.err_cmd;
    result.busy_ns = outcome.busy_ns;
    result.resp = std::move(outcome.resp);
    return result;
}

void Chip::save(std::map<std::string, std::string> &state) const {
    state["chip.state"] = state_name(state_);
    state["chip.image"] = std::to_string(image_);
    char revision[16];
    std::snprintf(revision, sizeof revision, "%u.%u.%u", revision_[0], revision_[1], revision_[2]);
    state["chip.revision"] = revision;
    state["identity.chip_rev"] = std::to_string(identity_.chip_rev);
    state["identity.rom_id"] = std::to_string(identity_.rom_id);
    state["identity.part"] = std::to_string(identity_.part);
    state["identity.rev_ext"] = std::to_string(identity_.rev_ext);
    state["identity.rev_branch"] = std::to_string(identity_.rev_branch);
    state["identity.rev_int"] = std::to_string(identity_.rev_int);
    state["identity.func_flags"] = std::to_string(identity_.func_flags);
    state["identity.svn_id"] = std::to_string(identity_.svn_id);
    for (const auto &[id, value] : properties_) {
        char key[16];
        std::snprintf(key, sizeof key, "prop.0x%04X", id);
        state[key] = std::to_string(value);
    }
    std::map<std::string, std::string> receiver;
    receiver_->save(receiver);
    for (const auto &[key, value] : receiver) {
        state["dab." + key] = value;
    }
}

void Chip::load(const std::map<std::string, std::string> &state) {
    const ChipIdentity fallback;
    identity_.chip_rev =
        static_cast<uint8_t>(number_or(state, "identity.chip_rev", fallback.chip_rev));
    identity_.rom_id = static_cast<uint8_t>(number_or(state, "identity.rom_id", fallback.rom_id));
    identity_.part = static_cast<uint16_t>(number_or(state, "identity.part", fallback.part));
    identity_.rev_ext =
        static_cast<uint8_t>(number_or(state, "identity.rev_ext", fallback.rev_ext));
    identity_.rev_branch =
        static_cast<uint8_t>(number_or(state, "identity.rev_branch", fallback.rev_branch));
    identity_.rev_int =
        static_cast<uint8_t>(number_or(state, "identity.rev_int", fallback.rev_int));
    identity_.func_flags =
        static_cast<uint8_t>(number_or(state, "identity.func_flags", fallback.func_flags));
    identity_.svn_id = static_cast<uint32_t>(number_or(state, "identity.svn_id", fallback.svn_id));

    forget_everything();
    const auto name = state.find("chip.state");
    state_ = name != state.end() ? state_from_name(name->second).value_or(ChipState::Reset)
                                 : ChipState::Reset;
    image_ = static_cast<uint8_t>(number_or(state, "chip.image", 0));
    if (const auto revision = state.find("chip.revision"); revision != state.end()) {
        unsigned a = 0;
        unsigned b = 0;
        unsigned c = 0;
        if (std::sscanf(revision->second.c_str(), "%u.%u.%u", &a, &b, &c) == 3) {
            revision_ = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c)};
        }
    }
    for (const auto &[key, value] : state) {
        if (key.rfind("prop.", 0) != 0) {
            continue;
        }
        const auto id = saved_number(key.substr(5));
        const auto number = saved_number(value);
        if (id && number && *id <= 0xFFFF && *number <= 0xFFFF) {
            properties_[static_cast<uint16_t>(*id)] = static_cast<uint16_t>(*number);
        }
    }
    inherited_running_ = state_ == ChipState::Running;
    if (inherited_running_ && faults_.has(Fault::TakeoverDefaults)) {
        // A chip that forgot its settings while nobody was talking to it.
        properties_ = default_properties();
    }
    std::map<std::string, std::string> receiver;
    for (const auto &[key, value] : state) {
        if (key.rfind("dab.", 0) == 0) {
            receiver[key.substr(4)] = value;
        }
    }
    receiver_->load(receiver);
}

} // namespace sim
