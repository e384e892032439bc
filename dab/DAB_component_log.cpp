// SPDX-License-Identifier: GPL-3.0-or-later
// Appending one component's information and its user-application entries to
// a log file as readable text.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "DABUtils.h"

int16_t DAB_save_component_data(const Si468x_ComponentInfo *info, const char *path) {
    FILE *file = DAB_open_log(path);
    if (file == nullptr) {
        return DABUtils_failure(-6, 14);
    }
    std::fputs("\n///////////////////////// \nStart logging component\n"
               "///////////////////////// \n",
               file);
    std::fprintf(file, "Global ID: %u\n", info->global_id);
    std::fprintf(file, "Language: %u\n", info->language);
    std::fprintf(file, "Charset ID: %u\n", info->charset_id);
    std::fprintf(file, "Label: %.*s\n", static_cast<int>(SI468X_LABEL_LENGTH), info->label);
    std::fprintf(file, "Char abbrev: %u\n", info->char_abbrev);
    std::fprintf(file, "Number user application types: %u\n", info->num_ua);
    std::fprintf(file, "Length of UATYPE,... fields: %u\n", info->ua_length);

    Si468x_UserApplication entry{};
    for (unsigned i = 0; i < info->num_ua; ++i) {
        std::fprintf(file, "User application no: %u\n", i);
        const int16_t status = Si468x_DAB_get_ua_data(info, &entry, static_cast<uint8_t>(i));
        if (status != 0) {
            // The lines written so far stay in the file.
            std::fclose(file);
            return DABUtils_failure(DABUtils_min(-6, status), 114);
        }
        std::fprintf(file, "User application type: %u\n", entry.ua_type);
        std::fprintf(file, "User application length: %u\n", entry.ua_data_length);
        std::fputs("User application data:\n", file);
        for (unsigned k = 0; k < entry.ua_data_length; ++k) {
            std::fprintf(file, "%02x ", entry.ua_data[k]);
        }
        std::fputc('\n', file);
    }
    std::fputc('\n', file);
    if (!DAB_close_log(file)) {
        return DABUtils_failure(-6, 214);
    }
    return 0;
}
