// SPDX-License-Identifier: GPL-3.0-or-later
// Subcommands that tune one frequency index: tune, services, component.
#include <cstdio>

#include "Diag.h"

namespace diag {

int cmd_tune(Session &session, Arguments &args) {
    uint8_t index = 0;
    if (!args.expect_positional(1, "<index>") || !args.index(args[0], index)) {
        return exit_usage;
    }
    FreqList freqs;
    if (const int result = start_and_check_index(session, "tune", index, freqs);
        result != exit_ok) {
        return result;
    }
    Si468x_DigradStatus digrad{};
    bool acquired = false;
    if (const int result = tune_and_acquire("tune", index, digrad, acquired); result != exit_ok) {
        return result;
    }
    std::printf("Tuned index %u (%lu kHz): %s\n", static_cast<unsigned>(index),
                static_cast<unsigned long>(freqs.khz[index]),
                acquired ? "ensemble acquired" : "no ensemble acquired");
    Si468x_print_digrad_status(&digrad);
    Si468x_EventStatus events{};
    const int16_t status = Si468x_DAB_get_event_status(&events);
    if (status != 0) {
        return fail_driver("tune: event status", status);
    }
    Si468x_print_event_status(&events);
    if (!acquired) {
        return fail("tune: no ensemble acquired at index " + std::to_string(index));
    }
    return exit_ok;
}

int cmd_services(Session &session, Arguments &args) {
    uint8_t index = 0;
    if (!args.expect_positional(1, "<index>") || !args.index(args[0], index)) {
        return exit_usage;
    }
    FreqList freqs;
    if (const int result = start_and_check_index(session, "services", index, freqs);
        result != exit_ok) {
        return result;
    }
    Si468x_ServiceList list{};
    if (const int result = tune_and_read_services("services", freqs, index, list);
        result != exit_ok) {
        return result;
    }
    Si468x_print_digital_service_list(&list);
    std::printf("\n");
    print_decoded_labels(list);
    return exit_ok;
}

int cmd_component(Session &session, Arguments &args) {
    uint8_t index = 0;
    uint32_t service_id = 0;
    uint32_t component_id = 0;
    if (!args.expect_positional(3, "<index> <sid> <cid>") || !args.index(args[0], index) ||
        !args.number(args[1], "service id", UINT32_MAX, service_id) ||
        !args.number(args[2], "component id", UINT32_MAX, component_id)) {
        return exit_usage;
    }
    FreqList freqs;
    if (const int result = start_and_check_index(session, "component", index, freqs);
        result != exit_ok) {
        return result;
    }
    // The chip describes components of the ensemble's service list only, so
    // the list has to be there before the question.
    Si468x_ServiceList list{};
    if (const int result = tune_and_read_services("component", freqs, index, list);
        result != exit_ok) {
        return result;
    }
    Si468x_Service service{};
    if (!find_component(list, service_id, component_id, service)) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "component: service %lu component %lu is not in the service list; "
                     "asking the chip anyway\n",
                     static_cast<unsigned long>(service_id),
                     static_cast<unsigned long>(component_id));
    }
    Si468x_ComponentInfo info{};
    const int16_t status = Si468x_DAB_get_component_info(service_id, component_id, &info);
    if (status != 0) {
        return fail_driver("component", status);
    }
    Si468x_print_component_info(&info);
    std::printf("%-44s%s\n",
                "Label (decoded):", decoded_label(info.label, info.charset_id).c_str());
    return exit_ok;
}

} // namespace diag
