// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the user-application decoder on any component information.
// Input: the number of entries, the fields' length, then the 256 bytes of the
// area, the 16 label bytes and the remaining header fields.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "DABUtils.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    Si468x_ComponentInfo info{};
    info.num_ua = data[0];
    info.ua_length = data[1];
    std::size_t at = 2;
    const auto take = [&](void *into, std::size_t length) {
        const std::size_t n = std::min(length, size - at);
        std::memcpy(into, data + at, n);
        at += n;
    };
    take(info.ua_area, sizeof info.ua_area);
    take(info.label, sizeof info.label);
    take(&info.global_id, 1);
    take(&info.language, 1);
    take(&info.charset_id, 1);
    take(&info.char_abbrev, 2);

    for (unsigned i = 0; i <= info.num_ua; ++i) {
        Si468x_UserApplication entry{};
        const int16_t status = Si468x_DAB_get_ua_data(&info, &entry, static_cast<uint8_t>(i));
        if (i == info.num_ua) {
            fuzz::require(status == -6, "index past the entries is refused");
            break;
        }
        fuzz::require(status == 0 || status == -6, "an entry decodes or is refused");
        if (status == 0) {
            fuzz::require(entry.ua_data_length <= info.ua_length, "data within the fields");
        }
    }
    Si468x_print_component_info(&info);

    const std::string log = fuzz::scratch_directory() + "/component.log";
    const int16_t logged = DAB_save_component_data(&info, log.c_str());
    fuzz::require(logged == 0 || logged == -6, "a record is logged or stops at a bad entry");
    unlink(log.c_str());
    return 0;
}
