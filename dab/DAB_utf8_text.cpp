// SPDX-License-Identifier: GPL-3.0-or-later
// Decoded characters as UTF-8 and back, by hand rather than through the C
// library's multibyte functions: those follow the process locale, and a
// service started in the C locale would turn every letter beyond ASCII into
// its replacement.
#include "DAB_charset.h"

namespace {

constexpr char32_t DAB_MAX_CODE_POINT = 0x10FFFF;

bool DAB_surrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// One character's bytes into `bytes` (room for 4); returns their number.
std::size_t DAB_utf8_char(char32_t c, unsigned char bytes[4]) {
    if (DAB_surrogate(c) || c > DAB_MAX_CODE_POINT) {
        c = DAB_REPLACEMENT_CHARACTER;
    }
    if (c < 0x80) {
        bytes[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

// The continuation bytes a lead byte announces, or -1 for a byte that cannot
// lead.
int DAB_utf8_continuations(unsigned char lead) {
    if (lead < 0x80) {
        return 0;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 1;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 2;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 3;
    }
    return -1;
}

} // namespace

std::size_t DAB_utf8_text(const char32_t *chars, uint16_t count, char *text, std::size_t room) {
    if (room == 0) {
        return 0;
    }
    std::size_t used = 0;
    for (uint16_t i = 0; i < count; ++i) {
        unsigned char bytes[4];
        const std::size_t length = DAB_utf8_char(chars[i], bytes);
        if (used + length >= room) {
            break;
        }
        for (std::size_t b = 0; b < length; ++b) {
            text[used++] = static_cast<char>(bytes[b]);
        }
    }
    text[used] = '\0';
    return used;
}

uint16_t DAB_utf8_chars(const char *text, char32_t *chars, uint16_t capacity) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(text);
    uint16_t count = 0;
    std::size_t i = 0;
    while (bytes[i] != 0 && count < capacity) {
        const int continuations = DAB_utf8_continuations(bytes[i]);
        char32_t c = continuations <= 0 ? bytes[i] : bytes[i] & (0x3F >> continuations);
        std::size_t taken = 1;
        bool broken = continuations < 0;
        for (int k = 0; k < continuations && !broken; ++k, ++taken) {
            const unsigned char next = bytes[i + taken];
            if ((next & 0xC0) != 0x80) {
                broken = true;
                break;
            }
            c = c << 6 | (next & 0x3F);
        }
        chars[count++] =
            broken || DAB_surrogate(c) || c > DAB_MAX_CODE_POINT ? DAB_REPLACEMENT_CHARACTER : c;
        i += taken;
    }
    return count;
}
