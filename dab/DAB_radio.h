// SPDX-License-Identifier: GPL-3.0-or-later
// The radio engine: what every front-end does with the chip, free of any
// screen. The terminal radio, the diagnostics program and the service program
// stand on it; each puts the engine's outcomes and facts into its own words
// (screen lines, console lines, JSON). Nothing here prints, nothing here
// allocates, and every record is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "DABUtils.h"
#include "Si468x.h"
#include "Si468x_commands.h"

constexpr uint8_t DAB_RADIO_MAX_VOLUME = AUDIO_ANALOG_VOLUME_MAX;
// Nothing tuned yet.
constexpr uint8_t DAB_RADIO_NO_FREQ_INDEX = 255;
// One more poll period after the ensemble is acquired, before the service
// starts.
constexpr uint32_t DAB_RADIO_ACQUIRED_TO_START_MS = DAB_ACQUIRE_POLL_WAIT_MS;
// The reception status is read at most this often while a station plays.
constexpr uint32_t DAB_RADIO_RECEPTION_EVERY_MS = 2000;

// Room for a broadcast text decoded to UTF-8 (up to 4 bytes a character).
constexpr std::size_t DAB_RADIO_TEXT_SIZE = SI468X_PAYLOAD_SIZE * 4 + 1;
// Room for a label decoded to UTF-8.
constexpr std::size_t DAB_RADIO_LABEL_SIZE = DAB_LABEL_CHARS * 4 + 1;

// ---------------------------------------------------------------------------
// The board link's own failures, apart from the chip's

// True when a transfer of the board link itself failed (the SPI ioctl on the
// kernel path) since the last DAB_link_clear_failure, as opposed to a chip
// that answered badly; the errno of that transfer goes to `error` (when not
// null). The engine's calls clear it when they start.
bool DAB_link_failed(int *error);
void DAB_link_clear_failure(void);

// ---------------------------------------------------------------------------
// The station database: walks in menu order (ensemble by ensemble, service by
// service), never past the database's room.

// The number of ensembles to walk: the count, never more than the room.
uint8_t DAB_ensemble_count(const DAB_ScanResults *results);
uint16_t DAB_service_count(const DAB_ScanResults *results);
// The k-th service in menu order: its ensemble and service index. False past
// the last one.
bool DAB_service_at(const DAB_ScanResults *results, uint16_t k, uint8_t *ensemble,
                    uint8_t *service);
// The last service with this identifier in menu order, and its position k
// (any of the three outputs may be null). False when there is none. An
// identifier of 0 is looked up like any other: a front-end for which 0 means
// "none asked for" does not call this with it.
bool DAB_find_service(const DAB_ScanResults *results, uint32_t service_id, uint8_t *ensemble,
                      uint8_t *service, uint16_t *k);

// ---------------------------------------------------------------------------
// Playing a service

enum DAB_PlayOutcome : uint8_t {
    DAB_PLAY_PLAYING,        // started: `service` and `component` say what plays
    DAB_PLAY_NO_AUDIO,       // a data service: `service` names it
    DAB_PLAY_TUNE_FAILED,    // no ensemble on the frequency
    DAB_PLAY_STATION_FAILED, // the start was refused
    DAB_PLAY_LINK_FAILED,    // the board link's transfer failed (`link_errno`)
};

struct DAB_Play {
    DAB_PlayOutcome outcome;
    uint8_t freq_index;
    Si468x_Service service;
    Si468x_Component component;
    int link_errno;
};

// ---------------------------------------------------------------------------
// The engine record: one for the whole run, zeroed by DAB_radio_init.

struct DAB_Radio {
    DAB_ScanResults stations;
    uint8_t volume;
    uint8_t last_tuned_index;
    // The station list did not read back whole and could not be kept, or
    // could not be read at all: no save may replace it.
    uint8_t list_held;
    // What plays (valid while `playing` is 1).
    uint8_t playing;
    DAB_Play play;
    Si468x_DigradStatus reception;
    uint8_t reception_valid;
    uint32_t reception_read_ms; // the engine clock's time of the last read
    Si468x_ServiceData data;
    // The latest broadcast text, UTF-8, zero-terminated; empty for none. It
    // stays through a station change until the next text arrives (the
    // terminal shows it until then); a front-end that wants it gone with the
    // station empties it.
    char text[DAB_RADIO_TEXT_SIZE];
    uint8_t status_reply[RD_REPLY_LENGTH];
};

void DAB_radio_init(DAB_Radio *radio);

// A chip an earlier run left playing is taken over without a reset, and its
// volume read (a failed read gives 0). The status read goes to
// `status_reply`. True when taken over.
bool DAB_radio_take_over(DAB_Radio *radio);

// Tunes if the ensemble's frequency is not the one tuned, waits for the
// ensemble, decodes the service and its first component, refuses a data
// service, starts it. The outcome goes to `play` and, when playing, to the
// record (`playing`, `play`); any other outcome clears `playing`. The last
// reception status read goes to `reception`. An ensemble index past the
// database's room is a tune failure, with nothing sent. A failure during
// which a link transfer failed is DAB_PLAY_LINK_FAILED, whatever step it hit.
DAB_PlayOutcome DAB_radio_play(DAB_Radio *radio, uint8_t ensemble, uint8_t service, DAB_Play *play);

// ---------------------------------------------------------------------------
// The volume: set on the chip, clamped to 0..63, saved in the list.

enum DAB_VolumeOutcome : uint8_t {
    DAB_VOLUME_SAVED,     // set and saved
    DAB_VOLUME_NOT_SAVED, // set, but the list was not written (`save_status`)
    DAB_VOLUME_NOT_SET,   // the chip did not take it (link failure: `link_errno`)
    DAB_VOLUME_SET,       // set; no list path was given, so nothing to save
};

