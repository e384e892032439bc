// SPDX-License-Identifier: GPL-3.0-or-later
// The application state owned by main: its initial values.
#include <cstring>

#include "CorvaneRadio.h"

void CorvaneRadio_init_state(CorvaneRadio_State *state) {
    std::memset(state, 0, sizeof(*state));
    DAB_radio_init(&state->radio);
}
