// SPDX-License-Identifier: GPL-3.0-or-later
// Component information and byte sequences on standard output.
#include <cstdio>

#include "Si468x.h"

void Si468x_hex_print(const uint8_t *bytes, uint16_t length, const char *prefix) {
    std::printf("%s", prefix);
    for (uint16_t i = 0; i < length; ++i) {
        std::printf("%02x ", bytes[i]);
    }
    std::printf("\n");
}

void Si468x_print_component_info(const Si468x_ComponentInfo *info) {
    std::printf("DAB component info ------------------- \n");
    std::printf("%-44s%u\n", "Global ID:", info->global_id);
    std::printf("%-44s%u\n", "Language:", info->language);
    std::printf("%-44s%u\n", "charsetID:", info->charset_id);
    // All sixteen label bytes, zero bytes included.
    std::printf("%-44s", "Label:");
    for (char character : info->label) {
        std::putchar(character);
    }
    std::printf("\n%-44s%u\n", "Char abrev:", info->char_abbrev);
    std::printf("%-44s%u\n", "Number user application data:", info->num_ua);
    std::printf("%-44s%u\n", "Length user application data:", info->ua_length);
    for (uint16_t i = 0; i < info->num_ua; ++i) {
        Si468x_UserApplication ua{};
        // A malformed entry ends the printout there, without a final line end.
        if (Si468x_DAB_get_ua_data(info, &ua, static_cast<uint8_t>(i)) != 0) {
            return;
        }
        std::printf("%-44s%u\n", "User application no:", i);
        std::printf("%-44s%u\n", "User application type:", ua.ua_type);
        std::printf("%-44s%u\n", "User application length:", ua.ua_data_length);
        Si468x_hex_print(ua.ua_data, ua.ua_data_length,
                         "  User application data:                    ");
    }
    std::printf("\n");
}
