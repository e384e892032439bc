// SPDX-License-Identifier: GPL-3.0-or-later
// The station database in menu order: ensemble by ensemble, service by
// service. A damaged station list may claim more ensembles than the database
// holds, so every walk stops at its room.
#include "DAB_radio.h"

uint8_t DAB_ensemble_count(const DAB_ScanResults *results) {
    return results->num_ensembles < DAB_MAX_ENSEMBLES ? results->num_ensembles : DAB_MAX_ENSEMBLES;
}

uint16_t DAB_service_count(const DAB_ScanResults *results) {
    uint16_t count = 0;
    const uint8_t ensembles = DAB_ensemble_count(results);
    for (uint8_t i = 0; i < ensembles; ++i) {
        count = static_cast<uint16_t>(count + results->ensembles[i].num_services);
    }
    return count;
}

bool DAB_service_at(const DAB_ScanResults *results, uint16_t k, uint8_t *ensemble,
                    uint8_t *service) {
    const uint8_t ensembles = DAB_ensemble_count(results);
    for (uint8_t i = 0; i < ensembles; ++i) {
        const uint8_t services = results->ensembles[i].num_services;
        if (k < services) {
            *ensemble = i;
            *service = static_cast<uint8_t>(k);
            return true;
        }
        k = static_cast<uint16_t>(k - services);
    }
    return false;
}

bool DAB_find_service(const DAB_ScanResults *results, uint32_t service_id, uint8_t *ensemble,
                      uint8_t *service, uint16_t *k) {
    bool found = false;
    uint16_t position = 0;
    const uint8_t ensembles = DAB_ensemble_count(results);
    for (uint8_t i = 0; i < ensembles; ++i) {
        const DAB_Ensemble *entry = &results->ensembles[i];
        for (uint8_t j = 0; j < entry->num_services; ++j, ++position) {
            Si468x_Service record{};
            Si468x_get_digital_service(entry, j, &record);
            if (record.service_id != service_id) {
                continue;
            }
            found = true;
            if (ensemble != nullptr) {
                *ensemble = i;
            }
            if (service != nullptr) {
                *service = j;
            }
            if (k != nullptr) {
                *k = position;
            }
        }
    }
    return found;
}
