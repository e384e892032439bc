// SPDX-License-Identifier: GPL-3.0-or-later
// Chip bring-up: the running-chip shortcut, and the full bring-up of reset,
// power-up, firmware upload and boot with its retries.
#include <cstdio>

#include "CorvaneRadio.h"
#include "Firmware.h"
#include "Si468x_SPI.h"

namespace {

// A failed upload or boot leaves the chip in reset this long before the next
// attempt, so it starts from a settled state.
constexpr uint32_t CORVANE_RADIO_RETRY_WAIT_MS = 2000;
constexpr uint32_t CORVANE_RADIO_PATCH_TO_FIRMWARE_MS = 50;
constexpr uint32_t CORVANE_RADIO_FIRMWARE_TO_BOOT_MS = 100;

void bringup_abandon_attempt(void) {
    Si468x_SPI_RSTB_low();
    Si468x_bus_disable();
    bcm2835_delay(CORVANE_RADIO_RETRY_WAIT_MS);
}

void bringup_read_chip_info(CorvaneRadio_State *state, bool with_func_info) {
    Si468x_get_part_info(&state->chip_info);
    Si468x_get_sys_state(&state->chip_info);
    if (with_func_info) {
        Si468x_get_func_info(&state->chip_info);
    }
    Si468x_print_chip_info(&state->chip_info);
}

} // namespace

bool bringup_take_over_running_chip(CorvaneRadio_State *state) {
    // No reset: a chip that an earlier run left playing must keep playing.
    if (Si468x_rd_reply(state->status_reply) < 0 ||
        state->status_reply[STATUS3] != PUP_STATE_APPLICATION) {
        return false;
    }
    state->property.id = AUDIO_ANALOG_VOLUME;
    state->property.value = 0;
    // A failed read leaves the value at 0, and the volume with it.
    Si468x_get_property(&state->property);
    state->volume = static_cast<uint8_t>(state->property.value & 0xFF);
    return true;
}

CorvaneRadio_Next bringup_full(CorvaneRadio_State *state) {
    bool booted = false;
    for (uint16_t attempt = 0; attempt < CORVANE_RADIO_BRINGUP_ATTEMPTS && !booted; ++attempt) {
        std::puts("Si468x resetting...");
        Si468x_bus_enable();
        Si468x_reset();

        if (Si468x_rd_reply(state->status_reply) < 0 || (state->status_reply[STATUS0] & CTS) == 0) {
            // Silence right after the first reset means no chip at all; later
            // it is one more chip that booted badly.
            if (attempt == 0) {
                main_failure("The Si468x chip could not be found. \nExit.");
                return CORVANE_RADIO_END_RUN;
            }
            continue;
        }

        // Only the first attempt gives up on a failed power-up; later ones try
        // the upload anyway.
        if (Si468x_power_up() != 0 && attempt == 0) {
            std::fputs("Not powered up", stdout);
            continue;
        }

        bringup_read_chip_info(state, false);
        std::puts("Si468x powered up.");
        std::printf("Load firmware now... Try %d\n", attempt);
        std::puts("Sometimes the Si468x boots in a faulty state - if transmitting of the firmware "
                  "causes problems, try to plug the board on the Raspberry Pi while the Pi is "
                  "running already.");

        Si468x_load_init();
        if (Si468x_load_firmware_static(fw_rom00_patch016bin, FW_ROM00_PATCH016_SIZE) != 0) {
            bringup_abandon_attempt();
            std::puts("Patch not transmitted successfully");
            continue;
        }

        bcm2835_delay(CORVANE_RADIO_PATCH_TO_FIRMWARE_MS);
        Si468x_load_init();
        if (Si468x_load_firmware_static(fw_dab_radio_6_0_6bin, FW_DAB_RADIO_6_0_6_SIZE) != 0) {
            std::puts("Firmware not transmitted successfully");
            std::fflush(stdout);
            bringup_abandon_attempt();
            continue;
        }

        bcm2835_delay(CORVANE_RADIO_FIRMWARE_TO_BOOT_MS);
        if (Si468x_boot() == 0) {
            booted = true;
        } else {
            bringup_abandon_attempt();
        }
    }

    if (!booted) {
        main_failure("Error loading firmware (tried 20 times). The Si468x sometimes has problems "
                     "saving the firmware. You should try again.");
        return CORVANE_RADIO_END_RUN;
    }

    bringup_read_chip_info(state, true);
    std::puts("\nSet properties");
    // The volume waits for the station set-up, which knows the stored one.
    DAB_set_properties_max_stations();
    DAB_set_properties_output();
    return CORVANE_RADIO_GO_ON;
}
