// SPDX-License-Identifier: GPL-3.0-or-later
// The boot loader's commands: POWER_UP, LOAD_INIT, HOST_LOAD, FLASH_LOAD and
// BOOT. The boot loader checks every byte of its commands; a command it does
// not accept in the current state is rejected with ERR_CMD.
#include <algorithm>
#include <cstring>

#include "Chip.h"
#include "ChipProtocol.h"
#include "StandinFirmware.h"

namespace sim {

using namespace si468x;

namespace {

bool zeros(const uint8_t *bytes, std::size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t byte) { return byte == 0; });
}

} // namespace

Chip::Result Chip::power_up(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::WaitingPowerUp || length != POWER_UP_LENGTH ||
        std::memcmp(out, power_up_command, POWER_UP_LENGTH) != 0) {
        return rejected();
    }
    if (reset_fault(Fault::PowerupFail)) {
        // The crystal did not start: the command completes, and the boot
        // loader never runs (STATUS3 stays 0x00).
        return accepted(POWER_UP);
    }
    state_ = ChipState::BootLoader;
    uploads_.clear();
    receiver_->chip_reset();
    return accepted(POWER_UP);
}

Chip::Result Chip::load_init(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::BootLoader || length != 2 || out[1] != 0) {
        return rejected();
    }
    uploads_.start_image();
    return accepted(LOAD_INIT);
}

Chip::Result Chip::host_load(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::BootLoader || !uploads_.image_open() || length <= HOST_LOAD_HEADER ||
        length > HOST_LOAD_MAX || !zeros(out + 1, HOST_LOAD_HEADER - 1)) {
        return rejected();
    }
    // The per-reset upload faults refuse the first chunk of the first image
    // since POWER_UP (the ROM patch) or of the second (the radio image).
    if (uploads_.current().bytes() == 0) {
        const std::size_t index = uploads_.current_index();
        if ((index == 0 && reset_fault(Fault::PatchFail)) ||
            (index == 1 && reset_fault(Fault::FirmwareFail))) {
            return rejected();
        }
    }
    uploads_.current().feed(out + HOST_LOAD_HEADER, length - HOST_LOAD_HEADER);
    return accepted(HOST_LOAD);
}

Chip::Result Chip::flash_load(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::BootLoader || !uploads_.image_open() || length != FLASH_LOAD_LENGTH ||
        !zeros(out + 1, 3) || !zeros(out + 8, 4)) {
        return rejected();
    }
    // No flash memory is attached to this board: the command is taken, but
    // what it names can never boot.
    uploads_.current().mark_from_flash();
    return accepted(FLASH_LOAD);
}

Chip::Result Chip::boot(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::BootLoader || length != 2 || out[1] != 0) {
        return rejected();
    }
    const auto bootable = uploads_.bootable();
    uploads_.clear();
    if (!bootable.ok || reset_fault(Fault::BootFail)) {
        // Like a chip after a corrupt upload: BOOT completes, and the boot
        // loader is still what runs.
        boot_problem_ = bootable.ok ? "boot-fail fault" : bootable.problem;
        return accepted(BOOT);
    }
    boot_problem_.clear();
    state_ = ChipState::Running;
    image_ = bootable.image_code;
    revision_ = bootable.revision;
    inherited_running_ = false;
    properties_ = default_properties();
    receiver_->chip_reset();
    return accepted(BOOT);
}

} // namespace sim
