// SPDX-License-Identifier: GPL-3.0-or-later
// The board session: root check, link set-up, the running-chip shortcut or the
// full bring-up (reset, power-up, patch and DAB image, boot, receiver
// properties), and what is left of the chip when the run ends.
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
constexpr int bring_up_attempts = 3;
constexpr uint32_t wait_between_images_ms = 50;
constexpr uint32_t wait_before_boot_ms = 100;
constexpr uint32_t wait_after_failed_attempt_ms = 2000;

// A failed upload or boot leaves the chip mid-load; holding it in reset with
// the bus released for a while gives the next attempt a chip that starts
// from scratch, as the radio does.
void abandon_attempt() {
    Si468x_SPI_RSTB_low();
    Si468x_bus_disable();
    bcm2835_delay(wait_after_failed_attempt_ms);
}

int16_t upload_patch(const FirmwareSource &source) {
    if (source.kind == FirmwareSource::Kind::Files) {
        std::printf("Uploading the patch from %s\n", source.patch_path.c_str());
        return Si468x_load_firmware(source.patch_path.c_str());
    }
    std::printf("Uploading the embedded patch (%u bytes)\n",
                static_cast<unsigned>(FW_ROM00_PATCH016_SIZE));
    return Si468x_load_firmware_static(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
}

int16_t upload_image(const FirmwareSource &source) {
    switch (source.kind) {
    case FirmwareSource::Kind::Files:
        std::printf("Uploading the firmware image from %s\n", source.image_path.c_str());
        return Si468x_load_firmware(source.image_path.c_str());
    case FirmwareSource::Kind::Flash:
        std::printf("Loading the firmware image from flash address 0x%08lX\n",
                    static_cast<unsigned long>(source.flash_address));
        return Si468x_load_firmware_flash(source.flash_address);
    case FirmwareSource::Kind::Embedded:
        break;
    }
    std::printf("Uploading the embedded DAB firmware image (%u bytes)\n",
                static_cast<unsigned>(FW_DAB_RADIO_6_0_6_SIZE));
    return Si468x_load_firmware_static(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE);
}

// A file that cannot be read stays unreadable however often the chip is reset.
bool retry_is_pointless(const FirmwareSource &source, int16_t status) {
    return source.kind == FirmwareSource::Kind::Files && status == STATUS_HOST_FAILURE;
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
    const int16_t status = Si468x_rd_reply(reply);
    if (status >= 0 && reply[STATUS3] == PUP_STATE_APPLICATION) {
        std::printf("Si468x already running (STATUS3 0xC0): taken over without reset.\n");
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
    for (int attempt = 0; attempt < bring_up_attempts; ++attempt) {
        std::printf("Si468x resetting... (attempt %d of %d)\n", attempt + 1, bring_up_attempts);
        int16_t status = Si468x_bus_enable();
        if (status != 0) {
            fail_driver("bus", status);
            continue;
        }
        Si468x_reset();

        uint8_t reply[RD_REPLY_LENGTH] = {};
        status = Si468x_rd_reply(reply);
        if (status < 0 || (reply[STATUS0] & CTS) == 0) {
            if (attempt == 0) {
                return report_missing_chip(status, reply);
            }
            fail("bring-up: no clear-to-send after reset");
            continue;
        }

        status = Si468x_power_up();
        if (status != 0) {
            fail_driver("power-up", status);
            continue;
        }
        std::printf("Si468x powered up.\n");

        Si468x_load_init();
        status = upload_patch(source);
        if (status != 0) {
            fail_driver("patch upload", status);
            if (retry_is_pointless(source, status)) {
                return fail("bring-up: stopped, the patch file cannot be used");
            }
            abandon_attempt();
            continue;
        }
        bcm2835_delay(wait_between_images_ms);

        Si468x_load_init();
        status = upload_image(source);
        if (status != 0) {
            fail_driver("firmware upload", status);
            if (retry_is_pointless(source, status)) {
                return fail("bring-up: stopped, the firmware image file cannot be used");
            }
            abandon_attempt();
            continue;
        }
        bcm2835_delay(wait_before_boot_ms);

        status = Si468x_boot();
        if (status != 0) {
            fail_driver("boot", status);
            abandon_attempt();
            continue;
        }
        std::printf("Si468x booted.\n\nSet properties\n");
        status = DAB_set_properties_max_stations();
        if (status != 0) {
            return fail_dab("properties", status);
        }
        status = DAB_set_properties_output();
        if (status != 0) {
            return fail_dab("properties", status);
        }
        return exit_ok;
    }
    return fail("bring-up: no attempt of " + std::to_string(bring_up_attempts) + " succeeded");
}

} // namespace diag
