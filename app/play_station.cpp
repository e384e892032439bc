// SPDX-License-Identifier: GPL-3.0-or-later
// Tuning and starting one service, with its outcome on the bottom lines.
#include <cstdio>
#include <cstring>

#include "CorvaneRadio.h"

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

int play_station(DAB_Radio *radio, uint8_t ensemble_index, uint8_t service_index) {
    bottom_line_print(CORVANE_RADIO_STATUS_ROW, TUNING_LINE);
    refresh();

    DAB_Play play{};
    switch (DAB_radio_play(radio, ensemble_index, service_index, &play)) {
    case DAB_PLAY_PLAYING:
        play_station_label_line(PLAYING_LINE, PLAYING_BLANKS, &play.service);
        bottom_line_print(CORVANE_RADIO_STATION_ROW, SERVICE_LINE,
                          static_cast<unsigned>(radio->last_tuned_index),
                          static_cast<unsigned long>(play.service.service_id),
                          static_cast<unsigned long>(play.component.comp_id));
        return 0;
    case DAB_PLAY_NO_AUDIO:
        play_station_label_line(NO_AUDIO_LINE, NO_AUDIO_BLANKS, &play.service);
        return -1;
    case DAB_PLAY_TUNE_FAILED:
        bottom_line_print(CORVANE_RADIO_STATUS_ROW, TUNE_FAILED_LINE);
        return -1;
    case DAB_PLAY_STATION_FAILED:
        bottom_line_print(CORVANE_RADIO_STATUS_ROW, STATION_FAILED_LINE);
        return -1;
    case DAB_PLAY_LINK_FAILED:
        break;
    }
    // Not the reception's fault: the board link itself failed.
    char words[CORVANE_RADIO_BOTTOM_LINE_SIZE];
    link_failure_words(play.link_errno, words, sizeof words);
    bottom_line_print(CORVANE_RADIO_STATUS_ROW, "%s", words);
    clrtoeol();
    return -1;
}

void link_failure_words(int error, char *words, std::size_t room) {
    std::snprintf(words, room, "The SPI transfer failed (%s)", std::strerror(error));
}
