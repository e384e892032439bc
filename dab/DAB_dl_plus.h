// SPDX-License-Identifier: GPL-3.0-or-later
// The broadcast text (dynamic label) and what it says is playing (DL Plus).
// Each text packet the chip delivers is fed in as it comes: its two-byte
// prefix says whether it is a message (in which character set) or a command
// (clear the display, DL Plus tags for the message just sent). The record
// keeps the message as broadcast, its text in UTF-8 whatever the terminal's
// locale, and the tagged parts of it: artist, title and the rest. Nothing
// here allocates or prints; the record is the caller's, zeroed before use.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DAB_charset.h"
#include "Si468x.h"
#include "Si468x_commands.h"

// The data source the chip gives the packets of the dynamic label; other
// sources (slideshow, journal pages) carry no text.
constexpr uint8_t DAB_DLS_DATA_SOURCE = 2;

// The prefix's bits (first byte: toggle, C flag, command; second byte: the
// character set of a message, or a DL Plus command's link bit and length).
constexpr uint8_t DAB_DLS_TOGGLE = 0x80;
constexpr uint8_t DAB_DLS_C_FLAG = 0x10;
constexpr uint8_t DAB_DLS_COMMAND_MASK = 0x0F;
constexpr uint8_t DAB_DLS_COMMAND_CLEAR = 0x01;
constexpr uint8_t DAB_DLS_COMMAND_DL_PLUS = 0x02;
constexpr uint8_t DAB_DLS_CHARSET_SHIFT = 4;
constexpr uint8_t DAB_DLS_FIELD_LENGTH_MASK = 0x0F;

// A message's bytes as the chip delivers them: the packet less its prefix
// and the one byte after the message.
constexpr uint16_t DAB_DLS_MESSAGE_SIZE =
    SI468X_PAYLOAD_SIZE - TEXT_MESSAGE_HEADER - TEXT_MESSAGE_TRAILER;
// Each byte gives at most one character, of at most 3 bytes in UTF-8 (a
// 4-byte character takes 4 bytes of UTF-8 or 2 units of UCS-2 to send).
constexpr std::size_t DAB_DLS_TEXT_SIZE = DAB_DLS_MESSAGE_SIZE * 3 + 1;

// DL Plus: content types (the RDS RadioText Plus list, 0 to 63).
constexpr uint8_t DAB_DL_PLUS_CONTENT_TYPES = 64;
constexpr uint8_t DAB_DL_PLUS_DUMMY = 0;
constexpr uint8_t DAB_DL_PLUS_ITEM_TITLE = 1;
constexpr uint8_t DAB_DL_PLUS_ITEM_ALBUM = 2;
constexpr uint8_t DAB_DL_PLUS_ITEM_ARTIST = 4;
// ITEM.TITLE to ITEM.GENRE describe the playing item.
constexpr uint8_t DAB_DL_PLUS_LAST_ITEM_TYPE = 11;
constexpr uint8_t DAB_DL_PLUS_STATIONNAME_LONG = 32;
constexpr uint8_t DAB_DL_PLUS_PROGRAMME_NOW = 33;
// A tag marks at most 128 characters, of at most 4 bytes in UTF-8.
constexpr uint8_t DAB_DL_PLUS_MAX_TAG_CHARS = 128;
constexpr std::size_t DAB_DL_PLUS_FIELD_SIZE = DAB_DL_PLUS_MAX_TAG_CHARS * DAB_UTF8_MAX_BYTES + 1;
constexpr uint8_t DAB_DL_PLUS_MAX_TAGS = 4;

// What DL Plus says is on: each field UTF-8, zero-terminated, empty when
// not tagged.
struct DAB_NowPlaying {
    uint8_t tagged;       // a DL Plus command has been taken
    uint8_t item_toggle;  // of the last command taken
    uint8_t item_running; // 1 while an item plays
    char artist[DAB_DL_PLUS_FIELD_SIZE];
    char title[DAB_DL_PLUS_FIELD_SIZE];
    char album[DAB_DL_PLUS_FIELD_SIZE];
    char programme_now[DAB_DL_PLUS_FIELD_SIZE];
    char station_name_long[DAB_DL_PLUS_FIELD_SIZE];
    // Every other content type's latest text, by content type; the five
    // above and DUMMY have theirs in the named fields or none.
    char other[DAB_DL_PLUS_CONTENT_TYPES][DAB_DL_PLUS_FIELD_SIZE];
};

struct DAB_Dls {
    uint8_t has_message; // a message is held (none at first and after "clear display")
    uint8_t toggle;      // the held message's toggle bit, 0 or 1
    uint8_t charset;     // its character set as the prefix gives it
    uint16_t message_length;
    uint8_t message[DAB_DLS_MESSAGE_SIZE];
    // The held message's text: UTF-8, zero-terminated; line breaks and ends
    // of headline as blanks, word breaks as nothing; empty for none.
    char text[DAB_DLS_TEXT_SIZE];
    DAB_NowPlaying now_playing;
};

// What a packet changed.
constexpr uint8_t DAB_DLS_TEXT_CHANGED = 0x01;
constexpr uint8_t DAB_DLS_NOW_PLAYING_CHANGED = 0x02;

// One dynamic-label packet as the chip delivers it: the prefix, the message
// or command field, one byte after it. Returns DAB_DLS_TEXT_CHANGED and/or
// DAB_DLS_NOW_PLAYING_CHANGED, 0 when nothing changed (a repeated message,
// a malformed or unmatched command, a command this receiver ignores).
uint8_t DAB_dls_feed(DAB_Dls *dls, const uint8_t *payload, uint16_t byte_count);

// A data-service packet of any source: only the dynamic label's are fed.
uint8_t DAB_dls_feed_packet(DAB_Dls *dls, const Si468x_ServiceData *data);

// Another station: no message, nothing playing.
void DAB_dls_reset(DAB_Dls *dls);

// The text of a content type; nullptr for DUMMY and for values past 63.
const char *DAB_now_playing_field(const DAB_NowPlaying *now_playing, uint8_t content_type);

// Characters `first` to `first + count - 1` of the held message in UTF-8,
// as the text shows them, into `out` (`size` bytes, zero-terminated; never a
// character split). Positions count as DL Plus markers count them, in this
// one place: a byte a character in EBU Latin, a code point in UTF-8 and
// UCS-2; the message ends at its first zero character. False, with `out`
// empty, when the message ends before the last of them. DAB_DLS_TO_THE_END
// as `count` takes every character from `first` on.
constexpr uint16_t DAB_DLS_TO_THE_END = 0xFFFF;
bool DAB_dls_message_text(const DAB_Dls *dls, uint16_t first, uint16_t count, char *out,
                          std::size_t size);

// The DL Plus command field of `length` bytes, for the held message (the
// prefix's half of the decoder hands it over).
uint8_t DAB_dl_plus_command(DAB_Dls *dls, const uint8_t *field, uint16_t length);
