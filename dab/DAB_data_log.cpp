// SPDX-License-Identifier: GPL-3.0-or-later
// Appending one data-service packet to a log file as readable text.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "DABUtils.h"

int16_t DAB_save_logged_data(const Si468x_ServiceData *data, const char *path) {
    FILE *file = DAB_open_log(path);
    if (file == nullptr) {
        return DABUtils_failure(-6, 13);
    }
    std::fputs("\n------------------------- \nNew data package logged\n", file);
    std::fprintf(file, "DSRV over flow INT: %u\n", data->overflow_int);
    std::fprintf(file, "DSRV package INT: %u\n", data->package_int);
    std::fprintf(file, "Buffer count: %u\n", data->buffer_count);
    std::fprintf(file, "SRV state: %u\n", data->srv_state);
    std::fprintf(file, "Data src: %u\n", data->data_src);
    std::fprintf(file, "DSCty: %u\n", data->dscty);
    std::fprintf(file, "Service ID: %lu\n", static_cast<unsigned long>(data->service_id));
    std::fprintf(file, "Comp. ID: %lu\n", static_cast<unsigned long>(data->comp_id));
    std::fprintf(file, "Byte count: %u\n", data->byte_count);
    std::fprintf(file, "Segment number: %u\n", data->segment_number);
    std::fprintf(file, "Number segments: %u\n", data->number_segments);
    std::fputs("Payload:\n", file);
    // A record whose fetch failed at the length test claims more than the
    // payload holds: its count is logged as it stands, its bytes only as far
    // as the payload goes.
    const unsigned length =
        data->byte_count < SI468X_PAYLOAD_SIZE ? data->byte_count : SI468X_PAYLOAD_SIZE;
    for (unsigned i = 0; i < length; ++i) {
        std::fprintf(file, "%02x ", data->payload[i]);
    }
    std::fputc('\n', file);
    if (!DAB_close_log(file)) {
        return DABUtils_failure(-6, 113);
    }
    return 0;
}
