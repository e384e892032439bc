// SPDX-License-Identifier: GPL-3.0-or-later
// Playing one service of the database: tune when its ensemble is not the one
// tuned, wait for the ensemble, start the service's first component.
#include "DAB_radio.h"
#include "Si468x_SPI.h"

namespace {

// A failure during which the link's own transfer failed is the link's: the
// chip may never have heard the command.
DAB_PlayOutcome DAB_radio_failed(DAB_Radio *radio, DAB_PlayOutcome outcome, DAB_Play *play) {
    int error = 0;
    if (DAB_link_failed(&error)) {
        outcome = DAB_PLAY_LINK_FAILED;
        play->link_errno = error;
    }
    play->outcome = outcome;
    radio->playing = 0;
    return outcome;
}

} // namespace

DAB_PlayOutcome DAB_radio_play(DAB_Radio *radio, uint8_t ensemble_index, uint8_t service_index,
                               DAB_Play *play) {
    *play = DAB_Play{};
    play->freq_index = DAB_RADIO_NO_FREQ_INDEX;
    DAB_link_clear_failure();

    // An index beyond the database's room has no frequency to tune.
    if (ensemble_index >= DAB_MAX_ENSEMBLES) {
        return DAB_radio_failed(radio, DAB_PLAY_TUNE_FAILED, play);
    }
    const DAB_Ensemble *ensemble = &radio->stations.ensembles[ensemble_index];
    play->freq_index = ensemble->freq_index;

    // Another service of the ensemble already tuned needs no retune. A
    // failed tune is not the end: the chip may still complete it, and the
    // reception status tells.
    if (ensemble->freq_index != radio->last_tuned_index) {
        DAB_tune_for_ensemble(ensemble->freq_index);
    }
    if (DAB_await_ensemble(&radio->reception) != 1) {
        // The last tuned index stays, so the next start tunes again.
        radio->reception_valid = 0;
        return DAB_radio_failed(radio, DAB_PLAY_TUNE_FAILED, play);
    }
    bcm2835_delay(DAB_RADIO_ACQUIRED_TO_START_MS);
    radio->last_tuned_index = ensemble->freq_index;

    Si468x_get_digital_service(ensemble, service_index, &play->service);
    Si468x_get_digital_service_component(&play->service, 0, &play->component);
    if (play->service.pd_flag == SI468X_PD_DATA) {
        return DAB_radio_failed(radio, DAB_PLAY_NO_AUDIO, play);
    }
    if (Si468x_start_digital_service(play->service.pd_flag, play->service.service_id,
                                     play->component.comp_id) != 0) {
        return DAB_radio_failed(radio, DAB_PLAY_STATION_FAILED, play);
    }
    play->outcome = DAB_PLAY_PLAYING;
    radio->play = *play;
    radio->playing = 1;
    return DAB_PLAY_PLAYING;
}
