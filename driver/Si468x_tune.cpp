// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_TUNE_FREQ and the wait for tune complete.
#include "Si468x.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

int16_t Si468x_DAB_tune_freq(uint8_t index) {
    // Injection and antenna tuning capacitor left to the chip.
    uint8_t command[DAB_TUNE_FREQ_LENGTH] = {DAB_TUNE_FREQ, 0x00, 0x00, 0x00, 0x00, 0x00};
    command[DAB_TUNE_FREQ_INDEX] = index;
    int16_t status = Si468x_send_cmd(command, nullptr, DAB_TUNE_FREQ_LENGTH, 0);
    if (status != 0) {
        return Si468x_failure(status, 21);
    }

    // A failed status read does not end the wait: the chip may still finish
    // the tune. Only the last poll's status is reported.
    uint8_t poll[RD_REPLY_LENGTH];
    for (uint16_t i = 0; i < TUNE_POLL_COUNT; ++i) {
        status = Si468x_rd_reply(poll);
        if (status == 0 && (poll[STATUS0] & STCINT) != 0) {
            return 0;
        }
        bcm2835_delay(TUNE_POLL_WAIT_MS);
    }
    return Si468x_failure(status < 0 ? status : -3, 121);
}
