// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic label's prefix: a message in its character set, or a command.
// A message is kept as broadcast (DL Plus tags point into it by character)
// and as UTF-8 text.
#include <cstring>

#include "DAB_dl_plus.h"

namespace {

// The text row's reading of the controls: a line break or an end of
// headline as a blank, a preferred word break as nothing (0).
char32_t DAB_dls_visible(char32_t c) {
    if (c == DAB_TEXT_LINE_BREAK || c == DAB_TEXT_END_OF_HEADLINE) {
        return U' ';
    }
    return c == DAB_TEXT_WORD_BREAK ? 0 : c;
}

uint8_t DAB_dls_message(DAB_Dls *dls, uint8_t toggle, uint8_t charset, const uint8_t *bytes,
                        uint16_t length) {
    if (dls->has_message != 0 && dls->charset == charset && dls->message_length == length &&
        std::memcmp(dls->message, bytes, length) == 0) {
        // Sent again (perhaps under a new toggle, which its tags will carry).
        dls->toggle = toggle;
        return 0;
    }
    dls->has_message = 1;
    dls->toggle = toggle;
    dls->charset = charset;
    dls->message_length = length;
    std::memcpy(dls->message, bytes, length);
    char text[DAB_DLS_TEXT_SIZE];
    DAB_dls_message_text(dls, 0, DAB_DLS_TO_THE_END, text, sizeof(text));
    if (std::strcmp(text, dls->text) == 0) {
        return 0;
    }
    std::strcpy(dls->text, text);
    return DAB_DLS_TEXT_CHANGED;
}

uint8_t DAB_dls_clear_display(DAB_Dls *dls) {
    dls->has_message = 0;
    dls->message_length = 0;
    if (dls->text[0] == '\0') {
        return 0;
    }
    dls->text[0] = '\0';
    return DAB_DLS_TEXT_CHANGED;
}

} // namespace

bool DAB_dls_message_text(const DAB_Dls *dls, uint16_t first, uint16_t count, char *out,
                          std::size_t size) {
    out[0] = '\0';
    const uint32_t end = count == DAB_DLS_TO_THE_END ? UINT32_MAX : uint32_t{first} + count;
    std::size_t written = 0;
    uint16_t at = 0;
    uint32_t position = 0;
    char32_t c = 0;
    while (position < end &&
           DAB_next_character(dls->message, dls->message_length, dls->charset, &at, &c) && c != 0) {
        if (position++ < first) {
            continue;
        }
        c = DAB_dls_visible(c);
        if (c == 0) {
            continue;
        }
        char bytes[DAB_UTF8_MAX_BYTES];
        const uint8_t n = DAB_utf8_encode(c, bytes);
        if (written + n >= size) {
            break;
        }
        std::memcpy(out + written, bytes, n);
        written += n;
    }
    if (count != DAB_DLS_TO_THE_END && position < end) {
        out[0] = '\0';
        return false;
    }
    out[written] = '\0';
    return true;
}

uint8_t DAB_dls_feed(DAB_Dls *dls, const uint8_t *payload, uint16_t byte_count) {
    if (byte_count < TEXT_MESSAGE_HEADER) {
        return 0;
    }
    const uint8_t toggle = (payload[0] & DAB_DLS_TOGGLE) != 0 ? 1 : 0;
    const uint8_t *body = payload + TEXT_MESSAGE_HEADER;
    const uint16_t after_prefix = static_cast<uint16_t>(byte_count - TEXT_MESSAGE_HEADER);
    if ((payload[0] & DAB_DLS_C_FLAG) == 0) {
        // The chip's one byte after the message is not part of it.
        const uint16_t length = after_prefix > TEXT_MESSAGE_TRAILER
                                    ? static_cast<uint16_t>(after_prefix - TEXT_MESSAGE_TRAILER)
                                    : 0;
        const uint8_t charset = payload[1] >> DAB_DLS_CHARSET_SHIFT;
        return DAB_dls_message(dls, toggle, charset, body,
                               length > DAB_DLS_MESSAGE_SIZE ? DAB_DLS_MESSAGE_SIZE : length);
    }
    switch (payload[0] & DAB_DLS_COMMAND_MASK) {
    case DAB_DLS_COMMAND_CLEAR:
        return DAB_dls_clear_display(dls);
    case DAB_DLS_COMMAND_DL_PLUS: {
        const uint16_t field_length = (payload[1] & DAB_DLS_FIELD_LENGTH_MASK) + 1;
        // Tags apply to the message they follow, sent under the same toggle.
        if (field_length > after_prefix || dls->has_message == 0 || dls->toggle != toggle) {
            return 0;
        }
        return DAB_dl_plus_command(dls, body, field_length);
    }
    default:
        return 0; // a command this receiver has no use for
    }
}

uint8_t DAB_dls_feed_packet(DAB_Dls *dls, const Si468x_ServiceData *data) {
    if (data->data_src != DAB_DLS_DATA_SOURCE) {
        return 0;
    }
    const uint16_t byte_count =
        data->byte_count > SI468X_PAYLOAD_SIZE ? SI468X_PAYLOAD_SIZE : data->byte_count;
    return DAB_dls_feed(dls, data->payload, byte_count);
}

void DAB_dls_reset(DAB_Dls *dls) {
    std::memset(dls, 0, sizeof(*dls));
}
