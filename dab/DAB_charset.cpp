// SPDX-License-Identifier: GPL-3.0-or-later
// Label and broadcast text decoding: the complete EBU Latin based repertoire
// (character set 0), UCS-2 (6) and UTF-8 (15).
#include "DAB_charset.h"

namespace {

constexpr char32_t DAB_SPACE = 0x20;

// Controls of the broadcast text as they read on the one text row: a line
// break or an end of headline as a blank, a preferred word break as nothing.
// Returns 0 for a character that is dropped.
char32_t DAB_visible(char32_t c) {
    if (c == DAB_TEXT_LINE_BREAK || c == DAB_TEXT_END_OF_HEADLINE) {
        return DAB_SPACE;
    }
    if (c == DAB_TEXT_WORD_BREAK) {
        return 0;
    }
    return c;
}

uint8_t DAB_decode_ebu_latin(const uint8_t *bytes, char32_t *chars) {
    uint8_t count = 0;
    for (uint8_t i = 0; i < DAB_LABEL_BYTES && bytes[i] != 0; ++i) {
        const char32_t c = DAB_visible(DAB_EBU_Latin[bytes[i]]);
        if (c != 0) {
            chars[count++] = c;
        }
    }
    return count;
}

// Big-endian code units, 8 to the field; a zero unit ends the name. A
// surrogate is no character in UCS-2.
uint8_t DAB_decode_ucs2(const uint8_t *bytes, char32_t *chars) {
    uint8_t count = 0;
    for (uint8_t i = 0; i + 1 < DAB_LABEL_BYTES; i += 2) {
        char32_t c = static_cast<char32_t>(bytes[i] << 8 | bytes[i + 1]);
        if (c == 0) {
            break;
        }
        if (c >= 0xD800 && c <= 0xDFFF) {
            c = DAB_REPLACEMENT_CHARACTER;
        }
        c = DAB_visible(c);
        if (c != 0) {
            chars[count++] = c;
        }
    }
    return count;
}

// The continuation bytes a UTF-8 lead byte needs, and the range its first
// continuation must fall in (which rules out overlong forms, surrogates and
// code points beyond U+10FFFF). 0 continuations: not a lead byte.
struct DAB_Utf8Lead {
    uint8_t continuations;
    uint8_t first_low;
    uint8_t first_high;
};

constexpr DAB_Utf8Lead DAB_utf8_lead(uint8_t byte) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        return {1, 0x80, 0xBF};
    }
    if (byte == 0xE0) {
        return {2, 0xA0, 0xBF};
    }
    if (byte == 0xED) {
        return {2, 0x80, 0x9F};
    }
    if (byte >= 0xE1 && byte <= 0xEF) {
        return {2, 0x80, 0xBF};
    }
    if (byte == 0xF0) {
        return {3, 0x90, 0xBF};
    }
    if (byte >= 0xF1 && byte <= 0xF3) {
        return {3, 0x80, 0xBF};
    }
    if (byte == 0xF4) {
        return {3, 0x80, 0x8F};
    }
    return {0, 0, 0};
}

