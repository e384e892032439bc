// SPDX-License-Identifier: GPL-3.0-or-later
// Station set-up: the station list loaded or the band scanned and saved, the
// volume set, the requested service looked up and the menu entries built.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CorvaneRadio.h"

namespace {

constexpr char CORVANE_RADIO_NO_LABEL[] = "(No Label)";
constexpr char CORVANE_RADIO_RESCAN_ENTRY[] = "Rescan";

// A label for the menu in the terminal's locale (or, with `ascii_only`, in
// its ASCII spelling), blank padded to 16 columns as a broadcast label is,
// so that every band gives entries of the same width. False for a name with
// nothing to show.
bool station_setup_menu_name(const Si468x_Service *service, bool ascii_only, char *name) {
    const int columns =
        DAB_label_for_terminal(service->label, service->si_charset, ascii_only, name);
    if (columns == 0) {
        return false;
    }
    std::size_t length = std::strlen(name);
    for (int c = columns; c < DAB_LABEL_CHARS && length + 1 < DAB_LABEL_TEXT_SIZE; ++c) {
        name[length++] = ' ';
    }
    name[length] = '\0';
    return true;
}

CorvaneRadio_Next station_setup_scan(CorvaneRadio_State *state) {
    state->rescan = 0;
    Si468x_DAB_get_freq_list(state->frequencies, SI468X_MAX_FREQ_LIST, &state->num_frequencies);
    std::printf("Do full DAB scan. Number of Frequencies: %d\n", state->num_frequencies);
    state->service_count = 0;
    state->radio.last_tuned_index = CORVANE_RADIO_NO_FREQ_INDEX;
    DAB_do_full_scan(&state->radio.stations, state->frequencies, state->num_frequencies);

    // The labels go out one field after the other, each as the menu shows
    // it: decoded into the terminal's character set and 16 columns wide.
    std::puts("Services found:");
    const uint8_t ensembles = DAB_ensemble_count(&state->radio.stations);
    for (uint8_t i = 0; i < ensembles; ++i) {
        const DAB_Ensemble *ensemble = &state->radio.stations.ensembles[i];
        for (uint8_t j = 0; j < ensemble->num_services; ++j) {
            Si468x_get_digital_service(ensemble, j, &state->service);
            ++state->service_count;
            char name[DAB_LABEL_TEXT_SIZE];
            if (!station_setup_menu_name(&state->service, false, name)) {
                // Nothing to show (zero bytes, blanks): a field of blanks.
                std::snprintf(name, sizeof name, "%*s", DAB_LABEL_CHARS, "");
            }
            std::fputs(name, stdout);
        }
    }
    std::putchar('\n');

    if (state->service_count == 0) {
        // A bus that fails makes every frequency look empty: that is no
        // matter of the antenna.
        int error = 0;
        if (DAB_link_failed(&error)) {
            char message[CORVANE_RADIO_BOTTOM_LINE_SIZE];
            link_failure_words(error, message, sizeof message);
            std::strncat(message, ": check the board's connection. Exit.",
                         sizeof message - std::strlen(message) - 1);
            main_failure(message);
            return CORVANE_RADIO_END_RUN;
        }
        main_failure("No services found... quit");
        return CORVANE_RADIO_END_RUN;
    }
    // The scan stands in for a list that cannot be read; it is not saved
    // over it.
    if (state->station_list_unreadable != 0) {
        return CORVANE_RADIO_GO_ON;
    }
    std::puts("Saving scan results.");
    if (station_list_save(state) < 0) {
        main_failure("Could not save scan results. Exit.");
        return CORVANE_RADIO_END_RUN;
    }
    return CORVANE_RADIO_GO_ON;
}

// Every service in database order is counted; the last one with the requested
// identifier is selected. An identifier of 0 is no request: a service whose
// id is 0 is played from the menu like any other, never by itself.
void station_setup_lookup(CorvaneRadio_State *state) {
    state->service_count = DAB_service_count(&state->radio.stations);
    if (state->requested_service_id != 0 &&
        DAB_find_service(&state->radio.stations, state->requested_service_id,
                         &state->selected_ensemble, &state->selected_service, nullptr)) {
        state->service_found = 1;
    }
}

// The menu library refuses a name it cannot show (a character the locale does
// not print, an empty name); a refused item would be a null entry that ends
// the list there, taking every later station and "Rescan" with it. So the
// label is offered as the locale shows it, then in its ASCII spelling, and
// an entry is made in any case.
// A label with nothing to show (a first zero byte in EBU Latin or UTF-8,
// blanks only) is listed as "(No Label)"; a UCS-2 label, whose first byte is
// zero for every Latin letter, is not.
ITEM *station_setup_menu_item(const Si468x_Service *service, char *name) {
    ITEM *item = nullptr;
    if (station_setup_menu_name(service, false, name)) {
        item = new_item(name, name);
    }
    if (item == nullptr && station_setup_menu_name(service, true, name)) {
        item = new_item(name, name);
    }
    if (item == nullptr) {
        item = new_item(CORVANE_RADIO_NO_LABEL, CORVANE_RADIO_NO_LABEL);
    }
    return item;
}

// Entry k is the k-th service in database order, the order in which the menu
// maps a chosen entry back; then "Rescan" and the terminator.
void station_setup_menu_entries(CorvaneRadio_State *state) {
    const uint16_t count = state->service_count;
    state->items = static_cast<ITEM **>(std::calloc(count + 2u, sizeof(ITEM *)));
    state->labels = static_cast<char **>(std::calloc(count > 0 ? count : 1u, sizeof(char *)));
    if (state->items == nullptr || state->labels == nullptr) {
        std::abort();
    }
    for (uint16_t k = 0; k < count; ++k) {
        state->labels[k] = static_cast<char *>(std::calloc(DAB_LABEL_TEXT_SIZE, 1));
        if (state->labels[k] == nullptr) {
            std::abort();
        }
    }

    uint16_t k = 0;
    const uint8_t ensembles = DAB_ensemble_count(&state->radio.stations);
    for (uint8_t i = 0; i < ensembles; ++i) {
        const DAB_Ensemble *ensemble = &state->radio.stations.ensembles[i];
        for (uint8_t j = 0; j < ensemble->num_services; ++j, ++k) {
            Si468x_get_digital_service(ensemble, j, &state->service);
            state->items[k] = station_setup_menu_item(&state->service, state->labels[k]);
        }
    }
    state->items[count] = new_item(CORVANE_RADIO_RESCAN_ENTRY, CORVANE_RADIO_RESCAN_ENTRY);
    state->items[count + 1] = new_item(nullptr, nullptr);
}

} // namespace

CorvaneRadio_Next station_setup(CorvaneRadio_State *state) {
    // The stored volume replaces the current one; a list that is missing,
    // not a file or unreadable leaves the stations to a scan.
    bool scan = state->rescan != 0;
    if (!scan) {
        const DAB_ListLoad outcome = station_list_load(state);
        scan = outcome == DAB_LIST_MISSING || outcome == DAB_LIST_NOT_REGULAR ||
               outcome == DAB_LIST_UNREADABLE;
    }
    if (scan && station_setup_scan(state) != CORVANE_RADIO_GO_ON) {
        return CORVANE_RADIO_END_RUN;
    }

    std::printf("Volume: %u\n", static_cast<unsigned>(state->radio.volume));
    DAB_Volume volume{};
    DAB_radio_set_volume(&state->radio, state->radio.volume, nullptr, &volume);

    station_setup_lookup(state);
    if (state->requested_service_id != 0 && state->service_found == 0) {
        main_failure("Unknown service identifier, stop.");
        return CORVANE_RADIO_END_RUN;
    }

    station_setup_menu_entries(state);
    return CORVANE_RADIO_GO_ON;
}
