// SPDX-License-Identifier: GPL-3.0-or-later
// The engine record, and the takeover of a chip that an earlier run left
// playing.
#include <cstring>

#include "DAB_radio.h"

void DAB_radio_init(DAB_Radio *radio) {
    std::memset(radio, 0, sizeof *radio);
    radio->volume = DAB_RADIO_MAX_VOLUME;
    radio->last_tuned_index = DAB_RADIO_NO_FREQ_INDEX;
}

bool DAB_radio_take_over(DAB_Radio *radio) {
    // No reset: a chip that an earlier run left playing must keep playing.
    if (!DAB_chip_running(radio->status_reply)) {
        return false;
    }
    Si468x_Property property{};
    property.id = AUDIO_ANALOG_VOLUME;
    property.value = 0;
    // A failed read leaves the value at 0, and the volume with it.
    Si468x_get_property(&property);
    radio->volume = static_cast<uint8_t>(property.value & 0xFF);
    return true;
}
