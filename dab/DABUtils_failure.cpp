// SPDX-License-Identifier: GPL-3.0-or-later
// Station management's failure recording.
#include <cstdio>
#include <cstring>

#include "DABUtils.h"

int32_t DABUtils_ErrorCode = 0;

namespace {

// Where console text goes while it is held (nullptr: standard output).
char *DABUtils_held_text = nullptr;
std::size_t DABUtils_held_room = 0;

} // namespace

void DABUtils_hold_output(char *buffer, std::size_t room) {
    DABUtils_held_text = room > 0 ? buffer : nullptr;
    DABUtils_held_room = room;
    if (DABUtils_held_text != nullptr) {
        DABUtils_held_text[0] = '\0';
    }
}

void DABUtils_output_status(const char *text) {
    if (DABUtils_held_text == nullptr) {
        std::fputs(text, stdout);
        return;
    }
    // Held text is added to what is there, cut where the buffer ends.
    const std::size_t used = std::strlen(DABUtils_held_text);
    std::snprintf(DABUtils_held_text + used, DABUtils_held_room - used, "%s", text);
}

int16_t DABUtils_min(int16_t a, int16_t b) {
    return a < b ? a : b;
}

int16_t DABUtils_failure(int16_t status, int32_t location) {
    // Only the host-side failures (-5 and below) are worth a line on the
    // console; the chip's own failures are left to the location code.
    if (status <= -5) {
        char text[100];
        std::snprintf(text, sizeof text, "DABUtils error No: %d, returned retval: %d\n",
                      static_cast<int>(location), static_cast<int>(status));
        DABUtils_output_status(text);
    }
    DABUtils_ErrorCode = location;
    return status;
}
