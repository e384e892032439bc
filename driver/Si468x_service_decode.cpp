// SPDX-License-Identifier: GPL-3.0-or-later
// Services and components taken out of a raw service list on demand.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

uint8_t Si468x_record_components(const uint8_t *record) {
    return record[SERVICE_INFO2] & NUM_COMP_MASK;
}

} // namespace

int16_t Si468x_get_digital_service(const Si468x_ServiceList *list, uint8_t index,
                                   Si468x_Service *service) {
    if (index >= list->num_services) {
        return Si468x_failure(-6, 27);
    }
    // A list rebuilt from a file may claim more bytes than the record holds;
    // nothing beyond the record is ever read.
    const uint32_t length =
        list->data_length < SI468X_SERVICE_DATA_SIZE ? list->data_length : SI468X_SERVICE_DATA_SIZE;
    const uint8_t *data = list->service_data;

    // Records have no index: walk them from the start.
    uint32_t offset = 0;
    for (uint8_t i = 0; i < index; ++i) {
        if (offset + SERVICE_HEADER_LENGTH > length) {
            return Si468x_failure(-4, 127);
        }
        const uint32_t components = Si468x_record_components(data + offset);
        if (offset + SERVICE_HEADER_LENGTH + COMPONENT_LENGTH * components > length) {
            return Si468x_failure(-4, 227);
        }
        offset += SERVICE_HEADER_LENGTH + COMPONENT_LENGTH * components;
    }
    if (offset + SERVICE_HEADER_LENGTH > length) {
        return Si468x_failure(-4, 327);
    }

    const uint8_t *record = data + offset;
    const uint8_t info1 = record[SERVICE_INFO1];
    const uint8_t info2 = record[SERVICE_INFO2];
    service->service_id = Si468x_get_u32(record + SERVICE_ID);
    service->pd_flag = info1 & SERVICE_PD_FLAG;
    if (service->pd_flag == 0) {
        // Audio: 12-bit reference under a 4-bit country id.
        service->service_ref = record[0] + (record[1] & 0x0Fu) * 256u;
        service->country_id = record[1] >> 4;
    } else {
        // Data: 20-bit reference, the country id above it, the ECC on top.
        service->service_ref = record[0] + record[1] * 256u + (record[2] & 0x0Fu) * 65536u;
        service->country_id = record[2] >> 4;
        service->ecc = record[3];
    }
    service->pty = (info1 >> SERVICE_PTY_SHIFT) & SERVICE_PTY_MASK;
    service->linking_info = (info1 >> SERVICE_LINKING_SHIFT) & 0x01;
    service->num_components = info2 & NUM_COMP_MASK;
    service->ca_id = (info2 >> SERVICE_CA_ID_SHIFT) & SERVICE_CA_ID_MASK;
    service->local = info2 >> SERVICE_LOCAL_SHIFT;
    service->si_charset = record[SERVICE_INFO3] & SERVICE_SI_CHARSET_MASK;
    Si468x_byte_array_copy(reinterpret_cast<uint8_t *>(service->label), record + SERVICE_LABEL,
                           SERVICE_LABEL_LENGTH);

    offset += SERVICE_HEADER_LENGTH;
    const uint16_t component_bytes =
        static_cast<uint16_t>(COMPONENT_LENGTH * service->num_components);
    if (offset + component_bytes > length) {
        return Si468x_failure(-4, 427);
    }
    Si468x_byte_array_copy(service->component_data, data + offset, component_bytes);
    return 0;
}

int16_t Si468x_get_digital_service_component(const Si468x_Service *service, uint8_t index,
                                             Si468x_Component *component) {
    // A caller's record may hold any count; component_data has room for 15.
    if (index >= service->num_components || index >= SI468X_MAX_COMPONENTS) {
        return Si468x_failure(-6, 28);
    }
    const uint8_t *c = service->component_data + COMPONENT_LENGTH * index;
    component->comp_id = c[0] + c[1] * 256u;
    component->tmid = c[1] >> 6;
    switch (component->tmid) {
    case 0: // stream audio
    case 1: // stream data
        component->subch_id = c[0] & 0x3F;
        break;
    case 2: // FIDC
        component->fidc_id = c[0] & 0x3F;
        break;
    default: // packet data
        component->sc_id = static_cast<uint16_t>(c[0] + (c[1] & 0x0F) * 256);
        component->dg_flag = (c[1] >> 4) & 0x01;
        break;
    }
    component->ca_flag = c[COMPONENT_FLAGS] & COMPONENT_CA_FLAG;
    component->ps = (c[COMPONENT_FLAGS] >> COMPONENT_PS_SHIFT) & 0x01;
    component->ascty_dscty = c[COMPONENT_FLAGS] >> COMPONENT_ASCTY_DSCTY_SHIFT;
    component->mua_info_valid = c[COMPONENT_MUA] & COMPONENT_MUA_INFO_VALID;
    return 0;
}
