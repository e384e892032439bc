// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_GET_FREQ_LIST and DAB_SET_FREQ_LIST: the frequency list that the chip
// tunes by index.
#include <array>

#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

// Centre frequencies in kHz of the Band III blocks 5A to 13F, with 10N, 11N
// and 12N.
constexpr std::array<uint32_t, SI468X_BAND3_FREQ_COUNT> BAND3_FREQUENCIES{
    174928, 176640, 178352, 180064,                 // 5A-5D
    181936, 183648, 185360, 187072,                 // 6A-6D
    188928, 190640, 192352, 194064,                 // 7A-7D
    195936, 197648, 199360, 201072,                 // 8A-8D
    202928, 204640, 206352, 208064,                 // 9A-9D
    209936, 210096, 211648, 213360, 215072,         // 10A 10N 10B-10D
    216928, 217088, 218640, 220352, 222064,         // 11A 11N 11B-11D
    223936, 224096, 225648, 227360, 229072,         // 12A 12N 12B-12D
    230784, 232496, 234208, 235776, 237488, 239200, // 13A-13F
};

constexpr uint16_t DAB_SET_FREQ_LIST_LENGTH =
    DAB_SET_FREQ_LIST_HEADER_LENGTH + FREQ_LIST_ENTRY_LENGTH * SI468X_BAND3_FREQ_COUNT;
static_assert(DAB_SET_FREQ_LIST_LENGTH == 168);

} // namespace

int16_t Si468x_DAB_get_freq_list(uint32_t *frequencies, uint16_t capacity, uint8_t *count) {
    *count = 0;
    // The list's length is known only from the count, so it is asked twice.
    uint8_t command[DAB_GET_FREQ_LIST_LENGTH] = {DAB_GET_FREQ_LIST, 0x00};
    uint8_t count_reply[DAB_GET_FREQ_LIST_COUNT_REPLY_LENGTH];
    int16_t status = Si468x_send_cmd(command, count_reply, DAB_GET_FREQ_LIST_LENGTH,
                                     DAB_GET_FREQ_LIST_COUNT_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 19);
    }
    const uint8_t reported = count_reply[FREQ_LIST_NUM_FREQS];
    const uint8_t stored = reported < capacity ? reported : static_cast<uint8_t>(capacity);
    *count = stored;

    command[0] = DAB_GET_FREQ_LIST;
    command[1] = 0x00;
    uint8_t reply[FREQ_LIST_REPLY_LENGTH_MAX];
    status =
        Si468x_send_cmd(command, reply, DAB_GET_FREQ_LIST_LENGTH,
                        static_cast<uint16_t>(FREQ_LIST_FIRST + FREQ_LIST_ENTRY_LENGTH * reported));
    if (status != 0) {
        return Si468x_failure(status, 119);
    }
    for (uint16_t i = 0; i < stored; ++i) {
        frequencies[i] = Si468x_get_u32(reply + FREQ_LIST_FIRST + FREQ_LIST_ENTRY_LENGTH * i);
    }
    return 0;
}

int16_t Si468x_DAB_set_freq_list(void) {
    uint8_t command[DAB_SET_FREQ_LIST_LENGTH] = {DAB_SET_FREQ_LIST, SI468X_BAND3_FREQ_COUNT, 0x00,
                                                 0x00};
    for (uint16_t i = 0; i < SI468X_BAND3_FREQ_COUNT; ++i) {
        Si468x_put_u32(command + DAB_SET_FREQ_LIST_HEADER_LENGTH + FREQ_LIST_ENTRY_LENGTH * i,
                       BAND3_FREQUENCIES[i]);
    }
    const int16_t status = Si468x_send_cmd(command, nullptr, DAB_SET_FREQ_LIST_LENGTH, 0);
    if (status != 0) {
        return Si468x_failure(status, 20);
    }
    return 0;
}
