// SPDX-License-Identifier: GPL-3.0-or-later
// GET_PROPERTY and SET_PROPERTY, the write confirmed by reading it back.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

void Si468x_build_get_property(uint8_t *command, uint16_t id) {
    command[0] = GET_PROPERTY;
    command[1] = GET_PROPERTY_COUNT;
    Si468x_put_u16(command + PROPERTY_ID, id);
}

} // namespace

int16_t Si468x_get_property(Si468x_Property *property) {
    uint8_t command[GET_PROPERTY_LENGTH];
    Si468x_build_get_property(command, property->id);
    uint8_t reply[GET_PROPERTY_REPLY_LENGTH];
    const int16_t status =
        Si468x_send_cmd(command, reply, GET_PROPERTY_LENGTH, GET_PROPERTY_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 17);
    }
    property->value = Si468x_get_u16(reply + PROPERTY_VALUE);
    return 0;
}

int16_t Si468x_set_property(const Si468x_Property *property) {
    uint8_t set_command[SET_PROPERTY_LENGTH] = {SET_PROPERTY, 0x00};
    Si468x_put_u16(set_command + PROPERTY_ID, property->id);
    Si468x_put_u16(set_command + SET_PROPERTY_VALUE, property->value);
    // The read-back has its own buffer: the first transfer overwrites the first.
    uint8_t get_command[GET_PROPERTY_LENGTH];
    Si468x_build_get_property(get_command, property->id);

    int16_t status = Si468x_send_cmd(set_command, nullptr, SET_PROPERTY_LENGTH, 0);
    if (status != 0) {
        return Si468x_failure(status, 18);
    }
    uint8_t reply[GET_PROPERTY_REPLY_LENGTH];
    status = Si468x_send_cmd(get_command, reply, GET_PROPERTY_LENGTH, GET_PROPERTY_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 118);
    }
    // The read-back is the only confirmation the chip gives.
    if (Si468x_get_u16(reply + PROPERTY_VALUE) != property->value) {
        return Si468x_failure(-6, 218);
    }
    return 0;
}
