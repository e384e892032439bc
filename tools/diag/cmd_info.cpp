// SPDX-License-Identifier: GPL-3.0-or-later
// Subcommands about the chip itself: status, info, upload, flash-load.
#include <cstdio>

#include "Diag.h"
#include "Si468x_commands.h"

namespace diag {

namespace {

const char *pup_state_name(uint8_t state) {
    switch (state) {
    case PUP_RESET:
        return "reset";
    case PUP_BOOTLOADER:
        return "boot loader running";
    case PUP_APPLICATION:
        return "application running";
    default:
        return "reserved";
    }
}

int read_and_print_chip_info(const std::string &what) {
    Si468x_ChipInfo info{};
    const char *failed_read = "";
    const int16_t status = DAB_read_chip_info(&info, true, true, &failed_read);
    if (status != 0) {
        return fail_driver(what + ": " + failed_read, status);
    }
    return exit_ok;
}

} // namespace

int cmd_status(Session &session, Arguments &args) {
    if (!args.expect_positional(0, "no arguments")) {
        return exit_usage;
    }
    if (const int result = session.open(); result != exit_ok) {
        return result;
    }
    // A bare status read: no reset and no command, so a running chip is
    // seen exactly as the radio would find it.
    uint8_t reply[RD_REPLY_LENGTH] = {};
    const int16_t status = Si468x_rd_reply(reply);
    const uint8_t pup_state = static_cast<uint8_t>(reply[STATUS3] >> PUP_STATE_SHIFT);
    std::printf("Status ------------------------------- \n");
    std::printf("STATUS0 to STATUS3:                         0x%02X 0x%02X 0x%02X 0x%02X\n",
                reply[STATUS0], reply[STATUS1], reply[STATUS2], reply[STATUS3]);
    std::printf("Clear to send:                              %u\n",
                (reply[STATUS0] & CTS) ? 1U : 0U);
    std::printf("Command error:                              %u\n",
                (reply[STATUS0] & ERR_CMD) ? 1U : 0U);
    std::printf("Tune complete:                              %u\n",
                (reply[STATUS0] & STCINT) ? 1U : 0U);
    std::printf("Power-up state:                             %u (%s)\n",
                static_cast<unsigned>(pup_state), pup_state_name(pup_state));
    std::printf("Error bits:                                 0x%X\n",
                static_cast<unsigned>(reply[STATUS3] & STATUS3_ERRORS));
    if (status < 0) {
        return fail_driver("status", status);
    }
    return exit_ok;
}

int cmd_info(Session &session, Arguments &args) {
    if (!args.expect_positional(0, "no arguments")) {
        return exit_usage;
    }
    if (const int result = session.start(); result != exit_ok) {
        return result;
    }
    return read_and_print_chip_info("info");
}

int cmd_upload(Session &session, Arguments &args) {
    if (!args.expect_positional(2, "<patch file> <image file>")) {
        return exit_usage;
    }
    FirmwareSource source;
    source.kind = DAB_FIRMWARE_FILES;
    source.patch_path = args[0];
    source.image_path = args[1];
    for (const std::string *path : {&source.patch_path, &source.image_path}) {
        if (const int result = check_regular_file("upload", *path); result != exit_ok) {
            return result;
        }
    }
    if (const int result = session.start_from(source); result != exit_ok) {
        return result;
    }
    return read_and_print_chip_info("upload");
}

int cmd_flash_load(Session &session, Arguments &args) {
    if (!args.expect_positional(1, "<address>")) {
        return exit_usage;
    }
    FirmwareSource source;
    source.kind = DAB_FIRMWARE_FLASH;
    if (!args.number(args[0], "address", UINT32_MAX, source.flash_address)) {
        return exit_usage;
    }
    if (const int result = session.start_from(source); result != exit_ok) {
        return result;
    }
    return read_and_print_chip_info("flash-load");
}

} // namespace diag
