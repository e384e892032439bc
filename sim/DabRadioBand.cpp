// SPDX-License-Identifier: GPL-3.0-or-later
// The band as the tuned receiver meets it: what is on the tuned frequency,
// whether its signal is valid, and when the phases of a tune (STCINT,
// acquisition, service list) come; loading the band received.
#include "DabRadioImpl.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace sim {

// A fault given for the tuned index, or for every index ("always").
bool DabRadio::Impl::on_this_index(Fault fault) const {
    return faults.matches(fault, index) || faults.matches(fault, -1);
}

const Ensemble *DabRadio::Impl::ensemble() const {
    if (!tuned || on_this_index(Fault::NoSignal)) {
        return nullptr;
    }
    return band.on_frequency(frequency);
}

bool DabRadio::Impl::signal_valid(const Ensemble &e) const {
    if (e.reception.rssi_valid) {
        return *e.reception.rssi_valid;
    }
    const auto threshold = properties.find(DAB_VALID_RSSI_THRESHOLD);
    return e.reception.rssi >=
           (threshold != properties.end() ? threshold->second : default_rssi_threshold);
}

uint64_t DabRadio::Impl::stc_at() const {
    if (!tuned || on_this_index(Fault::TuneTimeout)) {
        return never;
    }
    return settled ? 0 : later(tuned_at, timing.tune_ns);
}

uint64_t DabRadio::Impl::acquired_at() const {
    const Ensemble *e = ensemble();
    if (e == nullptr || !signal_valid(*e) || !e->reception.acquires) {
        return never;
    }
    const uint64_t stc = stc_at();
    return settled || stc == never ? stc : later(stc, timing.acquire_ns);
}

uint64_t DabRadio::Impl::list_at() const {
    const uint64_t acquired = acquired_at();
    return settled || acquired == never ? acquired : later(acquired, timing.list_ready_ns);
}

// An interrupt raised at `at` is pending until acknowledged after it.
bool DabRadio::Impl::pending(uint64_t at, uint64_t now) const {
    return at <= now && (!digrad_acked_at || at > *digrad_acked_at);
}

void DabRadio::use_default_band() {
    impl_->band = default_band();
}

bool DabRadio::load_band_json(const std::string &json, std::string *error) {
    return parse_band_json(json, &impl_->band, error);
}

bool DabRadio::load_band_file(const std::string &path, std::string *error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error != nullptr) {
            *error = "band file " + path + ": " + std::strerror(errno);
        }
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::string reason;
    if (!parse_band_json(text.str(), &impl_->band, &reason)) {
        if (error != nullptr) {
            *error = "band file " + path + ": " + reason;
        }
        return false;
    }
    return true;
}

const Band &DabRadio::band() const {
    return impl_->band;
}

} // namespace sim
