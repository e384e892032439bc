// SPDX-License-Identifier: GPL-3.0-or-later
// A failing board link told apart from a chip that answers badly: the
// driver's statuses say only that an exchange failed, the link remembers
// whether its own transfer did.
#include "DAB_radio.h"
#include "Si468x_SPI.h"

bool DAB_link_failed(int *error) {
    const int last = Si468x_SPI_last_error();
    if (error != nullptr) {
        *error = last;
    }
    return last != 0;
}

void DAB_link_clear_failure(void) {
    Si468x_SPI_clear_error();
}
