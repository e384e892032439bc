// SPDX-License-Identifier: GPL-3.0-or-later
// Subcommand search: components carrying a user-application type, in one
// ensemble or over the chip's frequency list.
#include <cstdio>

#include "Diag.h"

namespace diag {

namespace {

void print_matches(uint16_t ua_type, const FreqList &freqs, const uint8_t *indexes,
                   const uint32_t *service_ids, const uint32_t *component_ids, uint8_t count) {
    // The search never reports more than its arrays hold; a count beyond that
    // would read past them.
    if (count > DAB_MAX_MATCHES) {
        count = DAB_MAX_MATCHES;
    }
    std::printf("User-application type %u (0x%04X): %u match%s\n", static_cast<unsigned>(ua_type),
                static_cast<unsigned>(ua_type), static_cast<unsigned>(count),
                count == 1 ? "" : "es");
    for (uint8_t i = 0; i < count; ++i) {
        std::printf("Match %u: index %u (%lu kHz), service id %lu (0x%08lX), component id %lu\n",
                    static_cast<unsigned>(i + 1), static_cast<unsigned>(indexes[i]),
                    static_cast<unsigned long>(freqs.khz[indexes[i]]),
                    static_cast<unsigned long>(service_ids[i]),
                    static_cast<unsigned long>(service_ids[i]),
                    static_cast<unsigned long>(component_ids[i]));
    }
}

} // namespace

int cmd_search(Session &session, Arguments &args) {
    std::optional<std::string> index_word;
    std::optional<std::string> count_word;
    if (!args.take_option("index", index_word) || !args.take_option("count", count_word)) {
        return exit_usage;
    }
    if (!args.expect_positional(1, "<ua type> [--index N | --count N]")) {
        return exit_usage;
    }
    if (index_word && count_word) {
        return usage_error("search: --index and --count exclude each other");
    }
    uint32_t ua_type = 0;
    uint8_t index = 0;
    uint32_t count = 0;
    if (!args.number(args[0], "user-application type", UINT16_MAX, ua_type) ||
        (index_word && !args.index(*index_word, index)) ||
        (count_word && !args.number(*count_word, "count", UINT8_MAX, count))) {
        return exit_usage;
    }
    if (const int result = session.start(); result != exit_ok) {
        return result;
    }
    FreqList freqs;
    if (const int result = read_freq_list("search", freqs); result != exit_ok) {
        return result;
    }

    uint8_t indexes[DAB_MAX_MATCHES] = {};
    uint32_t service_ids[DAB_MAX_MATCHES] = {};
    uint32_t component_ids[DAB_MAX_MATCHES] = {};
    uint8_t matches = 0;
    const auto type = static_cast<uint16_t>(ua_type);
    if (index_word) {
        const uint8_t freq_index = index;
        if (const int result = check_index("search", freqs, freq_index); result != exit_ok) {
            return result;
        }
        Si468x_DigradStatus digrad{};
        const int16_t status = DAB_ensemble_has_application_type(
            &digrad, freq_index, type, service_ids, component_ids, &matches);
        if (status < 0) {
            return fail_dab("search", status);
        }
        for (uint8_t i = 0; i < matches; ++i) {
            indexes[i] = freq_index;
        }
    } else {
        if (count_word && count > freqs.count) {
            return fail("search: --count " + std::to_string(count) +
                        " exceeds the chip's frequency list (" + std::to_string(freqs.count) +
                        " entries)");
        }
        const auto frequencies = static_cast<uint8_t>(count_word ? count : freqs.count);
        const int16_t status = DAB_scan_application_type(indexes, service_ids, component_ids, type,
                                                         &matches, frequencies);
        if (status < 0) {
            return fail_dab("search", status);
        }
    }
    print_matches(type, freqs, indexes, service_ids, component_ids, matches);
    return exit_ok;
}

} // namespace diag
