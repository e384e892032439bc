// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_DIGRAD_STATUS: the reception status of the tuned ensemble.
#include <cstdio>

#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_DAB_digrad_status(Si468x_DigradStatus *status) {
    // No acknowledge bits: the interrupt flags stay set for the next reader.
    uint8_t command[DAB_DIGRAD_STATUS_LENGTH] = {DAB_DIGRAD_STATUS, 0x00};
    uint8_t reply[DAB_DIGRAD_STATUS_REPLY_LENGTH];
    const int16_t result =
        Si468x_send_cmd(command, reply, DAB_DIGRAD_STATUS_LENGTH, DAB_DIGRAD_STATUS_REPLY_LENGTH);
    if (result != 0) {
        return Si468x_failure(result, 22);
    }
    const uint8_t interrupts = reply[DIGRAD_INTERRUPTS];
    const uint8_t states = reply[DIGRAD_STATES];
    status->audio_was_muted = Si468x_flag(interrupts, AUDIO_WAS_MUTED);
    status->fic_errors_encountered = Si468x_flag(interrupts, FICERRINT);
    status->acq_state_changed = Si468x_flag(interrupts, ACQINT);
    status->below_rssi_thresh = Si468x_flag(interrupts, RSSILINT);
    status->above_rssi_thresh = Si468x_flag(interrupts, RSSIHINT);
    status->hardmute = Si468x_flag(states, HARDMUTE);
    status->fic_errors = Si468x_flag(states, FICERR);
    status->ensemble_acquired = Si468x_flag(states, ACQ);
    status->rssi_valid = Si468x_flag(states, VALID);
    status->rssi = reply[DIGRAD_RSSI];
    status->snr = reply[DIGRAD_SNR];
    status->fic_quality = reply[DIGRAD_FIC_QUALITY];
    status->cnr = reply[DIGRAD_CNR];
    status->fib_error_count = Si468x_get_u16(reply + DIGRAD_FIB_ERROR_COUNT);
    status->tune_freq = Si468x_get_u32(reply + DIGRAD_TUNE_FREQ);
    status->tune_index = reply[DIGRAD_TUNE_INDEX];
    status->fft_offset = reply[DIGRAD_FFT_OFFSET];
    status->antenna_tuning_cap = Si468x_get_u16(reply + DIGRAD_READANTCAP);
    status->cu_level = Si468x_get_u16(reply + DIGRAD_CU_LEVEL);
    status->fast_detect = reply[DIGRAD_FAST_DECT];
    return 0;
}

void Si468x_print_digrad_status(const Si468x_DigradStatus *status) {
    std::printf("Digrad status ------------------------ \n");
    std::printf("%-44s%u\n", "Audio was muted:", status->audio_was_muted);
    std::printf("%-44s%u\n", "FIC errors encountered:", status->fic_errors_encountered);
    std::printf("%-44s%u\n", "Ensemble acquisition state changed:", status->acq_state_changed);
    std::printf("%-44s%u\n", "below RSSI thresh:", status->below_rssi_thresh);
    std::printf("%-44s%u\n", "above RSSI thresh:", status->above_rssi_thresh);
    std::printf("%-44s%u\n", "hardmute:", status->hardmute);
    std::printf("%-44s%u\n", "FIC errors:", status->fic_errors);
    std::printf("%-44s%u\n", "Ensemble acquired:", status->ensemble_acquired);
    std::printf("%-44s%u\n", "RSSI valid:", status->rssi_valid);
    std::printf("%-44s%u\n", "RSSI:", status->rssi);
    std::printf("%-44s%u\n", "SNR:", status->snr);
    std::printf("%-44s%u\n", "FIC quality:", status->fic_quality);
    std::printf("%-44s%u\n", "CNR:", status->cnr);
    std::printf("%-44s%u\n", "FIB error count:", status->fib_error_count);
    std::printf("%-44s%lu\n", "Tune Freq.:", static_cast<unsigned long>(status->tune_freq));
    std::printf("%-44s%u\n", "Tune index:", status->tune_index);
    std::printf("%-44s%u\n", "FFT offset:", status->fft_offset);
    std::printf("%-44s%u\n", "Antenna tuning cap value:", status->antenna_tuning_cap);
    std::printf("%-44s%u\n", "CU level:", status->cu_level);
    std::printf("%-44s%u\n", "Metric for DAB fast detect:", status->fast_detect);
}
