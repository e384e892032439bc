// SPDX-License-Identifier: GPL-3.0-or-later
// The radio application: program entry, command line, exit paths, chip
// bring-up, station set-up, station menu and playback.
//
// `main` owns one CorvaneRadio_State for the whole run; each phase takes it by
// pointer. Every failure exit goes through main_failure, and the exit status
// is 0 on every path.
#pragma once

#include <cstdint>

#include <menu.h>

#include "DABUtils.h"
#include "Si468x.h"
#include "Si468x_commands.h"

// The user-visible version: start line and menu title.
constexpr char CORVANE_RADIO_VERSION[] = "v0.16.5";

// The station list file, in the working directory.
constexpr char CORVANE_RADIO_STATION_LIST[] = "stationlist.txt";

// The bring-up's retry loop: each attempt starts from a fresh reset.
constexpr uint16_t CORVANE_RADIO_BRINGUP_ATTEMPTS = 20;

// Nothing tuned yet by play_station.
constexpr uint8_t CORVANE_RADIO_NO_FREQ_INDEX = 255;
// play_station: one more poll period after the ensemble is acquired, before
// the service starts.
constexpr uint32_t CORVANE_RADIO_ACQUIRED_TO_START_MS = DAB_ACQUIRE_POLL_WAIT_MS;

constexpr uint8_t CORVANE_RADIO_MAX_VOLUME = AUDIO_ANALOG_VOLUME_MAX;

// The screen the menu layout needs: the menu window spans columns 4..73 and
// rows 2..15, and the help, text and status lines sit on the last five rows.
constexpr int CORVANE_RADIO_MIN_COLS = 74;
constexpr int CORVANE_RADIO_MIN_LINES = 21;

// How a phase of main ended.
enum CorvaneRadio_Next : uint8_t {
    CORVANE_RADIO_GO_ON,   // the next phase follows
    CORVANE_RADIO_END_RUN, // the run is over (main returns 0)
    CORVANE_RADIO_RESCAN,  // the user chose "Rescan": full bring-up, forced scan, new menu
};

struct CorvaneRadio_State {
    uint8_t volume;
    uint32_t requested_service_id;
    uint8_t last_tuned_index;
    uint8_t selected_ensemble;
    uint8_t selected_service;
    uint8_t service_found;
    uint8_t rescan;
    uint16_t service_count;
    uint8_t status_reply[RD_REPLY_LENGTH]; // filler, STATUS0..STATUS3, RESP4, RESP5
    Si468x_Property property;
    Si468x_ChipInfo chip_info;
    // Room for every count the chip can report, so a long list cannot overrun.
    uint32_t frequencies[SI468X_MAX_FREQ_LIST];
    uint8_t num_frequencies;
    DAB_ScanResults scan_results;
    Si468x_Service service;
    Si468x_DigradStatus digrad_status;
    Si468x_ServiceData service_data;
    uint8_t service_data_ready;
    // The text row shows the record's text: set by the first text shown, so
    // a new layout can show it again.
    uint8_t text_shown;
    // Menu objects: service_count + 2 items (stations, "Rescan", terminator)
    // and service_count label copies, built by the station set-up.
    ITEM **items;
    char **labels;
    MENU *menu;
    WINDOW *menu_window;
    WINDOW *menu_subwindow;
    // The curses screen, made once; later menus resume it.
    SCREEN *screen;
    // The station list did not read back whole and could not be kept: no
    // save may replace it.
    uint8_t station_list_held;
    // The bottom line shows that a volume could not be saved.
    uint8_t save_notice_shown;
};

// Zeroes the state and sets the initial values (volume 63, nothing tuned).
void CorvaneRadio_init_state(CorvaneRadio_State *state);
// The number of ensembles to walk: the database's count, never more than its
// room (a damaged station list may claim more).
uint8_t CorvaneRadio_ensemble_count(const DAB_ScanResults *results);

