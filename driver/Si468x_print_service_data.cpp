// SPDX-License-Identifier: GPL-3.0-or-later
// A data-service packet on standard output, for diagnosis.
#include <cstdio>

#include "Si468x.h"

void Si468x_print_digital_service_data(const Si468x_ServiceData *data) {
    std::printf("Digital Service data package received  \n");
    std::printf("%-44s%u\n", "Overflow occured:", data->overflow_int);
    std::printf("%-44s%u\n", "Data ready for transfer:", data->package_int);
    std::printf("%-44s%u\n", "In buffer remaining data:", data->buffer_count);
    std::printf("%-44s%u\n", "SRV state:", data->srv_state);
    std::printf("%-44s%u\n", "Payload source:", data->data_src);
    std::printf("%-44s%u\n", "DSCTy:", data->dscty);
    std::printf("%-44s%lu\n", "Service ID:", static_cast<unsigned long>(data->service_id));
    std::printf("%-44s%lu\n", "Component ID:", static_cast<unsigned long>(data->comp_id));
    std::printf("%-44s%u\n", "Byte count:", data->byte_count);
    std::printf("%-44s%u\n", "Segment number:", data->segment_number);
    std::printf("%-44s%u\n", "Total number of segments of data object:", data->number_segments);
    std::printf("%-44s", "Data:");
    // A record left by a refused packet claims more than the payload holds;
    // only the payload is shown.
    const uint16_t count =
        data->byte_count < SI468X_PAYLOAD_SIZE ? data->byte_count : SI468X_PAYLOAD_SIZE;
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t byte = data->payload[i];
        if (byte >= 0x20 && byte <= 0x7E) {
            std::putchar(byte);
        } else {
            std::printf(" %02x ", byte);
        }
    }
    std::printf("\n");
}
