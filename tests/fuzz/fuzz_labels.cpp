// SPDX-License-Identifier: GPL-3.0-or-later
// Labels and broadcast texts of any bytes in any character set: decoded and
// written for a UTF-8 terminal and for an ASCII one, never more characters
// than the field holds, never more columns than allowed, never a byte the
// terminal would take for a control, and always text its locale can read.
#include <clocale>
#include <cstring>
#include <cwchar>

#include "DABUtils.h"
#include "FuzzSupport.h"

namespace {

void check_written(const char *text, uint16_t size, int columns, int max_columns, bool ascii) {
    const std::size_t length = std::strlen(text);
    fuzz::require(length < size, "the terminal text stays inside its buffer");
    fuzz::require(columns >= 0 && columns <= max_columns, "the columns stay within the width");
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        fuzz::require(byte >= 0x20 && byte != 0x7F, "no control byte reaches the terminal");
        fuzz::require(!ascii || byte < 0x80, "ASCII spelling is ASCII");
    }
    std::mbstate_t state{};
    const char *source = text;
    fuzz::require(std::mbsrtowcs(nullptr, &source, 0, &state) != static_cast<std::size_t>(-1),
                  "the text is well formed in the locale");
}

void write_both_ways(const char32_t *chars, uint16_t count, int max_columns) {
    char text[DAB_LABEL_TEXT_SIZE * 4];
    for (bool ascii : {false, true}) {
        const int columns = DAB_terminal_text(chars, count, max_columns, ascii, text, sizeof(text));
        check_written(text, sizeof(text), columns, max_columns, ascii);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size < 1 + DAB_LABEL_BYTES) {
        return 0;
    }
    static const bool locale = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
    fuzz::require(locale, "the C.UTF-8 locale is there");

    const uint8_t charset = data[0];
    char label[DAB_LABEL_BYTES];
    std::memcpy(label, data + 1, DAB_LABEL_BYTES);
    char32_t chars[DAB_LABEL_CHARS];
    const uint8_t count = DAB_decode_label(label, charset, chars);
    fuzz::require(count <= DAB_LABEL_CHARS, "a label gives at most 16 characters");
    for (uint8_t i = 0; i < count; ++i) {
        fuzz::require(chars[i] != 0 && chars[i] <= 0x10FFFF &&
                          !(chars[i] >= 0xD800 && chars[i] <= 0xDFFF),
                      "decoded characters are Unicode scalar values");
    }
    fuzz::require(count == 0 || chars[count - 1] != U' ', "no trailing blank");
    write_both_ways(chars, count, data[0] % 40);

    char name[DAB_LABEL_TEXT_SIZE];
    const int columns = DAB_label_for_terminal(label, charset, false, name);
    check_written(name, DAB_LABEL_TEXT_SIZE, columns, DAB_LABEL_CHARS, false);

    // The rest is a broadcast text.
    const auto *text = reinterpret_cast<const char *>(data + 1 + DAB_LABEL_BYTES);
    const auto length =
        static_cast<uint16_t>(std::min<std::size_t>(size - 1 - DAB_LABEL_BYTES, 4096));
    char32_t decoded[4096];
    const uint16_t decoded_count = DAB_decode_text(text, length, decoded, 4096);
    fuzz::require(decoded_count <= length, "a text gives at most a character a byte");
    write_both_ways(decoded, decoded_count, 80);
    return 0;
}
