// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated DAB receiver's public face: construction, dispatch, chip
// reset and what tests ask. Its inside is in DabRadioImpl.h, one concern a
// file (see there).
#include "DabRadioImpl.h"

namespace sim {

DabRadio::DabRadio(const Clock &clock, const Faults &faults,
                   const std::map<uint16_t, uint16_t> &properties)
    : impl_(std::make_unique<Impl>(clock, faults, properties)) {}

DabRadio::~DabRadio() = default;

bool DabRadio::handles(uint8_t opcode) {
    return opcode >= DAB_FIRST_OPCODE && opcode <= DAB_LAST_OPCODE;
}

Outcome DabRadio::execute(const uint8_t *command, std::size_t length) {
    return impl_->execute(command, length);
}

uint8_t DabRadio::status0_bits() const {
    return impl_->status0_bits();
}

void DabRadio::chip_reset() {
    impl_->untune();
    impl_->stc_carried = false;
    impl_->chip_list.reset();
}

int DabRadio::tuned_index() const {
    return impl_->tuned ? impl_->index : -1;
}

bool DabRadio::service_started(uint32_t *service_id, uint32_t *component_id) const {
    if (!impl_->started) {
        return false;
    }
    if (service_id != nullptr) {
        *service_id = impl_->started->service_id;
    }
    if (component_id != nullptr) {
        *component_id = impl_->started->component_id;
    }
    return true;
}

DabRadio::Timing &DabRadio::timing() {
    return impl_->timing;
}

} // namespace sim
