// SPDX-License-Identifier: GPL-3.0-or-later
// Subcommand log: starts one service component and appends its component
// record and a number of its data packets to a log file.
#include <cstdio>

#include "Diag.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

namespace diag {

namespace {

constexpr uint32_t default_time_limit_s = 60;
constexpr uint32_t max_time_limit_s = 24 * 60 * 60;

bool is_text_packet(const Si468x_ServiceData &data) {
    return data.byte_count >= TEXT_MESSAGE_HEADER && Si468x_is_text_message(data.payload);
}

void print_packet(uint32_t number, const Si468x_ServiceData &data) {
    std::printf("Packet %lu: %u bytes, segment %u of %u", static_cast<unsigned long>(number),
                static_cast<unsigned>(data.byte_count), static_cast<unsigned>(data.segment_number),
                static_cast<unsigned>(data.number_segments));
    if (is_text_packet(data)) {
        std::printf(", text \"%s\"", data.text);
    }
    std::printf("\n");
}

} // namespace

int cmd_log(Session &session, Arguments &args) {
    std::optional<std::string> limit_word;
    if (!args.take_option("time-limit", limit_word)) {
        return exit_usage;
    }
    uint8_t index = 0;
    uint32_t service_id = 0;
    uint32_t component_id = 0;
    uint32_t packets = 0;
    uint32_t time_limit_s = default_time_limit_s;
    if (!args.expect_positional(5, "<index> <sid> <cid> <packets> <file>") ||
        !args.index(args[0], index) ||
        !args.number(args[1], "service id", UINT32_MAX, service_id) ||
        !args.number(args[2], "component id", UINT32_MAX, component_id) ||
        !args.number(args[3], "packet count", UINT32_MAX, packets) ||
        (limit_word && !args.number(*limit_word, "time limit", max_time_limit_s, time_limit_s))) {
        return exit_usage;
    }
    const std::string &path = args[4];
    if (const int result = check_regular_file("log", path); result != exit_ok) {
        return result;
    }

    FreqList freqs;
    if (const int result = start_and_check_index(session, "log", index, freqs); result != exit_ok) {
        return result;
    }
    Si468x_ServiceList list{};
    if (const int result = tune_and_read_services("log", freqs, index, list); result != exit_ok) {
        return result;
    }
    // The service type of the start command is the service's data flag,
    // which only the service list knows.
    Si468x_Service service{};
    if (!find_component(list, service_id, component_id, service)) {
        return fail("log: service " + std::to_string(service_id) + " component " +
                    std::to_string(component_id) + " is not in the service list at index " +
                    std::to_string(index));
    }

    Si468x_ComponentInfo info{};
    int16_t status = Si468x_DAB_get_component_info(service_id, component_id, &info);
    if (status != 0) {
        return fail_driver("log: component info", status);
    }
    status = DAB_save_component_data(&info, path.c_str());
    if (status < 0) {
        return fail_dab("log: writing the component record to " + path, status);
    }
    status = Si468x_start_digital_service(service.pd_flag, service_id, component_id);
    if (status != 0) {
        return fail_driver("log: starting the service", status);
    }
    std::printf("Logging service %lu component %lu (%s) to %s\n",
                static_cast<unsigned long>(service_id), static_cast<unsigned long>(component_id),
                decoded_label(service.label, service.si_charset).c_str(), path.c_str());

    // Time is counted in poll waits, not read from a clock: a board whose
    // clock is simulated must not turn the limit into real seconds.
    const uint64_t polls = uint64_t{time_limit_s} * 1000 / DAB_DATA_POLL_MS;
    Si468x_ServiceData data{};
    uint32_t logged = 0;
    uint32_t failed_fetches = 0;
    int16_t last_failure = 0;
    int32_t last_location = 0;
    for (uint64_t poll = 0; poll < polls && logged < packets;) {
        uint8_t ready = 0;
        status = Si468x_get_digital_service_data(&data, &ready);
        if (status != 0) {
            ++failed_fetches;
            last_failure = status;
            last_location = Si468x_ErrorCode;
        } else if (ready != 0) {
            status = DAB_save_logged_data(&data, path.c_str());
            if (status < 0) {
                return fail_dab("log: writing packet " + std::to_string(logged + 1) + " to " + path,
                                status);
            }
            ++logged;
            print_packet(logged, data);
            // Packets still waiting in the chip are fetched at once; the
            // wait is for an empty buffer.
            if (data.buffer_count > 0) {
                continue;
            }
        }
        bcm2835_delay(DAB_DATA_POLL_MS);
        ++poll;
    }
    std::printf("Logged the component record and %lu packet%s to %s\n",
                static_cast<unsigned long>(logged), logged == 1 ? "" : "s", path.c_str());
    if (failed_fetches > 0) {
        fail("log: " + std::to_string(failed_fetches) +
             " packet fetches failed, the last with status " + std::to_string(last_failure) +
             " at location " + std::to_string(last_location));
    }
    if (logged < packets) {
        return fail("log: only " + std::to_string(logged) + " of " + std::to_string(packets) +
                    " packets within " + std::to_string(time_limit_s) + " s");
    }
    return exit_ok;
}

} // namespace diag
