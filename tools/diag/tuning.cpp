// SPDX-License-Identifier: GPL-3.0-or-later
// Tuning shared by the subcommands: the chip's frequency list, tune and wait
// for the ensemble, tune and wait for the service list.
#include <cstdio>

#include "Diag.h"

namespace diag {

int read_freq_list(const std::string &what, FreqList &list) {
    const int16_t status = Si468x_DAB_get_freq_list(
        list.khz.data(), static_cast<uint16_t>(list.khz.size()), &list.count);
    if (status != 0) {
        return fail_driver(what + ": frequency list", status);
    }
    return exit_ok;
}

int check_index(const std::string &what, const FreqList &list, uint8_t index) {
    if (index >= list.count) {
        return fail(what + ": index " + std::to_string(index) +
                    " is not in the chip's frequency list (" + std::to_string(list.count) +
                    " entries)");
    }
    return exit_ok;
}

int start_and_check_index(Session &session, const std::string &what, uint8_t index,
                          FreqList &freqs) {
    if (const int result = session.start(); result != exit_ok) {
        return result;
    }
    if (const int result = read_freq_list(what, freqs); result != exit_ok) {
        return result;
    }
    return check_index(what, freqs, index);
}

int tune_and_acquire(const std::string &what, uint8_t index, Si468x_DigradStatus &status,
                     bool &acquired) {
    acquired = false;
    int16_t result = DAB_tune_for_ensemble(index);
    if (result != 0) {
        return fail_driver(what, result);
    }
    result = DAB_await_ensemble(&status);
    if (result < 0) {
        return fail_driver(what + ": reception status", result);
    }
    acquired = result == 1;
    return exit_ok;
}

int tune_and_read_services(const std::string &what, const FreqList &freqs, uint8_t index,
                           Si468x_ServiceList &list) {
    const int16_t result = DAB_do_freq_scan(&list, index);
    if (result < 0) {
        return fail_dab(what, result);
    }
    if (result != 1) {
        return fail(what + ": no ensemble at index " + std::to_string(index) + " (" +
                    std::to_string(freqs.khz[index]) + " kHz)");
    }
    list.freq_index = index;
    return exit_ok;
}

bool find_component(const Si468x_ServiceList &list, uint32_t service_id, uint32_t component_id,
                    Si468x_Service &service) {
    for (uint8_t s = 0; s < list.num_services; ++s) {
        Si468x_Service candidate{};
        if (Si468x_get_digital_service(&list, s, &candidate) != 0 ||
            candidate.service_id != service_id) {
            continue;
        }
        for (uint8_t c = 0; c < candidate.num_components; ++c) {
            Si468x_Component component{};
            if (Si468x_get_digital_service_component(&candidate, c, &component) == 0 &&
                component.comp_id == component_id) {
                service = candidate;
                return true;
            }
        }
    }
    return false;
}

} // namespace diag
