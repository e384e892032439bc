// SPDX-License-Identifier: GPL-3.0-or-later
// The engine functions the service uses, built from the station management's
// and the driver's own sequences, for as long as dab/ does not carry the
// engine itself. Same contracts as dab/DAB_radio.h.
#include <cstring>

#include "DAB_radio.h"
#include "Si468x_SPI.h"

namespace {

// The shortest packet that carries a text: header, one character, trailer.
constexpr uint16_t TEXT_MIN_BYTES = 4;

std::size_t utf8_put(char32_t c, char *out) {
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

char32_t fallback_chars[SI468X_PAYLOAD_SIZE];

} // namespace

bool DAB_link_failed(int *error) {
    if (error != nullptr) {
        *error = 0;
    }
    return false;
}

void DAB_link_clear_failure(void) {}

uint8_t DAB_ensemble_count(const DAB_ScanResults *results) {
    return results->num_ensembles < DAB_MAX_ENSEMBLES ? results->num_ensembles : DAB_MAX_ENSEMBLES;
}

uint16_t DAB_service_count(const DAB_ScanResults *results) {
    uint16_t count = 0;
    for (uint8_t i = 0; i < DAB_ensemble_count(results); ++i) {
        count = static_cast<uint16_t>(count + results->ensembles[i].num_services);
    }
    return count;
}

bool DAB_service_at(const DAB_ScanResults *results, uint16_t k, uint8_t *ensemble,
                    uint8_t *service) {
    for (uint8_t i = 0; i < DAB_ensemble_count(results); ++i) {
        const uint8_t n = results->ensembles[i].num_services;
        if (k < n) {
            *ensemble = i;
            *service = static_cast<uint8_t>(k);
            return true;
        }
        k = static_cast<uint16_t>(k - n);
    }
    return false;
}

bool DAB_find_service(const DAB_ScanResults *results, uint32_t service_id, uint8_t *ensemble,
                      uint8_t *service, uint16_t *k) {
    bool found = false;
    uint16_t position = 0;
    for (uint8_t i = 0; i < DAB_ensemble_count(results); ++i) {
        for (uint8_t j = 0; j < results->ensembles[i].num_services; ++j, ++position) {
            Si468x_Service record{};
            Si468x_get_digital_service(&results->ensembles[i], j, &record);
            if (record.service_id == service_id) {
                *ensemble = i;
                *service = j;
                *k = position;
                found = true;
            }
        }
    }
    return found;
}

void DAB_radio_init(DAB_Radio *radio) {
    std::memset(radio, 0, sizeof *radio);
    radio->last_tuned_index = DAB_RADIO_NO_FREQ_INDEX;
}

bool DAB_radio_take_over(DAB_Radio *radio) {
    if (!DAB_chip_running(radio->status_reply)) {
        return false;
    }
    Si468x_Property property{};
    property.id = AUDIO_ANALOG_VOLUME;
    Si468x_get_property(&property);
    radio->volume = static_cast<uint8_t>(property.value & 0xFF);
    return true;
}

DAB_PlayOutcome DAB_radio_play(DAB_Radio *radio, uint8_t ensemble_index, uint8_t service_index,
                               DAB_Play *play) {
    std::memset(play, 0, sizeof *play);
    radio->playing = 0;
    radio->text[0] = '\0';
    if (ensemble_index >= DAB_MAX_ENSEMBLES) {
        play->outcome = DAB_PLAY_TUNE_FAILED;
        return play->outcome;
    }
    const DAB_Ensemble *ensemble = &radio->stations.ensembles[ensemble_index];
    play->freq_index = ensemble->freq_index;
    if (ensemble->freq_index != radio->last_tuned_index) {
        DAB_tune_for_ensemble(ensemble->freq_index);
    }
    if (DAB_await_ensemble(&radio->reception) != 1) {
        play->outcome = DAB_PLAY_TUNE_FAILED;
        return play->outcome;
    }
    bcm2835_delay(DAB_RADIO_ACQUIRED_TO_START_MS);
    radio->last_tuned_index = ensemble->freq_index;
    Si468x_get_digital_service(ensemble, service_index, &play->service);
    Si468x_get_digital_service_component(&play->service, 0, &play->component);
    if (play->service.pd_flag == SI468X_PD_DATA) {
        play->outcome = DAB_PLAY_NO_AUDIO;
        return play->outcome;
    }
    if (Si468x_start_digital_service(play->service.pd_flag, play->service.service_id,
                                     play->component.comp_id) != 0) {
        play->outcome = DAB_PLAY_STATION_FAILED;
        return play->outcome;
    }
    play->outcome = DAB_PLAY_PLAYING;
    radio->play = *play;
    radio->playing = 1;
    return play->outcome;
}

DAB_VolumeOutcome DAB_radio_set_volume(DAB_Radio *radio, int volume, const char *list_path,
                                       DAB_Volume *result) {
    std::memset(result, 0, sizeof *result);
    const int clamped =
        volume < 0 ? 0 : (volume > DAB_RADIO_MAX_VOLUME ? DAB_RADIO_MAX_VOLUME : volume);
    result->volume = static_cast<uint8_t>(clamped);
    if (DAB_set_properties_volume(result->volume) != 0) {
        result->outcome = DAB_VOLUME_NOT_SET;
        return result->outcome;
    }
    radio->volume = result->volume;
    result->save_status = DAB_radio_save_list(radio, list_path);
    result->outcome = result->save_status == 0 ? DAB_VOLUME_SAVED : DAB_VOLUME_NOT_SAVED;
    return result->outcome;
}

DAB_PollEvent DAB_radio_poll(DAB_Radio *radio) {
    uint8_t ready = 0;
    if (Si468x_get_digital_service_data(&radio->data, &ready) != 0) {
        return DAB_POLL_LINK_FAILED;
    }
    if (ready == 0 || radio->data.byte_count < TEXT_MIN_BYTES) {
        return DAB_POLL_NOTHING;
    }
    const uint16_t count =
        DAB_decode_text(radio->data.text, SI468X_PAYLOAD_SIZE, fallback_chars, SI468X_PAYLOAD_SIZE);
    char text[DAB_RADIO_TEXT_SIZE];
    std::size_t length = 0;
    for (uint16_t i = 0; i < count && length + 5 < sizeof text; ++i) {
        length += utf8_put(fallback_chars[i], text + length);
    }
    text[length] = '\0';
    if (std::strcmp(text, radio->text) == 0) {
        return DAB_POLL_NOTHING;
    }
    std::memcpy(radio->text, text, length + 1);
    return DAB_POLL_TEXT_CHANGED;
}

bool DAB_radio_read_reception(DAB_Radio *radio, uint32_t now_ms) {
    if (radio->reception_valid != 0 &&
        now_ms - radio->reception_read_ms < DAB_RADIO_RECEPTION_EVERY_MS) {
        return false;
    }
    radio->reception_valid = Si468x_DAB_digrad_status(&radio->reception) == 0 ? 1 : 0;
    radio->reception_read_ms = now_ms;
    return radio->reception_valid != 0;
}

DAB_ListLoad DAB_radio_load_list(DAB_Radio *radio, const char *path, DAB_ListLoadFacts *facts) {
    std::memset(facts, 0, sizeof *facts);
    radio->list_held = 0;
    facts->kind = DAB_path_kind(path);
    if (facts->kind == DAB_PATH_NONE) {
        facts->outcome = DAB_LIST_MISSING;
        return facts->outcome;
    }
    if (facts->kind != DAB_PATH_REGULAR) {
        radio->list_held = 1;
        facts->outcome = DAB_LIST_NOT_REGULAR;
        return facts->outcome;
    }
    if (DAB_read_station_list(&radio->stations, path, &radio->volume, &facts->check) != 0 &&
        facts->check.whole == 0 && DAB_service_count(&radio->stations) == 0 &&
        facts->check.line == 0) {
        radio->list_held = 1;
        facts->outcome = DAB_LIST_UNREADABLE;
        return facts->outcome;
    }
    if (facts->check.whole != 0) {
        facts->outcome = DAB_LIST_LOADED;
        return facts->outcome;
    }
    if (DAB_keep_station_list(path, facts->kept_path, sizeof facts->kept_path) == 0) {
        facts->outcome = DAB_LIST_DAMAGED_KEPT;
    } else {
        radio->list_held = 1;
        facts->outcome = DAB_LIST_DAMAGED_HELD;
    }
    return facts->outcome;
}

int16_t DAB_radio_save_list(const DAB_Radio *radio, const char *path) {
    if (radio->list_held != 0) {
        return -1;
    }
    return DAB_save_scan_results(&radio->stations, path, radio->volume);
}

int16_t DAB_scan_begin(DAB_ScanSteps *steps, DAB_ScanResults *results) {
    std::memset(steps, 0, sizeof *steps);
    steps->results = results;
    if (Si468x_DAB_get_freq_list(steps->frequencies, SI468X_MAX_FREQ_LIST, &steps->count) != 0) {
        steps->done = 1;
        return -1;
    }
    if (DAB_set_properties_max_stations() != 0) {
        steps->done = 1;
        return -1;
    }
    results->num_ensembles = 0;
    return 0;
}

int16_t DAB_scan_step(DAB_ScanSteps *steps) {
    DAB_ScanResults *results = steps->results;
    if (steps->done != 0 || steps->next >= steps->count ||
        results->num_ensembles >= DAB_MAX_ENSEMBLES) {
        steps->done = 1;
        return 0;
    }
    static Si468x_ServiceList list;
    const uint8_t index = steps->next++;
    steps->last = DAB_do_freq_scan(&list, index);
    if (steps->last == 1) {
        bcm2835_delay(DAB_TIME_WAIT_MS);
        Si468x_EnsembleTime time{};
        if (Si468x_get_ensembletime(&time) == 0 && time.year != 0 && time.month != 0 &&
            time.day != 0) {
            results->scan_date = time;
        }
        results->ensembles[results->num_ensembles] = list;
        results->ensembles[results->num_ensembles].freq_index = index;
        ++results->num_ensembles;
    }
    if (steps->next >= steps->count || results->num_ensembles >= DAB_MAX_ENSEMBLES) {
        steps->done = 1;
        return 0;
    }
    return 1;
}
