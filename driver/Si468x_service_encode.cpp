// SPDX-License-Identifier: GPL-3.0-or-later
// Services and components packed back into the raw service-list layout that
// the decoders read: the inverse of Si468x_get_digital_service and
// Si468x_get_digital_service_component, for records kept outside the chip.
//
// Fields are shifted into place and OR-ed in as they stand, without a mask:
// a value wider than its bits runs into the neighbouring field, as a
// station list holding such a value has always been stored. Values within
// their widths decode back unchanged.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

uint8_t Si468x_low_byte(uint32_t value) {
    return static_cast<uint8_t>(value & 0xFF);
}

} // namespace

int16_t Si468x_encode_digital_service(const Si468x_Service *service, Si468x_ServiceList *list) {
    if (service->num_components > SI468X_MAX_COMPONENTS) {
        return Si468x_failure(-6, 36);
    }
    const uint16_t component_bytes =
        static_cast<uint16_t>(COMPONENT_LENGTH * service->num_components);
    const uint32_t size = SERVICE_HEADER_LENGTH + component_bytes;
    if (list->data_length + size > SI468X_SERVICE_DATA_SIZE) {
        return Si468x_failure(-4, 136);
    }
    if (list->num_services == UINT8_MAX) {
        return Si468x_failure(-4, 236);
    }

    // The service id carries the reference, country id and ECC that the
    // decoder splits out of it; byte 7 is unused and keeps what it held.
    uint8_t *record = list->service_data + list->data_length;
    Si468x_put_u32(record + SERVICE_ID, service->service_id);
    record[SERVICE_INFO1] = Si468x_low_byte(service->pd_flag | service->pty << SERVICE_PTY_SHIFT |
                                            service->linking_info << SERVICE_LINKING_SHIFT);
    record[SERVICE_INFO2] =
        Si468x_low_byte(service->num_components | service->ca_id << SERVICE_CA_ID_SHIFT |
                        service->local << SERVICE_LOCAL_SHIFT);
    record[SERVICE_INFO3] = service->si_charset;
    Si468x_byte_array_copy(record + SERVICE_LABEL,
                           reinterpret_cast<const uint8_t *>(service->label), SERVICE_LABEL_LENGTH);
    Si468x_byte_array_copy(record + SERVICE_HEADER_LENGTH, service->component_data,
                           component_bytes);

    list->data_length = static_cast<uint16_t>(list->data_length + size);
    ++list->num_services;
    return 0;
}

int16_t Si468x_encode_digital_service_component(const Si468x_Component *component, uint8_t index,
                                                Si468x_Service *service) {
    if (index >= SI468X_MAX_COMPONENTS) {
        return Si468x_failure(-6, 37);
    }
    // TMID and the sub-channel, FIDC or service component id are all bits of
    // the component id; only the id is written.
    uint8_t *c = service->component_data + COMPONENT_LENGTH * index;
    Si468x_put_u16(c + COMPONENT_ID, static_cast<uint16_t>(component->comp_id & 0xFFFF));
    c[COMPONENT_FLAGS] = Si468x_low_byte(component->ca_flag | component->ps << COMPONENT_PS_SHIFT |
                                         component->ascty_dscty << COMPONENT_ASCTY_DSCTY_SHIFT);
    c[COMPONENT_MUA] = component->mua_info_valid;
    return 0;
}
