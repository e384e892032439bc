// SPDX-License-Identifier: GPL-3.0-or-later
// START_DIGITAL_SERVICE and STOP_DIGITAL_SERVICE: decoding of one service
// component of the tuned ensemble.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

int16_t Si468x_digital_service_command(uint8_t opcode, uint8_t service_type, uint32_t service_id,
                                       uint32_t component_id) {
    uint8_t command[DIGITAL_SERVICE_LENGTH] = {opcode};
    command[DIGITAL_SERVICE_TYPE] = service_type;
    Si468x_put_u32(command + DIGITAL_SERVICE_SERVICE_ID, service_id);
    Si468x_put_u32(command + DIGITAL_SERVICE_COMPONENT_ID, component_id);
    return Si468x_send_cmd(command, nullptr, DIGITAL_SERVICE_LENGTH, 0);
}

} // namespace

int16_t Si468x_start_digital_service(uint8_t service_type, uint32_t service_id,
                                     uint32_t component_id) {
    const int16_t status = Si468x_digital_service_command(START_DIGITAL_SERVICE, service_type,
                                                          service_id, component_id);
    if (status < 0) {
        return Si468x_failure(status, 32);
    }
    return 0;
}

int16_t Si468x_stop_digital_service(uint8_t service_type, uint32_t service_id,
                                    uint32_t component_id) {
    const int16_t status = Si468x_digital_service_command(STOP_DIGITAL_SERVICE, service_type,
                                                          service_id, component_id);
    if (status < 0) {
        return Si468x_failure(status, 33);
    }
    return 0;
}
