// SPDX-License-Identifier: GPL-3.0-or-later
// The data-service poll: one packet fetch, the broadcast text taken from it
// as UTF-8, and the reception status at its own slower pace.
#include <cstring>

#include "DAB_radio.h"

namespace {

// A data-service packet shorter than a text message of one character carries
// no text worth a line.
constexpr uint16_t DAB_TEXT_MIN_BYTE_COUNT = TEXT_MESSAGE_HEADER + 1 + TEXT_MESSAGE_TRAILER;
static_assert(DAB_TEXT_MIN_BYTE_COUNT == 4);

} // namespace

void DAB_radio_text_to_utf8(const char *text, uint16_t length, char *utf8, std::size_t room) {
    char32_t chars[SI468X_PAYLOAD_SIZE];
    const uint16_t count = DAB_decode_text(text, length, chars, SI468X_PAYLOAD_SIZE);
    DAB_utf8_text(chars, count, utf8, room);
}

DAB_PollEvent DAB_radio_poll(DAB_Radio *radio) {
    DAB_link_clear_failure();
    uint8_t ready = 0;
    if (Si468x_get_digital_service_data(&radio->data, &ready) != 0) {
        return DAB_link_failed(nullptr) ? DAB_POLL_LINK_FAILED : DAB_POLL_NOTHING;
    }
    if (ready == 0 || radio->data.byte_count < DAB_TEXT_MIN_BYTE_COUNT) {
        return DAB_POLL_NOTHING;
    }
    char text[DAB_RADIO_TEXT_SIZE];
    DAB_radio_text_to_utf8(radio->data.text, SI468X_PAYLOAD_SIZE, text, sizeof text);
    if (std::strcmp(text, radio->text) == 0) {
        return DAB_POLL_TEXT_REPEATED;
    }
    std::memcpy(radio->text, text, sizeof text);
    return DAB_POLL_TEXT_CHANGED;
}

bool DAB_radio_read_reception(DAB_Radio *radio, uint32_t now_ms) {
    if (radio->playing == 0) {
        return false;
    }
    // Unsigned time differences stay right when the caller's clock wraps.
    if (radio->reception_valid != 0 &&
        now_ms - radio->reception_read_ms < DAB_RADIO_RECEPTION_EVERY_MS) {
        return false;
    }
    radio->reception_read_ms = now_ms;
    radio->reception_valid = Si468x_DAB_digrad_status(&radio->reception) == 0 ? 1 : 0;
    return true;
}