// Each maximal ill-formed part reads as one U+FFFD; a character that the end
// of the name (the field's end or its zero padding) cuts short is dropped.
uint8_t DAB_decode_utf8(const uint8_t *bytes, char32_t *chars) {
    uint8_t end = 0;
    while (end < DAB_LABEL_BYTES && bytes[end] != 0) {
        ++end;
    }
    uint8_t count = 0;
    uint8_t i = 0;
    while (i < end) {
        const uint8_t lead = bytes[i];
        char32_t c = 0;
        if (lead < 0x80) {
            c = lead;
            ++i;
        } else {
            const DAB_Utf8Lead form = DAB_utf8_lead(lead);
            if (form.continuations == 0) {
                c = DAB_REPLACEMENT_CHARACTER;
                ++i;
            } else {
                c = lead & (0x3F >> form.continuations);
                uint8_t taken = 1;
                bool broken = false;
                while (taken <= form.continuations) {
                    if (i + taken >= end) {
                        return count; // cut by the end of the field
                    }
                    const uint8_t next = bytes[i + taken];
                    const uint8_t low = taken == 1 ? form.first_low : 0x80;
                    const uint8_t high = taken == 1 ? form.first_high : 0xBF;
                    if (next < low || next > high) {
                        broken = true;
                        break;
                    }
                    c = c << 6 | (next & 0x3F);
                    ++taken;
                }
                if (broken) {
                    c = DAB_REPLACEMENT_CHARACTER;
                }
                i = static_cast<uint8_t>(i + taken);
            }
        }
        c = DAB_visible(c);
        if (c != 0) {
            chars[count++] = c;
        }
    }
    return count;
}

} // namespace

// Transcribed from the repertoire's table, eight bytes a row.
const std::array<char16_t, 256> DAB_EBU_Latin = {
    0x0000, 0x0118, 0x012E, 0x0172, 0x0102, 0x0116, 0x010E, 0x0218, // 0x00
    0x021A, 0x010A, 0x000A, 0x000B, 0x0120, 0x0139, 0x017B, 0x0143, // 0x08
    0x0105, 0x0119, 0x012F, 0x0173, 0x0103, 0x0117, 0x010F, 0x0219, // 0x10
    0x021B, 0x010B, 0x0147, 0x011A, 0x0121, 0x013A, 0x017C, 0x0082, // 0x18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0142, 0x0025, 0x0026, 0x0027, // 0x20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F, // 0x28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037, // 0x30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F, // 0x38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047, // 0x40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F, // 0x48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057, // 0x50
    0x0058, 0x0059, 0x005A, 0x005B, 0x016E, 0x005D, 0x0141, 0x005F, // 0x58
    0x0104, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067, // 0x60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F, // 0x68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077, // 0x70
    0x0078, 0x0079, 0x007A, 0x00AB, 0x016F, 0x00BB, 0x013D, 0x0126, // 0x78
    0x00E1, 0x00E0, 0x00E9, 0x00E8, 0x00ED, 0x00EC, 0x00F3, 0x00F2, // 0x80
    0x00FA, 0x00F9, 0x00D1, 0x00C7, 0x015E, 0x00DF, 0x00A1, 0x0178, // 0x88
    0x00E2, 0x00E4, 0x00EA, 0x00EB, 0x00EE, 0x00EF, 0x00F4, 0x00F6, // 0x90
    0x00FB, 0x00FC, 0x00F1, 0x00E7, 0x015F, 0x011F, 0x0131, 0x00FF, // 0x98
    0x0136, 0x0145, 0x00A9, 0x0122, 0x011E, 0x011B, 0x0148, 0x0151, // 0xA0
    0x0150, 0x20AC, 0x00A3, 0x0024, 0x0100, 0x0112, 0x012A, 0x016A, // 0xA8
    0x0137, 0x0146, 0x013B, 0x0123, 0x013C, 0x0130, 0x0144, 0x0171, // 0xB0
    0x0170, 0x00BF, 0x013E, 0x00B0, 0x0101, 0x0113, 0x012B, 0x016B, // 0xB8
    0x00C1, 0x00C0, 0x00C9, 0x00C8, 0x00CD, 0x00CC, 0x00D3, 0x00D2, // 0xC0
    0x00DA, 0x00D9, 0x0158, 0x010C, 0x0160, 0x017D, 0x00D0, 0x013F, // 0xC8
    0x00C2, 0x00C4, 0x00CA, 0x00CB, 0x00CE, 0x00CF, 0x00D4, 0x00D6, // 0xD0
    0x00DB, 0x00DC, 0x0159, 0x010D, 0x0161, 0x017E, 0x0111, 0x0140, // 0xD8
    0x00C3, 0x00C5, 0x00C6, 0x0152, 0x0177, 0x00DD, 0x00D5, 0x00D8, // 0xE0
    0x00DE, 0x014A, 0x0154, 0x0106, 0x015A, 0x0179, 0x0164, 0x00F0, // 0xE8
    0x00E3, 0x00E5, 0x00E6, 0x0153, 0x0175, 0x00FD, 0x00F5, 0x00F8, // 0xF0
    0x00FE, 0x014B, 0x0155, 0x0107, 0x015B, 0x017A, 0x0165, 0x0127, // 0xF8
};

