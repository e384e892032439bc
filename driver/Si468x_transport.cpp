// SPDX-License-Identifier: GPL-3.0-or-later
// The command exchange: write the command, poll for clear-to-send, check the
// error bits, read the reply. Every other driver command goes through here.
#include "Si468x.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

int16_t Si468x_read_reply(uint8_t *buffer, uint16_t length) {
    // Zeros go out behind the RD_REPLY opcode, which is itself zero.
    Si468x_clear_array(buffer, length);
    if (Si468x_SPI_RW_data(buffer, length) < 0) {
        return Si468x_failure(-1, 56);
    }
    return 0;
}

int16_t Si468x_send_cmd_simple(uint8_t *buffer, uint16_t length) {
    if (Si468x_SPI_RW_data(buffer, length) < 0) {
        return Si468x_failure(-1, 57);
    }
    return 0;
}

int16_t Si468x_check_status_bits(const uint8_t *reply) {
    if ((reply[STATUS0] & ERR_CMD) != 0) {
        return Si468x_failure(-2, 58);
    }
    if ((reply[STATUS3] & REPOFERR_CMDOFERR_ARBERR) != 0) {
        return Si468x_failure(-1, 158);
    }
    if ((reply[STATUS3] & ERRNR) != 0) {
        return Si468x_failure(-2, 258);
    }
    return 0;
}

int16_t Si468x_send_cmd(uint8_t *command, uint8_t *reply, uint16_t command_length,
                        uint16_t reply_length) {
    int16_t status = Si468x_send_cmd_simple(command, command_length);
    if (status != 0) {
        return Si468x_failure(Si468x_min(-1, status), 59);
    }

    // A command that completes at once costs one status read; a slow one is
    // polled with a wait that grows by a millisecond per poll, about 1.2 s in
    // all.
    uint8_t poll[CTS_POLL_LENGTH];
    bool clear_to_send = false;
    for (uint16_t i = 0; i < CTS_POLL_COUNT; ++i) {
        status = Si468x_read_reply(poll, CTS_POLL_LENGTH);
        if (status != 0) {
            return Si468x_failure(Si468x_min(-1, status), 1059 + 100 * i);
        }
        if ((poll[STATUS0] & CTS) != 0) {
            clear_to_send = true;
            break;
        }
        bcm2835_delayMicroseconds(i * CTS_POLL_WAIT_STEP_US + CTS_POLL_WAIT_FIRST_US);
    }
    if (!clear_to_send) {
        return Si468x_failure(-3, 160);
    }
    status = Si468x_check_status_bits(poll);
    if (status != 0) {
        return Si468x_failure(Si468x_min(-1, status), 260);
    }

    if (reply_length == 0) {
        return 0;
    }
    if (reply == nullptr) {
        return Si468x_failure(-6, 360);
    }
    status = Si468x_read_reply(reply, reply_length);
    if (status != 0) {
        return Si468x_failure(Si468x_min(-1, status), 460);
    }
    // A reply too short to hold STATUS3 cannot be checked; its status bytes
    // were already checked in the clear-to-send poll.
    if (reply_length >= STATUS_LENGTH) {
        status = Si468x_check_status_bits(reply);
        if (status != 0) {
            return Si468x_failure(Si468x_min(-1, status), 560);
        }
    }
    return 0;
}

int16_t Si468x_rd_reply(uint8_t *buffer) {
    int16_t status = Si468x_read_reply(buffer, RD_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(Si468x_min(-1, status), 14);
    }
    status = Si468x_check_status_bits(buffer);
    if (status != 0) {
        return Si468x_failure(Si468x_min(-1, status), 114);
    }
    return 0;
}
