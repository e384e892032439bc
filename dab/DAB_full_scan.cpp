// SPDX-License-Identifier: GPL-3.0-or-later
// The band scan: every frequency of the chip's list in turn, each ensemble
// found stored with its frequency index, the broadcast date kept as the date
// of the scan.
#include <cstdio>

#include "DABUtils.h"
#include "Si468x_SPI.h"

namespace {

bool DAB_date_plausible(const Si468x_EnsembleTime *time) {
    return time->year != 0 && time->month != 0 && time->day != 0;
}

} // namespace

int16_t DAB_do_full_scan(DAB_ScanResults *results, const uint32_t *frequencies, uint8_t count) {
    Si468x_ServiceList list{};
    Si468x_EnsembleTime time{};

    int16_t status = DAB_set_properties_max_stations();
    if (status != 0) {
        return DABUtils_failure(DABUtils_min(-2, status), 10);
    }

    // The date and the entries beyond the new count are kept: a scan that
    // finds no date leaves the previous one, and stale entries are never read.
    results->num_ensembles = 0;
    int16_t last = 0;
    for (unsigned i = 0; i < count; ++i) {
        // The database has room for DAB_MAX_ENSEMBLES: once it is full the
        // scan ends, as the remaining frequencies could only cost time (up to
        // about 10 s each) and could not be stored.
        if (results->num_ensembles >= DAB_MAX_ENSEMBLES) {
            break;
        }
        std::printf("Scanning Freq. %lu: \n", static_cast<unsigned long>(frequencies[i]));
        last = DAB_do_freq_scan(&list, static_cast<uint8_t>(i));
        if (last != 1) {
            continue;
        }
        // The chip's clock information follows the service list; it is given
        // time to arrive before the date is read.
        bcm2835_delay(DAB_TIME_WAIT_MS);
        last = Si468x_get_ensembletime(&time);
        if (last == 0 && DAB_date_plausible(&time)) {
            results->scan_date = time;
        }
        // The list was read in full just now, so it is stored whatever the
        // time read gave.
        DAB_Ensemble *entry = &results->ensembles[results->num_ensembles];
        *entry = list;
        entry->freq_index = static_cast<uint8_t>(i);
        ++results->num_ensembles;
    }

    // Only the last frequency's outcome shows in the result; the ensembles
    // stored stay valid either way.
    if (last != 0) {
        return DABUtils_failure(DABUtils_min(-2, last), 110);
    }
    return 0;
}
