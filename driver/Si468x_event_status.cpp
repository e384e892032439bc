// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_GET_EVENT_STATUS: the ensemble's events, among them a new service list.
#include <cstdio>

#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_DAB_get_event_status(Si468x_EventStatus *status) {
    // Acknowledged on read, so a new-list event is seen once.
    uint8_t command[DAB_GET_EVENT_STATUS_LENGTH] = {DAB_GET_EVENT_STATUS, EVENT_ACK};
    uint8_t reply[DAB_GET_EVENT_STATUS_REPLY_LENGTH];
    const int16_t result = Si468x_send_cmd(command, reply, DAB_GET_EVENT_STATUS_LENGTH,
                                           DAB_GET_EVENT_STATUS_REPLY_LENGTH);
    if (result != 0) {
        return Si468x_failure(result, 24);
    }
    const uint8_t interrupts = reply[EVENT_INTERRUPTS];
    const uint8_t available = reply[EVENT_AVAILABLE];
    status->reconfig_event = Si468x_flag(interrupts, RECFGINT);
    status->reconfig_warning = Si468x_flag(interrupts, RECFGWRNINT);
    status->new_announcement_info = Si468x_flag(interrupts, ANNOINT);
    status->new_freq_info = Si468x_flag(interrupts, FREQINFOINT);
    status->new_service_list = Si468x_flag(interrupts, SVRLISTINT);
    status->freq_info_available = Si468x_flag(available, FREQ_INFO);
    status->service_list_available = Si468x_flag(available, SVRLIST);
    status->service_list_version = Si468x_get_u16(reply + EVENT_SVRLIST_VERSION);
    return 0;
}

void Si468x_print_event_status(const Si468x_EventStatus *status) {
    std::printf("Event status ------------------------- \n");
    std::printf("%-44s%u\n", "Ensemble reconfig event:", status->reconfig_event);
    std::printf("%-44s%u\n", "Ensemble reconfig warning:", status->reconfig_warning);
    std::printf("%-44s%u\n", "New announcement info available", status->new_announcement_info);
    std::printf("%-44s%u\n", "New freq. info available:", status->new_freq_info);
    std::printf("%-44s%u\n", "New service list available:", status->new_service_list);
    std::printf("%-44s%u\n", "Freq. Info available:", status->freq_info_available);
    std::printf("%-44s%u\n", "Service list available:", status->service_list_available);
    std::printf("%-44s%u\n", "Service list version:", status->service_list_version);
}
