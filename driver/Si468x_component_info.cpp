// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_GET_COMPONENT_INFO and the user-application entries of its reply.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_DAB_get_component_info(uint32_t service_id, uint32_t component_id,
                                      Si468x_ComponentInfo *info) {
    uint8_t command[DAB_GET_COMPONENT_INFO_LENGTH] = {DAB_GET_COMPONENT_INFO, 0x00, 0x00, 0x00};
    Si468x_put_u32(command + COMPONENT_INFO_SERVICE_ID, service_id);
    Si468x_put_u32(command + COMPONENT_INFO_COMPONENT_ID, component_id);
    // The first query learns the length of the user-application fields, the
    // second reads them; the first transfer overwrites its frame, so the
    // second goes out from an intact copy.
    uint8_t second_command[DAB_GET_COMPONENT_INFO_LENGTH];
    Si468x_byte_array_copy(second_command, command, DAB_GET_COMPONENT_INFO_LENGTH);

    uint8_t reply[COMPONENT_INFO_HEADER_LENGTH];
    int16_t status = Si468x_send_cmd(command, reply, DAB_GET_COMPONENT_INFO_LENGTH,
                                     COMPONENT_INFO_HEADER_LENGTH);
    if (status < 0) {
        return Si468x_failure(status, 30);
    }
    info->global_id = reply[COMPONENT_INFO_GLOBAL_ID];
    info->language = reply[COMPONENT_INFO_LANGUAGE] & COMPONENT_INFO_SIX_BITS;
    info->charset_id = reply[COMPONENT_INFO_CHARSET_ID] & COMPONENT_INFO_SIX_BITS;
    Si468x_byte_array_copy(reinterpret_cast<uint8_t *>(info->label), reply + COMPONENT_INFO_LABEL,
                           sizeof info->label);
    info->char_abbrev = Si468x_get_u16(reply + COMPONENT_INFO_CHAR_ABBREV);
    info->num_ua = reply[COMPONENT_INFO_NUM_UA];
    info->ua_length = reply[COMPONENT_INFO_UA_LENGTH];
    if (info->ua_length > COMPONENT_INFO_UA_LENGTH_MAX) {
        return Si468x_failure(-4, info->ua_length * 100 + 1030);
    }

    // The whole second reply lands in the area, then the fields move to its
    // front; the rest of the reply stays where it fell.
    const uint16_t reply_length = COMPONENT_INFO_HEADER_LENGTH + info->ua_length;
    status =
        Si468x_send_cmd(second_command, info->ua_area, DAB_GET_COMPONENT_INFO_LENGTH, reply_length);
    if (status < 0) {
        return Si468x_failure(status, 130);
    }
    for (uint16_t i = 0; i < info->ua_length; ++i) {
        info->ua_area[i] = info->ua_area[i + COMPONENT_INFO_HEADER_LENGTH];
    }
    return 0;
}

// Entries have no index: each call walks them from the start. ua_length is at
// most 255 and every test keeps p + 3 + L within it, so the pad byte read at
// p + 3 + L stays inside the 256-byte area.
int16_t Si468x_DAB_get_ua_data(const Si468x_ComponentInfo *info, Si468x_UserApplication *ua,
                               uint8_t index) {
    if (index >= info->num_ua) {
        return Si468x_failure(-6, 31);
    }
    const uint8_t *area = info->ua_area;
    const uint16_t length = info->ua_length;
    uint16_t p = 0;
    for (uint8_t n = 0; n < index; ++n) {
        if (p + UA_ENTRY_HEADER_LENGTH > length) {
            return Si468x_failure(-6, 131);
        }
        const uint8_t data_length = area[p + UA_ENTRY_DATA_LENGTH];
        if (p + UA_ENTRY_HEADER_LENGTH + data_length > length) {
            return Si468x_failure(-6, area[p] * 100 + 1031);
        }
        // Entries occupy an even number of bytes: an even data length is
        // followed by a zero pad byte.
        if ((data_length & 1) != 0) {
            p = static_cast<uint16_t>(p + UA_ENTRY_HEADER_LENGTH + data_length);
        } else {
            p = static_cast<uint16_t>(p + UA_ENTRY_HEADER_LENGTH + data_length + 1);
            if (area[p - 1] != 0) {
                return Si468x_failure(-6, 231);
            }
        }
    }

    if (p + UA_ENTRY_HEADER_LENGTH > length) {
        return Si468x_failure(-6, 131);
    }
    const uint8_t data_length = area[p + UA_ENTRY_DATA_LENGTH];
    if (p + UA_ENTRY_HEADER_LENGTH + data_length > length) {
        return Si468x_failure(-6, area[p] * 100 + 1131);
    }
    ua->ua_type = Si468x_get_u16(area + p);
    ua->ua_data_length = data_length;
    const uint8_t *data = area + p + UA_ENTRY_HEADER_LENGTH;
    if ((data_length & 1) == 0 && data[data_length] != 0) {
        return Si468x_failure(-6, 331);
    }
    Si468x_byte_array_copy(ua->ua_data, data, data_length);
    return 0;
}
