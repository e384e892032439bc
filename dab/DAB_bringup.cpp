// SPDX-License-Identifier: GPL-3.0-or-later
// The chip bring-up of the radio and of the diagnostics program: the
// running-chip test, and reset, power-up, firmware upload and boot with their
// waits and retries, then the receiver properties.
#include "DABUtils.h"
#include "Firmware.h"
#include "Si468x_SPI.h"
#include "Si468x_commands.h"

namespace {

DAB_BringupGo DAB_bringup_report(DAB_Bringup *bringup, DAB_BringupStep step, int16_t status) {
    bringup->status = status;
    if (bringup->report == nullptr) {
        return DAB_BRINGUP_RETRY;
    }
    return bringup->report(bringup, step);
}

// A failed upload or boot leaves the chip mid-load: it is held in reset with
// the bus released for a while, so the next attempt starts from scratch.
void DAB_bringup_abandon(DAB_Bringup *bringup, DAB_BringupStep failed_step) {
    Si468x_SPI_RSTB_low();
    Si468x_bus_disable();
    bcm2835_delay(DAB_BRINGUP_RETRY_WAIT_MS);
    bringup->failed_step = failed_step;
    DAB_bringup_report(bringup, DAB_BRINGUP_ABANDONED, bringup->status);
}

int16_t DAB_bringup_upload_patch(const DAB_Bringup *bringup) {
    if (bringup->firmware == DAB_FIRMWARE_FILES) {
        return Si468x_load_firmware(bringup->patch_path);
    }
    return Si468x_load_firmware_static(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE);
}

int16_t DAB_bringup_upload_image(const DAB_Bringup *bringup) {
    switch (bringup->firmware) {
    case DAB_FIRMWARE_FILES:
        return Si468x_load_firmware(bringup->image_path);
    case DAB_FIRMWARE_FLASH:
        return Si468x_load_firmware_flash(bringup->flash_address);
    case DAB_FIRMWARE_EMBEDDED:
        break;
    }
    return Si468x_load_firmware_static(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE);
}

enum class DAB_AttemptEnd : uint8_t { Booted, Retry, NoChip, Stopped };

// A failed upload or boot: the report decides, and a retry starts from a chip
// held in reset.
DAB_AttemptEnd DAB_bringup_failed(DAB_Bringup *bringup, DAB_BringupStep step, int16_t status) {
    if (DAB_bringup_report(bringup, step, status) == DAB_BRINGUP_STOP) {
        return DAB_AttemptEnd::Stopped;
    }
    DAB_bringup_abandon(bringup, step);
    return DAB_AttemptEnd::Retry;
}

DAB_AttemptEnd DAB_bringup_attempt(DAB_Bringup *bringup) {
    DAB_bringup_report(bringup, DAB_BRINGUP_RESETTING, 0);
    int16_t status = Si468x_bus_enable();
    if (status != 0) {
        const DAB_BringupGo go = DAB_bringup_report(bringup, DAB_BRINGUP_BUS_FAILED, status);
        if (go != DAB_BRINGUP_GO_ON) {
            return go == DAB_BRINGUP_STOP ? DAB_AttemptEnd::Stopped : DAB_AttemptEnd::Retry;
        }
    }
    Si468x_reset();

    status = Si468x_rd_reply(bringup->status_reply);
    if (status < 0 || (bringup->status_reply[STATUS0] & CTS) == 0) {
        // Silence right after the first reset means no chip at all; later it
        // is one more chip that booted badly.
        if (bringup->attempt == 0) {
            bringup->status = status;
            return DAB_AttemptEnd::NoChip;
        }
        return DAB_bringup_report(bringup, DAB_BRINGUP_NO_CTS, status) == DAB_BRINGUP_STOP
                   ? DAB_AttemptEnd::Stopped
                   : DAB_AttemptEnd::Retry;
    }

    status = Si468x_power_up();
    if (status != 0) {
        const DAB_BringupGo go = DAB_bringup_report(bringup, DAB_BRINGUP_POWER_UP_FAILED, status);
        if (go != DAB_BRINGUP_GO_ON) {
            return go == DAB_BRINGUP_STOP ? DAB_AttemptEnd::Stopped : DAB_AttemptEnd::Retry;
        }
    }
    DAB_bringup_report(bringup, DAB_BRINGUP_POWERED_UP, 0);

    Si468x_load_init();
    DAB_bringup_report(bringup, DAB_BRINGUP_UPLOADING_PATCH, 0);
    status = DAB_bringup_upload_patch(bringup);
    if (status != 0) {
        return DAB_bringup_failed(bringup, DAB_BRINGUP_PATCH_FAILED, status);
    }
    bcm2835_delay(DAB_BRINGUP_PATCH_TO_IMAGE_MS);

    Si468x_load_init();
    DAB_bringup_report(bringup, DAB_BRINGUP_UPLOADING_IMAGE, 0);
    status = DAB_bringup_upload_image(bringup);
    if (status != 0) {
        return DAB_bringup_failed(bringup, DAB_BRINGUP_IMAGE_FAILED, status);
    }
    bcm2835_delay(DAB_BRINGUP_IMAGE_TO_BOOT_MS);

    status = Si468x_boot();
    if (status != 0) {
        return DAB_bringup_failed(bringup, DAB_BRINGUP_BOOT_FAILED, status);
    }
    return DAB_AttemptEnd::Booted;
}

} // namespace

