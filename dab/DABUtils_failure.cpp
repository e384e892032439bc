// SPDX-License-Identifier: GPL-3.0-or-later
// Station management's failure recording.
#include <cstdio>

#include "DABUtils.h"

int32_t DABUtils_ErrorCode = 0;

void DABUtils_output_status(const char *text) {
    std::fputs(text, stdout);
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
