// SPDX-License-Identifier: GPL-3.0-or-later
// The application-type search: the components of the band that carry a given
// user-application type, at the levels of one component, one ensemble and the
// whole band. At most DAB_MAX_MATCHES matches are collected.
#include "DABUtils.h"
#include "Si468x_SPI.h"

namespace {

// The ensemble's list is read once more after the scan step has settled.
constexpr unsigned DAB_LIST_SETTLE_MS = 1000;

} // namespace

int16_t DAB_component_has_application_type(uint32_t service_id, uint32_t component_id,
                                           uint16_t ua_type, uint8_t *entry_index) {
    Si468x_ComponentInfo info{};
    Si468x_UserApplication entry{};
    *entry_index = 0;

    // Two identical readings into the same record; the second one is used.
    for (int reading = 0; reading < 2; ++reading) {
        const int16_t status = Si468x_DAB_get_component_info(service_id, component_id, &info);
        if (status != 0) {
            return DABUtils_failure(status, 5);
        }
    }
    for (unsigned i = 0; i < info.num_ua; ++i) {
        const int16_t status = Si468x_DAB_get_ua_data(&info, &entry, static_cast<uint8_t>(i));
        if (status != 0) {
            return DABUtils_failure(status, 105);
        }
        if (entry.ua_type == ua_type) {
            *entry_index = static_cast<uint8_t>(i);
            return 1;
        }
    }
    return 0;
}

int16_t DAB_ensemble_has_application_type(Si468x_DigradStatus *status, uint8_t freq_index,
                                          uint16_t ua_type, uint32_t service_ids[DAB_MAX_MATCHES],
                                          uint32_t component_ids[DAB_MAX_MATCHES], uint8_t *count) {
    Si468x_ServiceList list{};
    Si468x_Service service{};
    Si468x_Component component{};
    *count = 0;

    int16_t result = DAB_do_freq_scan(&list, freq_index);
    if (result < 0) {
        return DABUtils_failure(result, 6);
    }
    if (result != 1) {
        return 0;
    }
    bcm2835_delay(DAB_LIST_SETTLE_MS);
    result = Si468x_get_digital_service_list(&list);
    if (result != 0) {
        return DABUtils_failure(result, 106);
    }

    bool searching = true;
    for (unsigned s = 0; searching && s < list.num_services; ++s) {
        result = Si468x_get_digital_service(&list, static_cast<uint8_t>(s), &service);
        if (result != 0) {
            return DABUtils_failure(result, 206);
        }
        for (unsigned c = 0; searching && c < service.num_components; ++c) {
            result =
                Si468x_get_digital_service_component(&service, static_cast<uint8_t>(c), &component);
            if (result != 0) {
                return DABUtils_failure(result, 306);
            }
            uint8_t entry_index = 0;
            result = DAB_component_has_application_type(service.service_id, component.comp_id,
                                                        ua_type, &entry_index);
            if (result < 0) {
                return DABUtils_failure(result, 406);
            }
            if (result != 1) {
                continue;
            }
            // A match found with the lists full ends the search of the
            // ensemble; it is not recorded.
            if (*count >= DAB_MAX_MATCHES) {
                searching = false;
                continue;
            }
            service_ids[*count] = service.service_id;
            component_ids[*count] = component.comp_id;
            ++*count;
        }
    }

    if (*count == 0) {
        return 0;
    }
    result = Si468x_DAB_digrad_status(status);
    if (result != 0) {
        return DABUtils_failure(DABUtils_min(-2, result), 506);
    }
    return 1;
}

int16_t DAB_scan_application_type(uint8_t freq_indexes[DAB_MAX_MATCHES],
                                  uint32_t service_ids[DAB_MAX_MATCHES],
                                  uint32_t component_ids[DAB_MAX_MATCHES], uint16_t ua_type,
                                  uint8_t *count, uint8_t num_frequencies) {
    Si468x_DigradStatus digrad{};
    uint32_t found_services[DAB_MAX_MATCHES] = {};
    uint32_t found_components[DAB_MAX_MATCHES] = {};
    *count = 0;

    const int16_t status = DAB_set_properties_max_stations();
    if (status != 0) {
        return DABUtils_failure(status, 7);
    }

    for (unsigned f = 0; f < num_frequencies; ++f) {
        uint8_t found = 0;
        // No ensemble, no match or a failure: this frequency adds nothing,
        // and its location code stays for diagnosis.
        if (DAB_ensemble_has_application_type(&digrad, static_cast<uint8_t>(f), ua_type,
                                              found_services, found_components, &found) != 1) {
            continue;
        }
        // Each ensemble's matches are taken last first; a match that finds
        // the caller's lists full ends the whole search.
        while (found > 0) {
            if (*count >= DAB_MAX_MATCHES) {
                return 1;
            }
            --found;
            freq_indexes[*count] = static_cast<uint8_t>(f);
            service_ids[*count] = found_services[found];
            component_ids[*count] = found_components[found];
            ++*count;
        }
    }
    return *count > 0 ? 1 : 0;
}
