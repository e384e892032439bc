// SPDX-License-Identifier: GPL-3.0-or-later
// Station labels and broadcast text as characters. The driver's records and
// the station list keep the bytes as broadcast; they are decoded only where
// text meets a person: the menu, the text row, the status line and the
// diagnostics printouts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "Si468x.h"

// Character sets a label can be sent in (the service's SI charset, a
// component's charset id); every other value is read as EBU Latin.
constexpr uint8_t DAB_CHARSET_EBU_LATIN = 0;
constexpr uint8_t DAB_CHARSET_UCS2 = 6;
constexpr uint8_t DAB_CHARSET_UTF8 = 15;

// A label field: 16 bytes, blank padded or ended by zero bytes.
constexpr uint8_t DAB_LABEL_BYTES = SI468X_LABEL_LENGTH;
// The most characters a label field can hold (one byte each in EBU Latin).
constexpr uint8_t DAB_LABEL_CHARS = DAB_LABEL_BYTES;

constexpr char32_t DAB_REPLACEMENT_CHARACTER = 0xFFFD;

// Broadcast text controls of the EBU Latin repertoire.
constexpr char32_t DAB_TEXT_LINE_BREAK = 0x000A;
constexpr char32_t DAB_TEXT_END_OF_HEADLINE = 0x000B;
constexpr char32_t DAB_TEXT_WORD_BREAK = 0x0082;

// The complete EBU Latin based repertoire: byte value to Unicode code point.
// Byte 0x00 ends a text and pads a label; it maps to nothing (0).
extern const std::array<char16_t, 256> DAB_EBU_Latin;

// Decodes a label field sent in `charset` into at most 16 characters.
// Trailing blanks and the zero padding are not part of the name; line breaks
// and ends of headline read as blanks, word breaks as nothing. In UTF-8 a
// character cut by the end of the field is dropped and a byte that cannot
// start or continue a character reads as U+FFFD. Returns the number of
// characters stored.
uint8_t DAB_decode_label(const char label[DAB_LABEL_BYTES], uint8_t charset,
                         char32_t chars[DAB_LABEL_CHARS]);

// Decodes a broadcast text (EBU Latin, ending at its first zero byte or after
// `length` bytes) with the controls read as in a label, into at most
// `capacity` characters. Returns the number stored.
uint16_t DAB_decode_text(const char *text, uint16_t length, char32_t *chars, uint16_t capacity);

// The closest ASCII spelling of a character (é as "e", ß as "ss", Æ as "AE"),
// "?" for one that has none. At most 3 bytes and a terminator.
constexpr uint8_t DAB_ASCII_SPELLING_SIZE = 4;
uint8_t DAB_ascii_spelling(char32_t c, char spelling[DAB_ASCII_SPELLING_SIZE]);

// Characters as the terminal's locale writes them: each one the locale can
// show as itself, every other one in its ASCII spelling, never more than
// `max_columns` screen columns and never a character split. With `ascii_only`
// every character outside ASCII takes its ASCII spelling. Writes a
// zero-terminated string into `text` (`size` bytes) and returns the number of
// columns it takes.
int DAB_terminal_text(const char32_t *chars, uint16_t count, int max_columns, bool ascii_only,
                      char *text, uint16_t size);

// Room for a label in terminal text: 16 characters of at most 4 bytes each
// in the locale's encoding (or 3 in their ASCII spelling), and a terminator.
constexpr uint16_t DAB_LABEL_TEXT_SIZE = DAB_LABEL_CHARS * 4 + 1;

// A label decoded and written for the terminal, as the menu and the status
// line show it. Returns the columns taken (0 for an empty name).
int DAB_label_for_terminal(const char label[DAB_LABEL_BYTES], uint8_t charset, bool ascii_only,
                           char text[DAB_LABEL_TEXT_SIZE]);

// Characters as UTF-8, whatever the process locale: for what leaves the
// program as data (the engine's text, a service's JSON) rather than for a
// terminal. A surrogate or a value past U+10FFFF is written as U+FFFD. Writes
// a zero-terminated string into `text` (`room` bytes), never a character
// split, and returns the bytes written before the terminator.
std::size_t DAB_utf8_text(const char32_t *chars, uint16_t count, char *text, std::size_t room);
// The characters of UTF-8 `text` (zero-terminated) as written by
// DAB_utf8_text, at most `capacity`; a byte that does not begin or continue
// a character reads as U+FFFD. Returns the number stored.
uint16_t DAB_utf8_chars(const char *text, char32_t *chars, uint16_t capacity);
