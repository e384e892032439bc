// SPDX-License-Identifier: GPL-3.0-or-later
// One frequency of the band scan: tune, judge the reception, wait for a stable
// service list and read it.
#include <cstdio>

#include "DABUtils.h"
#include "Si468x_SPI.h"

namespace {

// No 16-bit list version equals it, so the first announcement is never
// mistaken for a repeat.
constexpr int32_t DAB_NO_LIST_VERSION = -1;

void DAB_print_signal_bar(uint8_t rssi) {
    std::fputs("signal strength: ", stdout);
    for (unsigned i = 0; i < rssi; ++i) {
        std::putchar('-');
    }
    std::putchar('\n');
}

} // namespace

int16_t DAB_do_freq_scan(Si468x_ServiceList *list, uint8_t index) {
    return DAB_scan_frequency(list, index, true);
}

int16_t DAB_scan_frequency(Si468x_ServiceList *list, uint8_t index, bool console) {
    Si468x_DigradStatus digrad{};
    Si468x_EventStatus event{};
    int32_t list_version = DAB_NO_LIST_VERSION;

    int16_t status = Si468x_DAB_tune_freq(index);
    if (status != 0) {
        return DABUtils_failure(DABUtils_min(-2, status), 4);
    }
    status = Si468x_DAB_digrad_status(&digrad);
    if (status != 0) {
        return DABUtils_failure(DABUtils_min(-2, status), 104);
    }
    if (console) {
        DAB_print_signal_bar(digrad.rssi);
    }
    if (digrad.rssi_valid == 0 || digrad.fic_quality < DAB_MIN_FIC_QUALITY) {
        return 0;
    }
    if (console) {
        Si468x_print_digrad_status(&digrad);
    }

    // The chip may announce a list while it is still gathering the ensemble's
    // information: the list is taken only once a later poll finds the version
    // that an announcement recorded, i.e. on the second poll at the earliest.
    bool stable = false;
    for (int poll = 0; poll < DAB_LIST_POLLS; ++poll) {
        status = Si468x_DAB_get_event_status(&event);
        if (status != 0) {
            return DABUtils_failure(DABUtils_min(-2, status), 204);
        }
        if (event.service_list_available != 0) {
            if (event.service_list_version == list_version) {
                stable = true;
                break;
            }
            if (event.new_service_list != 0) {
                list_version = event.service_list_version;
            }
        }
        if (poll + 1 < DAB_LIST_POLLS) {
            bcm2835_delay(DAB_LIST_POLL_WAIT_MS);
        }
    }
    if (!stable) {
        return DABUtils_failure(-1, 304);
    }

    status = Si468x_get_digital_service_list(list);
    if (status != 0) {
        return DABUtils_failure(DABUtils_min(-2, status), 404);
    }
    return 1;
}
