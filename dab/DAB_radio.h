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

// True when the most recent failure of a chip exchange was the board link's
// transfer itself (the SPI ioctl failed), not the chip's answer; the errno
// of that transfer goes to `error`. Cleared by DAB_link_clear_failure.
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
// The last service with this identifier in menu order, and its position k.
// False when there is none.
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
    // The latest broadcast text, UTF-8, zero-terminated; empty for none.
    char text[DAB_RADIO_TEXT_SIZE];
    uint8_t status_reply[RD_REPLY_LENGTH];
};

void DAB_radio_init(DAB_Radio *radio);

// A chip an earlier run left playing is taken over without a reset, and its
// volume read. True when taken over.
bool DAB_radio_take_over(DAB_Radio *radio);

// Tunes if the ensemble's frequency is not the one tuned, waits for the
// ensemble, decodes the service and its first component, refuses a data
// service, starts it. The outcome goes to `play` and, when playing, to the
// record.
DAB_PlayOutcome DAB_radio_play(DAB_Radio *radio, uint8_t ensemble, uint8_t service, DAB_Play *play);

// ---------------------------------------------------------------------------
// The volume: set on the chip, clamped to 0..63, saved in the list.

enum DAB_VolumeOutcome : uint8_t {
    DAB_VOLUME_SAVED,     // set and saved
    DAB_VOLUME_NOT_SAVED, // set, but the list was not written (`save_status`)
    DAB_VOLUME_NOT_SET,   // the chip did not take it (link failure: `link_errno`)
};

struct DAB_Volume {
    DAB_VolumeOutcome outcome;
    uint8_t volume;
    int16_t save_status;
    int save_errno;
    int link_errno;
};

DAB_VolumeOutcome DAB_radio_set_volume(DAB_Radio *radio, int volume, const char *list_path,
                                       DAB_Volume *result);

// ---------------------------------------------------------------------------
// The data-service poll: one packet fetch, as the key loop makes it once per
// DAB_DATA_POLL_MS.

enum DAB_PollEvent : uint8_t {
    DAB_POLL_NOTHING,
    DAB_POLL_TEXT_CHANGED,        // `text` holds the new text (UTF-8)
    DAB_POLL_NOW_PLAYING_CHANGED, // artist, title and the rest changed
    DAB_POLL_LINK_FAILED,         // the fetch's transfer failed
};

DAB_PollEvent DAB_radio_poll(DAB_Radio *radio);

// The reception status, read when DAB_RADIO_RECEPTION_EVERY_MS have passed
// since the last read (`now_ms` on the caller's clock). True when read now.
bool DAB_radio_read_reception(DAB_Radio *radio, uint32_t now_ms);

// ---------------------------------------------------------------------------
// The station set-up: load, or scan and save.

enum DAB_ListLoad : uint8_t {
    DAB_LIST_LOADED,          // read back whole
    DAB_LIST_MISSING,         // nothing at the path: a first start
    DAB_LIST_DAMAGED_KEPT,    // not whole; loaded as far as whole records go, kept as `kept_path`
    DAB_LIST_DAMAGED_HELD,    // not whole and not kept: no save replaces it
    DAB_LIST_NOT_REGULAR,     // something else stands there (`kind`): nothing read or saved
    DAB_LIST_UNREADABLE,      // exists but cannot be read (`error`): nothing saved over it
};

struct DAB_ListLoadFacts {
    DAB_ListLoad outcome;
    DAB_ListCheck check;
    DAB_PathKind kind;
    int error;
    char kept_path[DAB_PATH_ROOM];
};

DAB_ListLoad DAB_radio_load_list(DAB_Radio *radio, const char *path, DAB_ListLoadFacts *facts);
// 0, or negative when not saved (held, or the write failed).
int16_t DAB_radio_save_list(const DAB_Radio *radio, const char *path);

// The scan as steps the caller drives, one frequency a step, so that a caller
// can report progress and go on serving between them.
struct DAB_ScanSteps {
    DAB_ScanResults *results;
    uint32_t frequencies[SI468X_MAX_FREQ_LIST];
    uint8_t count;
    uint8_t next;   // the next frequency index to scan
    int16_t last;   // the last step's outcome
    uint8_t done;
};

// Reads the chip's frequency list and sets the receiver up for the scan.
int16_t DAB_scan_begin(DAB_ScanSteps *steps, DAB_ScanResults *results);
// Scans the next frequency; returns 1 while more remain, 0 when done.
int16_t DAB_scan_step(DAB_ScanSteps *steps);
