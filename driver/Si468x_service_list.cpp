// SPDX-License-Identifier: GPL-3.0-or-later
// GET_DIGITAL_SERVICE_LIST: the tuned ensemble's service list, kept raw.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_get_digital_service_list(Si468x_ServiceList *list) {
    // The first read learns the list's size, the second reads the whole list
    // straight into the record.
    uint8_t command[GET_DIGITAL_SERVICE_LIST_LENGTH] = {GET_DIGITAL_SERVICE_LIST, 0x00};
    uint8_t size_reply[SERVICE_LIST_SIZE_REPLY_LENGTH];
    int16_t status = Si468x_send_cmd(command, size_reply, GET_DIGITAL_SERVICE_LIST_LENGTH,
                                     SERVICE_LIST_SIZE_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 26);
    }
    const uint16_t size = Si468x_get_u16(size_reply + SERVICE_LIST_SIZE);
    // SIZE out of range either way: beyond the record, or too short to hold
    // the list header (which would leave a negative data length). Both fail
    // at 126 before the second read.
    if (size + SERVICE_LIST_SIZE_OFFSET > SI468X_SERVICE_DATA_SIZE || size < SERVICE_LIST_HEADER) {
        return Si468x_failure(-4, 126);
    }

    command[0] = GET_DIGITAL_SERVICE_LIST;
    command[1] = 0x00;
    uint8_t *data = list->service_data;
    status = Si468x_send_cmd(command, data, GET_DIGITAL_SERVICE_LIST_LENGTH,
                             static_cast<uint16_t>(size + SERVICE_LIST_SIZE_OFFSET));
    if (status != 0) {
        return Si468x_failure(status, 226);
    }
    list->list_version = Si468x_get_u16(data + SERVICE_LIST_VERSION);
    list->num_services = data[SERVICE_LIST_NUM_SERVICES];
    list->data_length = static_cast<uint16_t>(size - SERVICE_LIST_HEADER);
    // Overlapping move towards the front: ascending order keeps it correct.
    for (uint16_t k = 0; k < list->data_length; ++k) {
        data[k] = data[k + SERVICE_LIST_FIRST_SERVICE];
    }
    return 0;
}
