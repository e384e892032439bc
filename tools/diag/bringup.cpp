// SPDX-License-Identifier: GPL-3.0-or-later
// The board session: root check, link set-up, the running-chip shortcut or the
// full bring-up (the radio's sequence, DAB_bringup, with three attempts and
// the program's own lines), and what is left of the chip when the run ends.
#include <cstdio>
#include <unistd.h>

#include "Diag.h"
#include "Firmware.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

namespace diag {

namespace {

constexpr int16_t STATUS_HOST_FAILURE = -6;

// Fewer than the radio's twenty: a diagnosis wants to see a flaky chip fail.
constexpr uint16_t bring_up_attempts = 3;

// A file that cannot be read stays unreadable however often the chip is reset.
bool retry_is_pointless(const FirmwareSource &source, int16_t status) {
    return source.kind == DAB_FIRMWARE_FILES && status == STATUS_HOST_FAILURE;
}

void print_patch_upload(const FirmwareSource &source) {
    if (source.kind == DAB_FIRMWARE_FILES) {
        std::printf("Uploading the patch from %s\n", source.patch_path.c_str());
        return;
    }
    std::printf("Uploading the embedded patch (%u bytes)\n",
                static_cast<unsigned>(FW_ROM00_PATCH016_SIZE));
}

void print_image_upload(const FirmwareSource &source) {
    switch (source.kind) {
    case DAB_FIRMWARE_FILES:
        std::printf("Uploading the firmware image from %s\n", source.image_path.c_str());
        return;
    case DAB_FIRMWARE_FLASH:
        std::printf("Loading the firmware image from flash address 0x%08lX\n",
                    static_cast<unsigned long>(source.flash_address));
        return;
    case DAB_FIRMWARE_EMBEDDED:
        break;
    }
    std::printf("Uploading the embedded DAB firmware image (%u bytes)\n",
                static_cast<unsigned>(FW_DAB_RADIO_6_0_6_SIZE));
}

// The diagnostics program's lines at the steps of the shared bring-up: every
// failure with the driver's status and location, and a retry unless a file
// cannot be used or the receiver properties fail.
struct ReportContext {
    const FirmwareSource *source;
};

DAB_BringupGo report_step(DAB_Bringup *bringup, DAB_BringupStep step) {
    const FirmwareSource &source = *static_cast<ReportContext *>(bringup->context)->source;
    const int16_t status = bringup->status;
    switch (step) {
    case DAB_BRINGUP_RESETTING:
        std::printf("Si468x resetting... (attempt %d of %d)\n", bringup->attempt + 1,
                    bringup->attempts);
        break;
    case DAB_BRINGUP_BUS_FAILED:
        fail_driver("bus", status);
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_NO_CTS:
        fail("bring-up: no clear-to-send after reset");
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_POWER_UP_FAILED:
        fail_driver("power-up", status);
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_POWERED_UP:
        std::printf("Si468x powered up.\n");
        break;
    case DAB_BRINGUP_UPLOADING_PATCH:
        print_patch_upload(source);
        break;
    case DAB_BRINGUP_PATCH_FAILED:
        fail_driver("patch upload", status);
        if (retry_is_pointless(source, status)) {
            fail("bring-up: stopped, the patch file cannot be used");
            return DAB_BRINGUP_STOP;
        }
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_UPLOADING_IMAGE:
        print_image_upload(source);
        break;
    case DAB_BRINGUP_IMAGE_FAILED:
        fail_driver("firmware upload", status);
        if (retry_is_pointless(source, status)) {
            fail("bring-up: stopped, the firmware image file cannot be used");
            return DAB_BRINGUP_STOP;
        }
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_BOOT_FAILED:
        fail_driver("boot", status);
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_ABANDONED:
        break;
    case DAB_BRINGUP_BOOTED:
        std::printf("Si468x booted.\n\nSet properties\n");
        break;
    case DAB_BRINGUP_PROPERTIES_FAILED:
        fail_dab("properties", status);
        return DAB_BRINGUP_STOP;
    }
    return DAB_BRINGUP_GO_ON;
}

// No clear-to-send after the first reset. A POWER_UP sent anyway lets the
// driver give its own verdict, with a status and location, on a chip that
// does not answer.
int report_missing_chip(int16_t status, const uint8_t *reply) {
    const std::string what = "bring-up: the Si468x chip could not be found";
    if (status < 0) {
        return fail_driver(what, status);
    }
    char status0[8];
    std::snprintf(status0, sizeof status0, "0x%02X", reply[STATUS0]);
    const int16_t power_up = Si468x_power_up();
    if (power_up != 0) {
        return fail_driver(
            what + " (no clear-to-send after reset, STATUS0 " + status0 + "); power-up", power_up);
    }
    return fail(what + " (no clear-to-send after reset, STATUS0 " + status0 + ")");
}

} // namespace

Session::~Session() {
    if (!opened_) {
        return;
    }
    if (power_down_) {
        Si468x_power_down();
        std::printf("Si468x powered down.\n");
        return;
    }
    // Only the link closes: the reset line keeps its level, so a running chip
    // keeps running for the radio to take over.
    Si468x_SPI_shutdown();
}

int Session::open() {
    if (opened_) {
        return exit_ok;
    }
    if (geteuid() != 0) {
        return fail("Must be called as root. Did you forget sudo?");
    }
    opened_ = true;
    const int16_t status = Si468x_bus_init();
    Si468x_BusHolder holder{};
    if (status < 0 && Si468x_bus_held(&holder) != 0) {
        // Not ours to power down either.
        opened_ = false;
        char message[96];
        Si468x_bus_held_text(&holder, message, sizeof message);
        std::printf("%s\n", message);
        return exit_chip_held;
    }
    if (status < 0) {
        return fail_driver("link (check that SPI is enabled and that /dev/spidev0.0 exists)",
                           status);
    }
    return exit_ok;
}

int Session::start() {
    if (const int result = open(); result != exit_ok) {
        return result;
    }
    uint8_t reply[RD_REPLY_LENGTH] = {};
    if (DAB_chip_running(reply)) {
        std::printf("Si468x already running (STATUS3 0x%02X): taken over without reset.\n",
                    static_cast<unsigned>(PUP_STATE_APPLICATION));
        return exit_ok;
    }
    return bring_up(FirmwareSource::embedded());
}

int Session::start_from(const FirmwareSource &source) {
    if (const int result = open(); result != exit_ok) {
        return result;
    }
    return bring_up(source);
}

int Session::bring_up(const FirmwareSource &source) {
    uint8_t reply[RD_REPLY_LENGTH] = {};
    ReportContext context{&source};
    DAB_Bringup bringup{};
    bringup.attempts = bring_up_attempts;
    bringup.firmware = source.kind;
    bringup.patch_path = source.patch_path.c_str();
    bringup.image_path = source.image_path.c_str();
    bringup.flash_address = source.flash_address;
    bringup.status_reply = reply;
    bringup.report = report_step;
    bringup.context = &context;

    switch (DAB_bringup(&bringup)) {
    case DAB_BRINGUP_UP:
        return exit_ok;
    case DAB_BRINGUP_NO_CHIP:
        return report_missing_chip(bringup.status, reply);
    case DAB_BRINGUP_STOPPED:
        return exit_failed;
    case DAB_BRINGUP_GAVE_UP:
        break;
    }
    return fail("bring-up: no attempt of " + std::to_string(bring_up_attempts) + " succeeded");
}

} // namespace diag
