// SPDX-License-Identifier: GPL-3.0-or-later
// Chip bring-up: the running-chip shortcut, and the full bring-up of reset,
// power-up, firmware upload and boot with its retries (the shared sequence of
// DAB_bringup, with the radio's console lines and attempt count).
#include <cstdio>

#include "CorvaneRadio.h"

namespace {

// Every read is made and the record printed, whatever the reads returned.
void bringup_read_chip_info(CorvaneRadio_State *state, bool with_func_info) {
    DAB_read_chip_info(&state->chip_info, with_func_info, false, nullptr);
}

// The radio's console lines at the steps of the shared bring-up, and its
// verdicts on the failures.
DAB_BringupGo bringup_report(DAB_Bringup *bringup, DAB_BringupStep step) {
    auto *state = static_cast<CorvaneRadio_State *>(bringup->context);
    switch (step) {
    case DAB_BRINGUP_RESETTING:
        std::puts("Si468x resetting...");
        break;
    case DAB_BRINGUP_BUS_FAILED:
        // The status read after the reset tells whether the chip answers.
        return DAB_BRINGUP_GO_ON;
    case DAB_BRINGUP_NO_CTS:
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_POWER_UP_FAILED:
        // Only the first attempt gives up on a failed power-up; later ones
        // try the upload anyway.
        if (bringup->attempt == 0) {
            std::fputs("Not powered up", stdout);
            return DAB_BRINGUP_RETRY;
        }
        return DAB_BRINGUP_GO_ON;
    case DAB_BRINGUP_POWERED_UP:
        bringup_read_chip_info(state, false);
        std::puts("Si468x powered up.");
        std::printf("Load firmware now... Try %d\n", bringup->attempt);
        std::puts("Sometimes the Si468x boots in a faulty state - if transmitting of the firmware "
                  "causes problems, try to plug the board on the Raspberry Pi while the Pi is "
                  "running already.");
        break;
    case DAB_BRINGUP_UPLOADING_PATCH:
    case DAB_BRINGUP_UPLOADING_IMAGE:
        break;
    case DAB_BRINGUP_PATCH_FAILED:
    case DAB_BRINGUP_BOOT_FAILED:
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_IMAGE_FAILED:
        std::puts("Firmware not transmitted successfully");
        std::fflush(stdout);
        return DAB_BRINGUP_RETRY;
    case DAB_BRINGUP_ABANDONED:
        if (bringup->failed_step == DAB_BRINGUP_PATCH_FAILED) {
            std::puts("Patch not transmitted successfully");
        }
        break;
    case DAB_BRINGUP_BOOTED:
        bringup_read_chip_info(state, true);
        std::puts("\nSet properties");
        break;
    case DAB_BRINGUP_PROPERTIES_FAILED:
        // The volume waits for the station set-up, which knows the stored one.
        return DAB_BRINGUP_GO_ON;
    }
    return DAB_BRINGUP_GO_ON;
}

} // namespace

bool bringup_take_over_running_chip(CorvaneRadio_State *state) {
    return DAB_radio_take_over(&state->radio);
}

CorvaneRadio_Next bringup_full(CorvaneRadio_State *state) {
    DAB_Bringup bringup{};
    bringup.attempts = CORVANE_RADIO_BRINGUP_ATTEMPTS;
    bringup.firmware = DAB_FIRMWARE_EMBEDDED;
    bringup.status_reply = state->radio.status_reply;
    bringup.report = bringup_report;
    bringup.context = state;

    switch (DAB_bringup(&bringup)) {
    case DAB_BRINGUP_UP:
        return CORVANE_RADIO_GO_ON;
    case DAB_BRINGUP_NO_CHIP:
        main_failure("The Si468x chip could not be found. \nExit.");
        return CORVANE_RADIO_END_RUN;
    case DAB_BRINGUP_GAVE_UP:
    case DAB_BRINGUP_STOPPED:
        break;
    }
    char message[200];
    std::snprintf(message, sizeof message,
                  "Error loading firmware (tried %u times). The Si468x sometimes has problems "
                  "saving the firmware. You should try again.",
                  static_cast<unsigned>(CORVANE_RADIO_BRINGUP_ATTEMPTS));
    main_failure(message);
    return CORVANE_RADIO_END_RUN;
}
