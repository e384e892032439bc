// SPDX-License-Identifier: GPL-3.0-or-later
// The band scan as steps the caller drives, one frequency a step: every
// frequency of the list in turn, each ensemble found stored with its
// frequency index, the broadcast date kept as the date of the scan.
#include <cstring>

#include "DAB_radio.h"
#include "Si468x_SPI.h"

namespace {

bool DAB_date_plausible(const Si468x_EnsembleTime *time) {
    return time->year != 0 && time->month != 0 && time->day != 0;
}

// The database has room for DAB_MAX_ENSEMBLES: once it is full the scan
// ends, as the remaining frequencies could only cost time (up to about 10 s
// each) and could not be stored.
bool DAB_scan_over(const DAB_ScanSteps *steps) {
    return steps->next >= steps->count || steps->results->num_ensembles >= DAB_MAX_ENSEMBLES;
}

} // namespace

int16_t DAB_scan_begin(DAB_ScanSteps *steps, DAB_ScanResults *results) {
    uint32_t frequencies[SI468X_MAX_FREQ_LIST];
    uint8_t count = 0;
    const int16_t status = Si468x_DAB_get_freq_list(frequencies, SI468X_MAX_FREQ_LIST, &count);
    if (status != 0) {
        *steps = DAB_ScanSteps{};
        steps->results = results;
        steps->done = 1;
        steps->last = status;
        return status;
    }
    return DAB_scan_start(steps, results, frequencies, count);
}

int16_t DAB_scan_start(DAB_ScanSteps *steps, DAB_ScanResults *results, const uint32_t *frequencies,
                       uint8_t count) {
    const uint8_t console = steps->console;
    *steps = DAB_ScanSteps{};
    steps->console = console;
    steps->results = results;
    steps->count = count;
    if (count > 0) {
        std::memcpy(steps->frequencies, frequencies, count * sizeof frequencies[0]);
    }

    const int16_t status = DAB_set_properties_max_stations();
    if (status != 0) {
        steps->done = 1;
        steps->last = status;
        return DABUtils_failure(DABUtils_min(-2, status), 10);
    }
    // The date and the entries beyond the new count are kept: a scan that
    // finds no date leaves the previous one, and stale entries are never read.
    results->num_ensembles = 0;
    steps->done = DAB_scan_over(steps) ? 1 : 0;
    return 0;
}

int16_t DAB_scan_step(DAB_ScanSteps *steps) {
    if (steps->done != 0 || DAB_scan_over(steps)) {
        steps->done = 1;
        return 0;
    }
    DAB_ScanResults *results = steps->results;
    const uint8_t index = steps->next++;
    Si468x_ServiceList list{};
    steps->last = DAB_scan_frequency(&list, index, steps->console != 0);
    if (steps->last == 1) {
        // The chip's clock information follows the service list; it is given
        // time to arrive before the date is read.
        bcm2835_delay(DAB_TIME_WAIT_MS);
        Si468x_EnsembleTime time{};
        steps->last = Si468x_get_ensembletime(&time);
        if (steps->last == 0 && DAB_date_plausible(&time)) {
            results->scan_date = time;
        }
        // The list was read in full just now, so it is stored whatever the
        // time read gave.
        DAB_Ensemble *entry = &results->ensembles[results->num_ensembles];
        *entry = list;
        entry->freq_index = index;
        ++results->num_ensembles;
    }
    steps->done = DAB_scan_over(steps) ? 1 : 0;
    return steps->done != 0 ? 0 : 1;
}