int16_t DAB_read_chip_info(Si468x_ChipInfo *info, bool with_func_info, bool stop_at_failure,
                           const char **failed_read) {
    struct Read {
        int16_t (*read)(Si468x_ChipInfo *);
        const char *name;
    };
    const Read reads[] = {
        {Si468x_get_part_info, "part info"},
        {Si468x_get_sys_state, "system state"},
        {Si468x_get_func_info, "function info"},
    };
    const std::size_t count = with_func_info ? 3 : 2;
    int16_t first_failure = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const int16_t status = reads[k].read(info);
        if (status == 0 || first_failure != 0) {
            continue;
        }
        first_failure = status;
        if (failed_read != nullptr) {
            *failed_read = reads[k].name;
        }
        if (stop_at_failure) {
            return first_failure;
        }
    }
    Si468x_print_chip_info(info);
    return first_failure;
}

bool DAB_chip_running(uint8_t *status_reply) {
    return Si468x_rd_reply(status_reply) >= 0 && status_reply[STATUS3] == PUP_STATE_APPLICATION;
}

DAB_BringupResult DAB_bringup(DAB_Bringup *bringup) {
    DAB_AttemptEnd end = DAB_AttemptEnd::Retry;
    for (bringup->attempt = 0; bringup->attempt < bringup->attempts; ++bringup->attempt) {
        end = DAB_bringup_attempt(bringup);
        if (end != DAB_AttemptEnd::Retry) {
            break;
        }
    }
    switch (end) {
    case DAB_AttemptEnd::Booted:
        break;
    case DAB_AttemptEnd::Retry:
        return DAB_BRINGUP_GAVE_UP;
    case DAB_AttemptEnd::NoChip:
        return DAB_BRINGUP_NO_CHIP;
    case DAB_AttemptEnd::Stopped:
        return DAB_BRINGUP_STOPPED;
    }

    DAB_bringup_report(bringup, DAB_BRINGUP_BOOTED, 0);
    for (int16_t (*set_properties)(void) :
         {DAB_set_properties_max_stations, DAB_set_properties_output}) {
        const int16_t status = set_properties();
        if (status != 0 && DAB_bringup_report(bringup, DAB_BRINGUP_PROPERTIES_FAILED, status) !=
                               DAB_BRINGUP_GO_ON) {
            return DAB_BRINGUP_STOPPED;
        }
    }
    return DAB_BRINGUP_UP;
}
