// SPDX-License-Identifier: GPL-3.0-or-later
// Decoded characters written in the terminal's own encoding, measured in
// screen columns.
#include <climits>
#include <cwchar>
#include <cwctype>

#include "DAB_charset.h"

namespace {

// Private use characters mean what a font makes of them; terminals and the
// C library disagree on their width, and a wrong width shifts every entry
// after them.
bool DAB_private_use(char32_t c) {
    return (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000;
}

// One character as the locale writes it, or its ASCII spelling. Returns the
// bytes written into `bytes` (room for MB_LEN_MAX) and the columns taken.
// A combining mark (no column of its own) is left out: on its own, or after
// a blank that the field's padding made, it would mark the wrong cell.
int DAB_terminal_char(char32_t c, bool ascii_only, char *bytes, int *columns) {
    if (!ascii_only || c < 0x80) {
        const wchar_t wide = static_cast<wchar_t>(c);
        const int width = ::wcwidth(wide);
        if (width == 0) {
            *columns = 0;
            return 0;
        }
        std::mbstate_t state{};
        if (width > 0 && !DAB_private_use(c) && std::iswprint(static_cast<wint_t>(wide)) != 0) {
            const std::size_t length = std::wcrtomb(bytes, wide, &state);
            if (length != static_cast<std::size_t>(-1)) {
                *columns = width;
                return static_cast<int>(length);
            }
        }
    }
    char spelling[DAB_ASCII_SPELLING_SIZE];
    const uint8_t length = DAB_ascii_spelling(c, spelling);
    for (uint8_t i = 0; i < length; ++i) {
        bytes[i] = spelling[i];
    }
    *columns = length;
    return length;
}

} // namespace

int DAB_terminal_text(const char32_t *chars, uint16_t count, int max_columns, bool ascii_only,
                      char *text, uint16_t size) {
    uint16_t used = 0;
    int columns = 0;
    for (uint16_t i = 0; i < count; ++i) {
        char bytes[MB_LEN_MAX > DAB_ASCII_SPELLING_SIZE ? MB_LEN_MAX : DAB_ASCII_SPELLING_SIZE];
        int width = 0;
        const int length = DAB_terminal_char(chars[i], ascii_only, bytes, &width);
        if (columns + width > max_columns || used + length >= size) {
            break;
        }
        for (int b = 0; b < length; ++b) {
            text[used++] = bytes[b];
        }
        columns += width;
    }
    if (size > 0) {
        text[used] = '\0';
    }
    return columns;
}

int DAB_label_for_terminal(const char label[DAB_LABEL_BYTES], uint8_t charset, bool ascii_only,
                           char text[DAB_LABEL_TEXT_SIZE]) {
    char32_t chars[DAB_LABEL_CHARS];
    const uint8_t count = DAB_decode_label(label, charset, chars);
    // A name wider than 16 columns (ASCII spellings of several letters) would
    // not fit the menu's three columns of entries.
    return DAB_terminal_text(chars, count, DAB_LABEL_CHARS, ascii_only, text, DAB_LABEL_TEXT_SIZE);
}
