// SPDX-License-Identifier: GPL-3.0-or-later
// DL Plus: the tags a station sends after a message, marking its parts as
// title, artist and so on, and the item toggle and item running bits that
// say when a song or programme item starts and stops.
#include <cstring>

#include "DAB_dl_plus.h"

namespace {

// The command field's first byte.
constexpr uint8_t DL_PLUS_CID_SHIFT = 4;
constexpr uint8_t DL_PLUS_CID_TAGS = 0;
constexpr uint8_t DL_PLUS_ITEM_TOGGLE = 0x08;
constexpr uint8_t DL_PLUS_ITEM_RUNNING = 0x04;
constexpr uint8_t DL_PLUS_TAG_COUNT_MASK = 0x03;
// Each tag: content type, start marker, length marker, 7 bits each.
constexpr uint8_t DL_PLUS_TAG_BYTES = 3;
constexpr uint8_t DL_PLUS_SEVEN_BITS = 0x7F;

char *DAB_now_playing_slot(DAB_NowPlaying *now_playing, uint8_t content_type) {
    switch (content_type) {
    case DAB_DL_PLUS_DUMMY:
        return nullptr;
    case DAB_DL_PLUS_ITEM_TITLE:
        return now_playing->title;
    case DAB_DL_PLUS_ITEM_ALBUM:
        return now_playing->album;
    case DAB_DL_PLUS_ITEM_ARTIST:
        return now_playing->artist;
    case DAB_DL_PLUS_STATIONNAME_LONG:
        return now_playing->station_name_long;
    case DAB_DL_PLUS_PROGRAMME_NOW:
        return now_playing->programme_now;
    default:
        return content_type < DAB_DL_PLUS_CONTENT_TYPES ? now_playing->other[content_type]
                                                        : nullptr;
    }
}

bool DAB_is_item_type(uint8_t content_type) {
    return content_type >= DAB_DL_PLUS_ITEM_TITLE && content_type <= DAB_DL_PLUS_LAST_ITEM_TYPE;
}

// A new item, or none playing: what described the last one no longer holds.
bool DAB_clear_item_fields(DAB_NowPlaying *now_playing) {
    bool changed = false;
    for (uint8_t type = DAB_DL_PLUS_ITEM_TITLE; type <= DAB_DL_PLUS_LAST_ITEM_TYPE; ++type) {
        char *slot = DAB_now_playing_slot(now_playing, type);
        changed = changed || slot[0] != '\0';
        slot[0] = '\0';
    }
    return changed;
}

} // namespace

const char *DAB_now_playing_field(const DAB_NowPlaying *now_playing, uint8_t content_type) {
    return DAB_now_playing_slot(const_cast<DAB_NowPlaying *>(now_playing), content_type);
}

uint8_t DAB_dl_plus_command(DAB_Dls *dls, const uint8_t *field, uint16_t length) {
    if (field[0] >> DL_PLUS_CID_SHIFT != DL_PLUS_CID_TAGS) {
        return 0; // other DL Plus commands say nothing about what plays
    }
    const uint8_t tags = (field[0] & DL_PLUS_TAG_COUNT_MASK) + 1;
    if (1 + tags * DL_PLUS_TAG_BYTES > length) {
        return 0; // a field shorter than its tags: none of it can be trusted
    }
    DAB_NowPlaying *now_playing = &dls->now_playing;
    const uint8_t item_toggle = (field[0] & DL_PLUS_ITEM_TOGGLE) != 0 ? 1 : 0;
    const uint8_t item_running = (field[0] & DL_PLUS_ITEM_RUNNING) != 0 ? 1 : 0;
    // Whether an item plays is news too (a front-end shows nothing between
    // items); the item toggle is only the decoder's to compare.
    bool changed = now_playing->item_running != item_running;
    if ((now_playing->tagged != 0 && now_playing->item_toggle != item_toggle) ||
        item_running == 0) {
        changed = DAB_clear_item_fields(now_playing) || changed;
    }
    now_playing->tagged = 1;
    now_playing->item_toggle = item_toggle;
    now_playing->item_running = item_running;

    for (uint8_t k = 0; k < tags; ++k) {
        const uint8_t *tag = field + 1 + k * DL_PLUS_TAG_BYTES;
        const uint8_t type = tag[0] & DL_PLUS_SEVEN_BITS;
        const uint8_t start = tag[1] & DL_PLUS_SEVEN_BITS;
        const uint8_t chars = static_cast<uint8_t>((tag[2] & DL_PLUS_SEVEN_BITS) + 1);
        char *slot = DAB_now_playing_slot(now_playing, type);
        // Between items the item tags describe nothing that plays.
        if (slot == nullptr || (item_running == 0 && DAB_is_item_type(type))) {
            continue;
        }
        char text[DAB_DL_PLUS_FIELD_SIZE];
        if (!DAB_dls_message_text(dls, start, chars, text, sizeof(text))) {
            continue; // a marker past the message's end
        }
        if (std::strcmp(slot, text) != 0) {
            std::strcpy(slot, text);
            changed = true;
        }
    }
    return changed ? DAB_DLS_NOW_PLAYING_CHANGED : 0;
}
