// SPDX-License-Identifier: GPL-3.0-or-later
// What the receiver keeps across processes when the chip is left running:
// the tuned index and frequency, the started service, a frequency list the
// host set.
#include "DabRadioImpl.h"

#include <cstdlib>
#include <sstream>

#include "SavedState.h"

namespace sim {

namespace {

constexpr const char *key_index = "tuned_index";
constexpr const char *key_frequency = "tuned_frequency";
constexpr const char *key_service = "started_service";
constexpr const char *key_list = "frequency_list";

std::optional<uint64_t> number_in(const std::map<std::string, std::string> &state,
                                  const char *key) {
    return saved_number(state, key);
}

} // namespace

void DabRadio::save(std::map<std::string, std::string> &state) const {
    const Impl &d = *impl_;
    state[key_index] = d.tuned ? std::to_string(d.index) : "";
    state[key_frequency] = d.tuned ? std::to_string(d.frequency) : "";
    state[key_service] = d.started ? std::to_string(d.started->service_id) + " " +
                                         std::to_string(d.started->component_id)
                                   : "";
    std::string list;
    if (d.chip_list) {
        for (uint32_t khz : *d.chip_list) {
            list += (list.empty() ? "" : ",") + std::to_string(khz);
        }
    }
    state[key_list] = list;
}

void DabRadio::load(const std::map<std::string, std::string> &state) {
    Impl &d = *impl_;
    d.untune();
    d.stc_carried = false;
    d.chip_list.reset();
    if (const auto found = state.find(key_list); found != state.end() && !found->second.empty()) {
        std::vector<uint32_t> list;
        std::istringstream in(found->second);
        std::string item;
        bool good = true;
        while (std::getline(in, item, ',')) {
            char *end = nullptr;
            const unsigned long value = std::strtoul(item.c_str(), &end, 10);
            good = good && !item.empty() && *end == '\0' && value > 0 && value <= 0xFFFFFFFFUL;
            list.push_back(static_cast<uint32_t>(value));
        }
        if (good && !list.empty() && list.size() <= max_frequencies) {
            d.chip_list = std::move(list);
        }
    }
    const auto index = number_in(state, key_index);
    if (!index || *index >= d.list().size()) {
        return;
    }
    d.tuned = true;
    d.settled = true;
    d.list_reported = true; // the earlier process took the announcement
    d.index = static_cast<uint8_t>(*index);
    const auto frequency = number_in(state, key_frequency);
    d.frequency = frequency && *frequency <= 0xFFFFFFFFULL ? static_cast<uint32_t>(*frequency)
                                                           : d.list()[d.index];
    d.tuned_at = d.clock.now_ns();

    const auto found = state.find(key_service);
    if (found == state.end() || found->second.empty()) {
        return;
    }
    std::istringstream in(found->second);
    uint64_t service_id = 0;
    uint64_t component_id = 0;
    if (in >> service_id >> component_id && service_id <= 0xFFFFFFFFULL &&
        component_id <= 0xFFFFFFFFULL) {
        // Texts go on from this process's clock: the chip kept playing meanwhile.
        d.started = Started{static_cast<uint32_t>(service_id), static_cast<uint32_t>(component_id),
                            d.clock.now_ns(), 0, 0};
    }
}

} // namespace sim
