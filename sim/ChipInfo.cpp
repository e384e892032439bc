// SPDX-License-Identifier: GPL-3.0-or-later
// GET_PART_INFO, GET_SYS_STATE, GET_FUNC_INFO, SET_PROPERTY and GET_PROPERTY.
// Part and state information answer in the boot loader too; function
// information and properties belong to a running image.
#include "Chip.h"
#include "ChipProtocol.h"

namespace sim {

using namespace si468x;

namespace {

bool loader_or_image(ChipState state) {
    return state == ChipState::BootLoader || state == ChipState::Running;
}

} // namespace

Chip::Result Chip::get_part_info(const uint8_t *out, std::size_t length) {
    if (!loader_or_image(state_) || length != 2 || out[1] != 0) {
        return rejected();
    }
    // RESP4 CHIPREV, RESP5 ROMID, RESP8..9 PART; the rest of the 23-byte
    // reply is reserved.
    std::vector<uint8_t> resp(19, 0);
    resp[0] = identity_.chip_rev;
    resp[1] = identity_.rom_id;
    resp[4] = static_cast<uint8_t>(identity_.part);
    resp[5] = static_cast<uint8_t>(identity_.part >> 8);
    return accepted(GET_PART_INFO, std::move(resp));
}

Chip::Result Chip::get_sys_state(const uint8_t *out, std::size_t length) {
    if (!loader_or_image(state_) || length != 2 || out[1] != 0) {
        return rejected();
    }
    const uint8_t image = state_ == ChipState::Running ? image_ : IMAGE_BOOTLOADER;
    return accepted(GET_SYS_STATE, {image, 0});
}

Chip::Result Chip::get_func_info(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::Running || length != 2 || out[1] != 0) {
        return rejected();
    }
    const uint32_t svn = identity_.svn_id;
    return accepted(GET_FUNC_INFO,
                    {revision_[0], revision_[1], revision_[2], identity_.func_flags,
                     static_cast<uint8_t>(svn), static_cast<uint8_t>(svn >> 8),
                     static_cast<uint8_t>(svn >> 16), static_cast<uint8_t>(svn >> 24)});
}

Chip::Result Chip::set_property_command(const uint8_t *out, std::size_t length) {
    if (state_ != ChipState::Running || length != SET_PROPERTY_LENGTH || out[1] != 0) {
        return rejected();
    }
    const uint16_t id = static_cast<uint16_t>(out[2] | out[3] << 8);
    const uint16_t value = static_cast<uint16_t>(out[4] | out[5] << 8);
    const auto found = properties_.find(id);
    const PropertyFact *fact = property_fact(id);
    // An id a test added to the store has no range: any value is taken.
    if (found == properties_.end() || (fact != nullptr && !property_value_accepted(*fact, value))) {
        return rejected();
    }
    found->second = value;
    property_writes_.emplace_back(id, value);
    return accepted(SET_PROPERTY);
}

Chip::Result Chip::get_property_command(const uint8_t *out, std::size_t length) {
    // ARG1 is the number of properties to read; the radio reads one.
    if (state_ != ChipState::Running || length != GET_PROPERTY_LENGTH ||
        out[1] != GET_PROPERTY_COUNT) {
        return rejected();
    }
    const uint16_t id = static_cast<uint16_t>(out[2] | out[3] << 8);
    const auto found = properties_.find(id);
    if (found == properties_.end()) {
        return rejected();
    }
    uint16_t value = found->second;
    if (faults_.matches(Fault::PropertyMismatch, id)) {
        value = static_cast<uint16_t>(value + 1);
    }
    return accepted(GET_PROPERTY, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

} // namespace sim
