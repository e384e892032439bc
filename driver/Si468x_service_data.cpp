// SPDX-License-Identifier: GPL-3.0-or-later
// GET_DIGITAL_SERVICE_DATA: one data-service packet, and the text message it
// may carry.
#include "Si468x.h"
#include "Si468x_SPI.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

void Si468x_take_interrupts(Si468x_ServiceData *data, const uint8_t *reply) {
    data->overflow_int = Si468x_flag(reply[DSRV_INTERRUPTS], DSRVOVFLINT);
    data->package_int = Si468x_flag(reply[DSRV_INTERRUPTS], DSRVPCKTINT);
    data->buffer_count = reply[DSRV_BUFF_COUNT];
}

} // namespace

bool Si468x_is_text_message(const uint8_t *payload) {
    return (payload[0] == 0x00 || payload[0] == TEXT_MESSAGE_TOGGLE) && payload[1] == 0x00;
}

int16_t Si468x_get_digital_service_data(Si468x_ServiceData *data, uint8_t *ready) {
    uint8_t full_reply[DIGITAL_SERVICE_DATA_REPLY_LENGTH];
    Si468x_clear_array(full_reply, DIGITAL_SERVICE_DATA_REPLY_LENGTH);
    *ready = 0;

    // The frequent case, nothing waiting, costs only the status-only query.
    uint8_t command[GET_DIGITAL_SERVICE_DATA_LENGTH] = {GET_DIGITAL_SERVICE_DATA, STATUS_ONLY};
    uint8_t status_reply[DIGITAL_SERVICE_DATA_STATUS_LENGTH];
    int16_t status = Si468x_send_cmd(command, status_reply, GET_DIGITAL_SERVICE_DATA_LENGTH,
                                     DIGITAL_SERVICE_DATA_STATUS_LENGTH);
    if (status < 0) {
        return Si468x_failure(status, 34);
    }
    Si468x_take_interrupts(data, status_reply);
    data->srv_state = 0;
    data->data_src = 0;
    data->dscty = 0;
    data->service_id = 0;
    data->comp_id = 0;
    if (data->buffer_count == 0) {
        return 0;
    }
    // Reported only; clearing the overflow is the caller's business.
    if (data->overflow_int != 0) {
        return Si468x_failure(-2, 134);
    }
    if (data->package_int == 0) {
        return Si468x_failure(-3, 234);
    }

    // The full reply is fetched whole with every poll, so the payload needs
    // no second read once CTS shows in it. A failed write counts as a failed
    // fetch of the full reply.
    command[0] = GET_DIGITAL_SERVICE_DATA;
    command[1] = 0x00;
    status = Si468x_send_cmd_simple(command, GET_DIGITAL_SERVICE_DATA_LENGTH);
    if (status < 0) {
        return Si468x_failure(status, 334);
    }
    bool clear_to_send = false;
    for (uint16_t i = 0; i < DIGITAL_SERVICE_DATA_READS && !clear_to_send; ++i) {
        bcm2835_delay(DIGITAL_SERVICE_DATA_WAIT_MS);
        status = Si468x_read_reply(full_reply, DIGITAL_SERVICE_DATA_REPLY_LENGTH);
        if (status < 0) {
            return Si468x_failure(status, 334);
        }
        clear_to_send = (full_reply[STATUS0] & CTS) != 0;
    }
    if (!clear_to_send) {
        return Si468x_failure(-3, 434);
    }

    Si468x_take_interrupts(data, full_reply);
    if (data->package_int == 0) {
        return Si468x_failure(-6, 534);
    }
    const uint8_t source = full_reply[DSRV_DATA_SRC_DSCTY];
    data->srv_state = full_reply[DSRV_SRV_STATE];
    data->data_src = source >> DATA_SRC_SHIFT;
    data->dscty = source & DSCTY_MASK;
    data->service_id = Si468x_get_u32(full_reply + DSRV_SERVICE_ID);
    data->comp_id = Si468x_get_u32(full_reply + DSRV_COMPONENT_ID);
    data->byte_count = Si468x_get_u16(full_reply + DSRV_BYTE_COUNT);
    if (data->byte_count > SI468X_PAYLOAD_SIZE) {
        return Si468x_failure(-4, 634);
    }
    data->segment_number = Si468x_get_u16(full_reply + DSRV_SEG_NUM);
    data->number_segments = Si468x_get_u16(full_reply + DSRV_NUM_SEGS);
    Si468x_byte_array_copy(data->payload, full_reply + DSRV_PAYLOAD, data->byte_count);

    // A text message: two header bytes, the text, and one last byte that is
    // not part of it.
    if (Si468x_is_text_message(data->payload)) {
        uint16_t copied = 0;
        while (copied + TEXT_MESSAGE_HEADER + TEXT_MESSAGE_TRAILER < data->byte_count) {
            data->text[copied] = static_cast<char>(data->payload[TEXT_MESSAGE_HEADER + copied]);
            ++copied;
        }
        data->text[copied] = '\0';
    }
    *ready = 1;
    return 0;
}
