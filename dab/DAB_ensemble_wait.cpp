// SPDX-License-Identifier: GPL-3.0-or-later
// Tuning for an ensemble and the wait for its acquisition, as the radio's
// playback and the diagnostics program's tune take them.
#include "DABUtils.h"
#include "Si468x_SPI.h"

int16_t DAB_tune_for_ensemble(uint8_t index) {
    const int16_t status = Si468x_DAB_tune_freq(index);
    bcm2835_delay(DAB_AFTER_TUNE_MS);
    if (status != 0) {
        return DABUtils_failure(status, 17);
    }
    return 0;
}

int16_t DAB_await_ensemble(Si468x_DigradStatus *status) {
    int16_t result = 0;
    for (uint8_t poll = 0; poll < DAB_ACQUIRE_POLLS; ++poll) {
        result = Si468x_DAB_digrad_status(status);
        if (result == 0 && status->ensemble_acquired != 0) {
            return 1;
        }
        bcm2835_delay(DAB_ACQUIRE_POLL_WAIT_MS);
    }
    if (result != 0) {
        return DABUtils_failure(result, 117);
    }
    return 0;
}
