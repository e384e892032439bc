// SPDX-License-Identifier: GPL-3.0-or-later
// Labels as a person reads them: decoded from the character set they were
// sent in and written in the terminal's locale, beside the driver's raw
// printouts, which keep the bytes as broadcast.
#include <cstdio>

#include "DABUtils.h"
#include "Diag.h"

namespace diag {

std::string decoded_label(const char label[DAB_LABEL_BYTES], uint8_t charset) {
    char text[DAB_LABEL_TEXT_SIZE];
    DAB_label_for_terminal(label, charset, false, text);
    return text;
}

void print_decoded_labels(const Si468x_ServiceList &list) {
    std::printf("Labels (decoded) ---------------------- \n");
    for (uint8_t j = 0; j < list.num_services; ++j) {
        Si468x_Service service{};
        if (Si468x_get_digital_service(&list, j, &service) != 0) {
            continue;
        }
        std::printf("%-44s%s\n", ("Service " + std::to_string(service.service_id) + ":").c_str(),
                    decoded_label(service.label, service.si_charset).c_str());
    }
}

} // namespace diag
