// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder receiver: rejects every DAB command until the receiver model lands.
#include "DabRadio.h"

#include "Band.h"

namespace sim {

struct DabRadio::Impl {
    Band band;
    Timing timing;
};

DabRadio::DabRadio(const Clock &, const Faults &, const std::map<uint16_t, uint16_t> &)
    : impl_(std::make_unique<Impl>()) {}
DabRadio::~DabRadio() = default;
bool DabRadio::handles(uint8_t opcode) {
    return opcode >= 0x80 && opcode <= 0xBF;
}
Outcome DabRadio::execute(const uint8_t *, std::size_t) {
    Outcome outcome;
    outcome.err_cmd = true;
    return outcome;
}
uint8_t DabRadio::status0_bits() const {
    return 0;
}
void DabRadio::chip_reset() {}
void DabRadio::use_default_band() {}
bool DabRadio::load_band_json(const std::string &, std::string *) {
    return false;
}
bool DabRadio::load_band_file(const std::string &, std::string *) {
    return false;
}
const Band &DabRadio::band() const {
    return impl_->band;
}
void DabRadio::save(std::map<std::string, std::string> &) const {}
void DabRadio::load(const std::map<std::string, std::string> &) {}
int DabRadio::tuned_index() const {
    return -1;
}
bool DabRadio::service_started(uint32_t *, uint32_t *) const {
    return false;
}
DabRadio::Timing &DabRadio::timing() {
    return impl_->timing;
}

} // namespace sim
