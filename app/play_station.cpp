// SPDX-License-Identifier: GPL-3.0-or-later
// Tuning and starting one service, with its outcome on the bottom lines.
#include "CorvaneRadio.h"
#include "Si468x_SPI.h"

namespace {

// The trailing blanks overwrite what a longer earlier status line left.
constexpr char TUNING_LINE[] = "Tuning..."
                               "                            ";
constexpr char TUNE_FAILED_LINE[] = "Tune failed"
                                    "                            ";
constexpr char STATION_FAILED_LINE[] = "Station failed"
                                       "                           ";
constexpr char SERVICE_LINE[] = "Freq. Idx %u Service ID %lu Component ID %lu"
                                "                     ";
static_assert(sizeof(TUNING_LINE) - 1 == 9 + 28);
static_assert(sizeof(TUNE_FAILED_LINE) - 1 == 11 + 28);
static_assert(sizeof(SERVICE_LINE) - 1 == 44 + 21);
static_assert(sizeof(STATION_FAILED_LINE) - 1 == 14 + 27);

// The lines that name the station: its label takes 16 columns, whatever its
// bytes, and the blanks after it clear the rest.
constexpr char NO_AUDIO_LINE[] = "No audio service: %s%*s";
constexpr int NO_AUDIO_BLANKS = 26;
constexpr char PLAYING_LINE[] = "Playing: %s%*s";
constexpr int PLAYING_BLANKS = 21;

void play_station_label_line(const char *format, int blanks, const Si468x_Service *service) {
    char label[DAB_LABEL_TEXT_SIZE];
    const int columns = DAB_label_for_terminal(service->label, service->si_charset, false, label);
    bottom_line_print(CORVANE_RADIO_STATUS_ROW, format, label, DAB_LABEL_CHARS - columns + blanks,
                      "");
}

} // namespace

int play_station(uint8_t *last_index, uint8_t ensemble_index, uint8_t service_index,
                 const DAB_ScanResults *results, Si468x_DigradStatus *status) {
    bottom_line_print(CORVANE_RADIO_STATUS_ROW, TUNING_LINE);
    refresh();

    // The entries come from the database walk, which never goes past the
    // database's room; an index beyond it has no frequency to tune.
    if (ensemble_index >= DAB_MAX_ENSEMBLES) {
        bottom_line_print(CORVANE_RADIO_STATUS_ROW, TUNE_FAILED_LINE);
        return -1;
    }
    const DAB_Ensemble *ensemble = &results->ensembles[ensemble_index];

    // Another service of the ensemble already tuned needs no retune.
    // A failed tune is not the end: the chip may still complete it, and the
    // reception status tells.
    if (ensemble->freq_index != *last_index) {
        DAB_tune_for_ensemble(ensemble->freq_index);
    }

    if (DAB_await_ensemble(status) != 1) {
        // The last tuned index stays, so the next start tunes again.
        bottom_line_print(CORVANE_RADIO_STATUS_ROW, TUNE_FAILED_LINE);
        return -1;
    }
    bcm2835_delay(CORVANE_RADIO_ACQUIRED_TO_START_MS);
    *last_index = ensemble->freq_index;

    Si468x_Service service{};
    Si468x_Component component{};
    Si468x_get_digital_service(ensemble, service_index, &service);
    Si468x_get_digital_service_component(&service, 0, &component);

    if (service.pd_flag == SI468X_PD_DATA) {
        play_station_label_line(NO_AUDIO_LINE, NO_AUDIO_BLANKS, &service);
        return -1;
    }

    if (Si468x_start_digital_service(service.pd_flag, service.service_id, component.comp_id) == 0) {
        play_station_label_line(PLAYING_LINE, PLAYING_BLANKS, &service);
        bottom_line_print(CORVANE_RADIO_STATION_ROW, SERVICE_LINE,
                          static_cast<unsigned>(*last_index),
                          static_cast<unsigned long>(service.service_id),
                          static_cast<unsigned long>(component.comp_id));
        return 0;
    }
    bottom_line_print(CORVANE_RADIO_STATUS_ROW, STATION_FAILED_LINE);
    return -1;
}
