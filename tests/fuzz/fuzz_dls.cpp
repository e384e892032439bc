// SPDX-License-Identifier: GPL-3.0-or-later
// Whole sequences of dynamic-label packets, each a length byte and that many
// payload bytes: whatever comes, the record's strings are valid UTF-8 inside
// their buffers, what a command tags lies inside the message it follows, and
// a packet that reports no change changed nothing.
#include <cstring>
#include <memory>

#include "DAB_dl_plus.h"
#include "FuzzSupport.h"

namespace {

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF),
// written apart from the decoder's own.
bool valid_utf8(const char *text, std::size_t size) {
    const std::size_t length = strnlen(text, size);
    if (length == size) {
        return false; // no terminator inside the buffer
    }
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    for (std::size_t i = 0; i < length;) {
        const unsigned n = s[i] < 0x80                    ? 0
                           : s[i] >= 0xC2 && s[i] <= 0xDF ? 1
                           : s[i] >= 0xE0 && s[i] <= 0xEF ? 2
                           : s[i] >= 0xF0 && s[i] <= 0xF4 ? 3
                                                          : 4;
        if (n == 4 || i + n >= length) {
            return false; // not a lead byte, or cut by the end
        }
        uint32_t c = n == 0 ? s[i] : s[i] & (0x3F >> n);
        for (unsigned k = 1; k <= n; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                return false;
            }
            c = c << 6 | (s[i + k] & 0x3F);
        }
        const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        i += n + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static auto dls = std::make_unique<DAB_Dls>();
    static auto before = std::make_unique<DAB_Dls>();
    DAB_dls_reset(dls.get());
    std::size_t at = 0;
    while (at < size) {
        const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
        const uint8_t *packet = data + at + 1;
        at += 1 + length;
        std::memcpy(before.get(), dls.get(), sizeof(DAB_Dls));
        const uint8_t changed = DAB_dls_feed(dls.get(), packet, static_cast<uint16_t>(length));

        fuzz::require(valid_utf8(dls->text, sizeof(dls->text)), "the text is valid UTF-8");
        fuzz::require((changed & DAB_DLS_TEXT_CHANGED) != 0 ||
                          std::strcmp(dls->text, before->text) == 0,
                      "the text changes only with TEXT_CHANGED");
        // What a front-end shows: whether an item plays, and every field.
        bool same = dls->now_playing.item_running == before->now_playing.item_running;
        for (uint8_t type = 1; type < DAB_DL_PLUS_CONTENT_TYPES; ++type) {
            const char *field = DAB_now_playing_field(&dls->now_playing, type);
            const char *was = DAB_now_playing_field(&before->now_playing, type);
            fuzz::require(valid_utf8(field, DAB_DL_PLUS_FIELD_SIZE), "a field is valid UTF-8");
            same = same && std::strcmp(field, was) == 0;
            fuzz::require(std::strcmp(field, was) == 0 || std::strstr(dls->text, field) != nullptr,
                          "a newly tagged field lies inside its message");
        }
        fuzz::require((changed & DAB_DLS_NOW_PLAYING_CHANGED) != 0 || same,
                      "what plays changes only with NOW_PLAYING_CHANGED");
    }
    return 0;
}
