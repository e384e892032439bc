// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's failure recording and its small byte utilities.
#include "Si468x.h"

int32_t Si468x_ErrorCode = 0;

int16_t Si468x_failure(int16_t status, int32_t location) {
    Si468x_ErrorCode = location;
    return status;
}

int16_t Si468x_min(int16_t a, int16_t b) {
    return a < b ? a : b;
}

// Both utilities run from the last byte down to the first.
void Si468x_clear_array(uint8_t *buffer, uint16_t count) {
    while (count > 0) {
        --count;
        buffer[count] = 0;
    }
}

void Si468x_byte_array_copy(uint8_t *destination, const uint8_t *source, uint16_t count) {
    while (count > 0) {
        --count;
        destination[count] = source[count];
    }
}
