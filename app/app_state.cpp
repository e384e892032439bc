// SPDX-License-Identifier: GPL-3.0-or-later
// The application state owned by main: its initial values.
#include <cstring>

#include "CorvaneRadio.h"

void CorvaneRadio_init_state(CorvaneRadio_State *state) {
    std::memset(state, 0, sizeof(*state));
    state->volume = CORVANE_RADIO_MAX_VOLUME;
    state->last_tuned_index = CORVANE_RADIO_NO_FREQ_INDEX;
}

uint8_t CorvaneRadio_ensemble_count(const DAB_ScanResults *results) {
    return results->num_ensembles < DAB_MAX_ENSEMBLES ? results->num_ensembles : DAB_MAX_ENSEMBLES;
}
