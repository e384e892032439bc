// SPDX-License-Identifier: GPL-3.0-or-later
// The band scan in one call, with its console lines: the steps of
// DAB_scan_steps.cpp driven to the end.
#include <cstdio>

#include "DAB_radio.h"

int16_t DAB_do_full_scan(DAB_ScanResults *results, const uint32_t *frequencies, uint8_t count) {
    DAB_ScanSteps steps{};
    steps.console = 1;
    const int16_t status = DAB_scan_start(&steps, results, frequencies, count);
    if (status != 0) {
        return status;
    }
    while (steps.done == 0) {
        std::printf("Scanning Freq. %lu: \n",
                    static_cast<unsigned long>(steps.frequencies[steps.next]));
        DAB_scan_step(&steps);
    }
    // Only the last frequency's outcome shows in the result; the ensembles
    // stored stay valid either way.
    if (steps.last != 0) {
        return DABUtils_failure(DABUtils_min(-2, steps.last), 110);
    }
    return 0;
}
