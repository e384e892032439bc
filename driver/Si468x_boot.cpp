// SPDX-License-Identifier: GPL-3.0-or-later
// BOOT: start the uploaded firmware image.
#include "Si468x.h"
#include "Si468x_commands.h"

int16_t Si468x_boot(void) {
    uint8_t command[BOOT_LENGTH] = {BOOT, 0x00};
    uint8_t reply[BOOT_REPLY_LENGTH];
    const int16_t status = Si468x_send_cmd(command, reply, BOOT_LENGTH, BOOT_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 10);
    }
    if (reply[STATUS3] != PUP_STATE_APPLICATION) {
        return Si468x_failure(-4, 110);
    }
    return 0;
}