// ---------------------------------------------------------------------------
// Command line, checks and exits

// 0 when running as root; otherwise prints the notice and returns 1.
int check_sudo(void);
// The service identifier of the command line, 0 for none. Prints the usage for
// a command line it does not accept, and the run then goes on with 0.
uint32_t parse_cmd_line_args(int argc, const char *const argv[]);
void print_usage(void);
// The first-start notice; waits for a newline on standard input.
void print_new_start_banner(void);
// Prints the message, powers the chip down and returns 0 for main to return.
int main_failure(const char *message);
// After a link set-up refused because another program holds the chip:
// prints who holds it ("The Si468x is in use by another program (<name>,
// pid <n>). Exit.") and returns 0, touching neither the reset line nor the
// bus.
int main_chip_held(void);

// ---------------------------------------------------------------------------
// Phases of main

// At program start only: a chip left running by an earlier run is taken over
// without reset and its volume read. True when it was taken over.
bool bringup_take_over_running_chip(CorvaneRadio_State *state);
// Reset, power-up, firmware upload and boot, up to 20 attempts, then chip
// information and receiver properties.
CorvaneRadio_Next bringup_full(CorvaneRadio_State *state);

// Load or scan the station list, set the volume, look up the requested
// service and build the menu entries.
CorvaneRadio_Next station_setup(CorvaneRadio_State *state);

// The menu, the automatic start of the requested service and the key loop.
CorvaneRadio_Next station_menu(CorvaneRadio_State *state);

// ---------------------------------------------------------------------------
// Menu and playback

int play_station(uint8_t *last_index, uint8_t ensemble_index, uint8_t service_index,
                 const DAB_ScanResults *results, Si468x_DigradStatus *status);
void end_menu(ITEM **items, MENU *menu, char **labels, uint16_t service_count);
void print_in_middle(WINDOW *window, int row, int column, int width, const char *text,
                     chtype attributes);

// The status and station lines (1 and 2 rows from the bottom) as last written,
// so that a new layout can write them again.
constexpr uint8_t CORVANE_RADIO_STATUS_ROW = 1;
constexpr uint8_t CORVANE_RADIO_STATION_ROW = 2;
constexpr uint8_t CORVANE_RADIO_BOTTOM_LINES = 2;
// The longest line: "No audio service: ", a label of 16 characters of up to
// 4 bytes each, and the blanks that clear what a longer line left.
constexpr uint16_t CORVANE_RADIO_BOTTOM_LINE_SIZE = 160;
extern char CorvaneRadio_BottomLines[CORVANE_RADIO_BOTTOM_LINES][CORVANE_RADIO_BOTTOM_LINE_SIZE];

// Writes the line at LINES - from_bottom, column 0, and keeps it.
void bottom_line_print(uint8_t from_bottom, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
// Writes the kept lines again, at the rows of the current size.
void bottom_lines_redraw(void);
// Nothing is playing any more (a rescan reset the chip): nothing to redraw.
void bottom_lines_forget(void);

// The broadcast text row: `text` decoded from the broadcast character set and
// written in the terminal's encoding into `line` (`size` bytes), at most
// `width` screen columns of it. Returns the columns taken.
int station_menu_text_line(const char *text, int width, char *line, uint16_t size);

// ---------------------------------------------------------------------------
// The station list file

// True when stationlist.txt is there to be read: a regular file, or a link to
// one. With `say`, anything else standing there is named on the console.
bool station_list_present(bool say);
// Loads the list into the database and the volume. A list that does not read
// back whole is kept beside itself, and a console line says where; if it
// cannot be kept, no save replaces it.
void station_list_load(CorvaneRadio_State *state);
// Saves the database and the volume; 0, or negative when not saved.
int16_t station_list_save(const CorvaneRadio_State *state);
// A volume key's save while the menu is up: a failure is shown on the bottom
// line, not written to the console.
void station_menu_save_volume(CorvaneRadio_State *state);
