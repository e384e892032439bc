// SPDX-License-Identifier: GPL-3.0-or-later
// Subcommand freqs: the chip's frequency list, optionally replaced by the
// 41-entry Band III list first.
#include <cstdio>

#include "Diag.h"

namespace diag {

int cmd_freqs(Session &session, Arguments &args) {
    const bool write_band3 = args.take_flag("write-band3");
    if (!args.expect_positional(0, "[--write-band3]")) {
        return exit_usage;
    }
    if (const int result = session.start(); result != exit_ok) {
        return result;
    }
    if (write_band3) {
        const int16_t status = Si468x_DAB_set_freq_list();
        if (status != 0) {
            return fail_driver("freqs: writing the Band III list", status);
        }
        std::printf("Band III list written (%u entries).\n",
                    static_cast<unsigned>(SI468X_BAND3_FREQ_COUNT));
    }
    FreqList list;
    if (const int result = read_freq_list("freqs", list); result != exit_ok) {
        return result;
    }
    std::printf("Frequency list: %u entries\n", static_cast<unsigned>(list.count));
    std::printf("Index  Frequency\n");
    for (unsigned i = 0; i < list.count; ++i) {
        std::printf("%5u  %lu kHz\n", i, static_cast<unsigned long>(list.khz[i]));
    }
    return exit_ok;
}

} // namespace diag