struct DAB_Volume {
    DAB_VolumeOutcome outcome;
    uint8_t volume;  // the volume in force afterwards
    uint8_t clamped; // the volume asked for was outside 0..63
    int16_t save_status;
    int32_t save_location; // DABUtils_ErrorCode of the failed save
    int save_errno;
    int link_errno;
};

// The volume asked for is clamped, set on the chip and, with a `list_path`,
// the list saved with it (also when it did not change: the file always holds
// the volume in force). A held list is not saved (DAB_VOLUME_NOT_SAVED at
// location 11). Nothing is printed: the failure line a save would write is
// swallowed, and its status and location are in the result. When the link
// fails the volume stays what it was and nothing is saved, so the file and
// the chip do not drift apart.
DAB_VolumeOutcome DAB_radio_set_volume(DAB_Radio *radio, int volume, const char *list_path,
                                       DAB_Volume *result);

// ---------------------------------------------------------------------------
// The data-service poll: one packet fetch, as the key loop makes it once per
// DAB_DATA_POLL_MS.

enum DAB_PollEvent : uint8_t {
    DAB_POLL_NOTHING,
    DAB_POLL_TEXT_CHANGED,        // `text` holds the new text (UTF-8)
    DAB_POLL_NOW_PLAYING_CHANGED, // artist, title and the rest changed
    DAB_POLL_LINK_FAILED,         // the fetch's transfer failed (DAB_link_failed)
    DAB_POLL_TEXT_REPEATED,       // a text packet with the text already held
};

// One packet fetch into `data`. A packet of at least one text character
// (header, a character, trailer) is a text; the text is decoded to UTF-8
// into `text` by DAB_radio_text_to_utf8.
DAB_PollEvent DAB_radio_poll(DAB_Radio *radio);

// A broadcast text packet's characters as UTF-8 (zero-terminated, never more
// than `room` bytes, never a character split), whatever the process locale.
// The one place that knows the packet's character set and controls.
void DAB_radio_text_to_utf8(const char *text, uint16_t length, char *utf8, std::size_t room);

// The reception status, read while a station plays when
// DAB_RADIO_RECEPTION_EVERY_MS have passed since the last read (`now_ms` on
// the caller's clock; the first read comes at once). True when read now;
// a failed read clears `reception_valid`.
bool DAB_radio_read_reception(DAB_Radio *radio, uint32_t now_ms);

// ---------------------------------------------------------------------------
// The station set-up: load, or scan and save.

enum DAB_ListLoad : uint8_t {
    DAB_LIST_LOADED,       // read back whole
    DAB_LIST_MISSING,      // nothing at the path: a first start
    DAB_LIST_DAMAGED_KEPT, // not whole; loaded as far as whole records go, kept as `kept_path`
    DAB_LIST_DAMAGED_HELD, // not whole and not kept: no save replaces it
    DAB_LIST_NOT_REGULAR,  // something else stands there (`kind`): nothing read or saved
    DAB_LIST_UNREADABLE,   // exists but cannot be read (`error`): nothing saved over it
};

struct DAB_ListLoadFacts {
    DAB_ListLoad outcome;
    DAB_ListCheck check; // where a damaged list first was not whole
    DAB_PathKind kind;   // what stands at the path
    int error;           // the errno of an unreadable list
    char kept_path[DAB_PATH_ROOM];
};

// What stands at the path, without reading it: true for a regular file (or a
// link to one) that opens; otherwise `facts` says DAB_LIST_MISSING (ENOENT
// only), DAB_LIST_NOT_REGULAR or DAB_LIST_UNREADABLE.
bool DAB_list_present(const char *path, DAB_ListLoadFacts *facts);
// Loads the list into `stations` and `volume`. The reader's own line
// ("Reading station list: ...") and failure lines go to the console as they
// always have; the engine adds none. An unreadable list or a damaged one that
// could not be kept sets `list_held`.
DAB_ListLoad DAB_radio_load_list(DAB_Radio *radio, const char *path, DAB_ListLoadFacts *facts);
// 0, or negative when not saved (held: -6 at location 11, or the write
// failed), with the failure line on the console.
int16_t DAB_radio_save_list(const DAB_Radio *radio, const char *path);

// The scan as steps the caller drives, one frequency a step, so that a caller
// can report progress and go on serving between them.
struct DAB_ScanSteps {
    DAB_ScanResults *results;
    uint32_t frequencies[SI468X_MAX_FREQ_LIST];
    uint8_t count;
    uint8_t next; // the next frequency index to scan
    int16_t last; // the last step's outcome
    uint8_t done; // every frequency scanned, or the database full
    // Print each frequency's signal bar and reception lines as the full
    // scan's console shows them (DAB_do_full_scan); 0 prints nothing.
    uint8_t console;
};

// Reads the chip's frequency list (at most SI468X_MAX_FREQ_LIST), then
// DAB_scan_start with it. Returns 0, or the list read's failure.
int16_t DAB_scan_begin(DAB_ScanSteps *steps, DAB_ScanResults *results);
// Sets the receiver up for the scan of these frequencies and empties the
// database (the scan date stays until a scan finds one). Returns 0, or the
// property write's failure at location 10.
int16_t DAB_scan_start(DAB_ScanSteps *steps, DAB_ScanResults *results, const uint32_t *frequencies,
                       uint8_t count);
// Scans the next frequency; returns 1 while more remain, 0 when done. The
// progress is `next` of `count`, with the ensembles and services found so
// far in the database.
int16_t DAB_scan_step(DAB_ScanSteps *steps);