uint8_t DAB_decode_label(const char label[DAB_LABEL_BYTES], uint8_t charset,
                         char32_t chars[DAB_LABEL_CHARS]) {
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(label);
    uint8_t count = 0;
    if (charset == DAB_CHARSET_UTF8) {
        count = DAB_decode_utf8(bytes, chars);
    } else if (charset == DAB_CHARSET_UCS2) {
        count = DAB_decode_ucs2(bytes, chars);
    } else {
        count = DAB_decode_ebu_latin(bytes, chars);
    }
    while (count > 0 && chars[count - 1] == DAB_SPACE) {
        --count;
    }
    return count;
}

uint16_t DAB_decode_text(const char *text, uint16_t length, char32_t *chars, uint16_t capacity) {
    uint16_t count = 0;
    for (uint16_t i = 0; i < length && text[i] != '\0' && count < capacity; ++i) {
        const char32_t c = DAB_visible(DAB_EBU_Latin[static_cast<uint8_t>(text[i])]);
        if (c != 0) {
            chars[count++] = c;
        }
    }
    return count;
}

bool DAB_next_character(const uint8_t *bytes, uint16_t length, uint8_t charset, uint16_t *at,
                        char32_t *c) {
    const uint16_t i = *at;
    if (i >= length) {
        return false;
    }
    if (charset == DAB_CHARSET_UCS2) {
        if (length - i < 2) {
            return false;
        }
        char32_t unit = static_cast<char32_t>(bytes[i] << 8 | bytes[i + 1]);
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = DAB_REPLACEMENT_CHARACTER;
        }
        *c = unit;
        *at = static_cast<uint16_t>(i + 2);
        return true;
    }
    if (charset != DAB_CHARSET_UTF8 || bytes[i] < 0x80) {
        *c = charset == DAB_CHARSET_UTF8 ? bytes[i] : DAB_EBU_Latin[bytes[i]];
        *at = static_cast<uint16_t>(i + 1);
        return true;
    }
    const DAB_Utf8Lead form = DAB_utf8_lead(bytes[i]);
    if (form.continuations == 0) {
        *c = DAB_REPLACEMENT_CHARACTER;
        *at = static_cast<uint16_t>(i + 1);
        return true;
    }
    char32_t value = bytes[i] & (0x3F >> form.continuations);
    uint16_t taken = 1;
    while (taken <= form.continuations) {
        if (length - i <= taken) {
            return false;
        }
        const uint8_t next = bytes[i + taken];
        const uint8_t low = taken == 1 ? form.first_low : 0x80;
        const uint8_t high = taken == 1 ? form.first_high : 0xBF;
        if (next < low || next > high) {
            *c = DAB_REPLACEMENT_CHARACTER;
            *at = static_cast<uint16_t>(i + taken);
            return true;
        }
        value = value << 6 | (next & 0x3F);
        ++taken;
    }
    *c = value;
    *at = static_cast<uint16_t>(i + taken);
    return true;
}

uint8_t DAB_utf8_encode(char32_t c, char bytes[DAB_UTF8_MAX_BYTES]) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = DAB_REPLACEMENT_CHARACTER;
    }
    if (c < 0x80) {
        bytes[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | c >> 6);
        bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | c >> 12);
        bytes[1] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<char>(0xF0 | c >> 18);
    bytes[1] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}
