// SPDX-License-Identifier: GPL-3.0-or-later
// DAB station management: receiver settings, band scan and station database,
// the station list file, the application-type search and data log files.
//
// Statuses are signed 16-bit: 0 success, negative failure; the searches return
// 1 for found and 0 for not found. Every failure goes through DABUtils_failure,
// which records a location code in DABUtils_ErrorCode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "DAB_charset.h"
#include "Si468x.h"

// Location code of the most recent station-management failure.
extern int32_t DABUtils_ErrorCode;

constexpr uint8_t DAB_MAX_ENSEMBLES = 12;
constexpr uint8_t DAB_MAX_MATCHES = 5;
// Room for the longest path the system takes, its terminator and a suffix
// such as a temporary or kept file's.
constexpr std::size_t DAB_PATH_ROOM = 4096 + 64;

// One ensemble of the database: its service list, with freq_index holding the
// index (in the chip's frequency list) of the frequency it was found on.
using DAB_Ensemble = Si468x_ServiceList;

// The station database: plain data, no pointers.
struct DAB_ScanResults {
    uint8_t num_ensembles;
    Si468x_EnsembleTime scan_date;
    DAB_Ensemble ensembles[DAB_MAX_ENSEMBLES];
};

// ---------------------------------------------------------------------------
// Receiver settings and error reporting

void DABUtils_output_status(const char *text);
// While a full-screen interface owns the terminal nothing may go to standard
// output: the caller hands a buffer, and the console text of station
// management collects there (zero-terminated, cut at the buffer's end)
// instead, until it is handed back with nullptr.
void DABUtils_hold_output(char *buffer, std::size_t room);
int16_t DABUtils_min(int16_t a, int16_t b);
int16_t DABUtils_failure(int16_t status, int32_t location);

// DAB_set_properties_max_stations writes DAB_RECEPTION_PROPERTIES properties
// (front end, then the thresholds and time limits of a valid and acquired
// ensemble), among them DAB_VALID_RSSI_THRESHOLD as DAB_SCAN_RSSI_THRESHOLD:
// the level above which the chip counts a signal as valid, on which the band
// scan's acceptance rests. DAB_set_properties_output writes
// DAB_OUTPUT_PROPERTIES, DAB_set_properties_volume one.
constexpr uint8_t DAB_RECEPTION_PROPERTIES = 8;
constexpr uint8_t DAB_OUTPUT_PROPERTIES = 2;
constexpr uint16_t DAB_SCAN_RSSI_THRESHOLD = 12;

int16_t DAB_set_properties_max_stations(void);
int16_t DAB_set_properties_output(void);
int16_t DAB_set_properties_volume(uint8_t volume);

// ---------------------------------------------------------------------------
// Chip bring-up: reset, power-up, ROM patch and DAB image upload, boot and the
// receiver properties, attempt after attempt. The radio and the diagnostics
// program run this one sequence; what differs between them (the number of
// attempts, where the images come from, what is printed, which failures end
// the bring-up) is in the caller's record.

// The waits of an attempt: between the two uploads, before the boot, and with
// the chip held in reset and the bus released after a failed upload or boot,
// so that the next attempt starts from a settled chip.
constexpr uint32_t DAB_BRINGUP_PATCH_TO_IMAGE_MS = 50;
constexpr uint32_t DAB_BRINGUP_IMAGE_TO_BOOT_MS = 100;
constexpr uint32_t DAB_BRINGUP_RETRY_WAIT_MS = 2000;

// Where the two images come from. The ROM patch comes from its file with
// DAB_FIRMWARE_FILES, from the embedded image otherwise.
enum DAB_FirmwareKind : uint8_t {
    DAB_FIRMWARE_EMBEDDED, // both images embedded in the program
    DAB_FIRMWARE_FILES,    // both images read from files
    DAB_FIRMWARE_FLASH,    // the DAB image loaded from the board's flash
};

// The points of an attempt at which the caller's report is called.
enum DAB_BringupStep : uint8_t {
    DAB_BRINGUP_RESETTING,       // an attempt starts
    DAB_BRINGUP_BUS_FAILED,      // the bus could not be claimed
    DAB_BRINGUP_NO_CTS,          // no clear-to-send after a reset (not the first: see NO_CHIP)
    DAB_BRINGUP_POWER_UP_FAILED, // POWER_UP failed
    DAB_BRINGUP_POWERED_UP,      // POWER_UP done, the upload follows
    DAB_BRINGUP_UPLOADING_PATCH, // the ROM patch upload starts
    DAB_BRINGUP_PATCH_FAILED,    // the ROM patch upload failed
    DAB_BRINGUP_UPLOADING_IMAGE, // the DAB image upload starts
    DAB_BRINGUP_IMAGE_FAILED,    // the DAB image upload failed
    DAB_BRINGUP_BOOT_FAILED,     // BOOT failed
    DAB_BRINGUP_ABANDONED,       // the chip was held in reset after failed_step
    DAB_BRINGUP_BOOTED,          // BOOT done, the receiver properties follow
    DAB_BRINGUP_PROPERTIES_FAILED,
};

// What the report wants after a failure; after the other steps it is not read.
enum DAB_BringupGo : uint8_t {
    // Go on with the attempt as if the step had not failed (a failed bus,
    // power-up or property write).
    DAB_BRINGUP_GO_ON,
    // The next attempt; after a failed upload or boot the chip is first held
    // in reset for DAB_BRINGUP_RETRY_WAIT_MS. After a failed upload or boot
    // GO_ON counts as RETRY, after failed properties RETRY counts as STOP.
    DAB_BRINGUP_RETRY,
    // No further attempt: the bring-up ends at once as DAB_BRINGUP_STOPPED.
    DAB_BRINGUP_STOP,
};

enum DAB_BringupResult : uint8_t {
    DAB_BRINGUP_UP,      // booted, receiver properties written
    DAB_BRINGUP_NO_CHIP, // silence right after the first reset: no chip at all
    DAB_BRINGUP_GAVE_UP, // every attempt failed
    DAB_BRINGUP_STOPPED, // the report stopped it
};

struct DAB_Bringup;
using DAB_BringupReport = DAB_BringupGo (*)(DAB_Bringup *bringup, DAB_BringupStep step);

// The caller's record: no allocation, the paths and the status reply buffer
// are the caller's.
struct DAB_Bringup {
    // Set by the caller.
    uint16_t attempts;
    DAB_FirmwareKind firmware;
    const char *patch_path;   // DAB_FIRMWARE_FILES
    const char *image_path;   // DAB_FIRMWARE_FILES
    uint32_t flash_address;   // DAB_FIRMWARE_FLASH
    uint8_t *status_reply;    // the status read after each reset (RD_REPLY_LENGTH bytes)
    DAB_BringupReport report; // nullptr: nothing reported, every failure retried
    void *context;            // the caller's, for the report
    // Set by the sequence before each report.
    uint16_t attempt;            // from 0
    int16_t status;              // the failed step's status, or the reset's status read
    DAB_BringupStep failed_step; // with DAB_BRINGUP_ABANDONED
};

// The chip information into `info`: GET_PART_INFO, GET_SYS_STATE and, with
// `with_func_info`, GET_FUNC_INFO, then the record printed. With
// `stop_at_failure` the first failed read ends it, unprinted; otherwise every
// read is made and the record printed whatever they returned. Returns 0, or
// the driver's status of the first failed read, which `failed_read` (when not
// null) names: "part info", "system state" or "function info".
int16_t DAB_read_chip_info(Si468x_ChipInfo *info, bool with_func_info, bool stop_at_failure,
                           const char **failed_read);

// The running-chip test: one status read, no reset, so that a chip an earlier
// run left playing keeps playing. True when the DAB image runs with no error
// bit (STATUS3 exactly the application state); the reply goes to
// `status_reply` (RD_REPLY_LENGTH bytes).
bool DAB_chip_running(uint8_t *status_reply);

// Runs up to `attempts` attempts: reset, the status read (silence after the
// first reset is DAB_BRINGUP_NO_CHIP, after a later one the next attempt),
// POWER_UP, LOAD_INIT and the ROM patch, DAB_BRINGUP_PATCH_TO_IMAGE_MS,
// LOAD_INIT and the DAB image, DAB_BRINGUP_IMAGE_TO_BOOT_MS, BOOT; once booted,
// DAB_set_properties_max_stations and DAB_set_properties_output.
DAB_BringupResult DAB_bringup(DAB_Bringup *bringup);

// ---------------------------------------------------------------------------
// Tuning for an ensemble: the radio's playback and the diagnostics program's
// tune wait the same way

// The chip needs a moment after the tune before its reception status means
// anything; then acquisition is polled with a fixed wait: ten polls 200 ms
// apart give the ensemble two seconds.
constexpr uint32_t DAB_AFTER_TUNE_MS = 500;
constexpr uint8_t DAB_ACQUIRE_POLLS = 10;
constexpr uint32_t DAB_ACQUIRE_POLL_WAIT_MS = 200;

// DAB_TUNE_FREQ with the driver's wait for tune complete, then
// DAB_AFTER_TUNE_MS, also after a failed tune (the chip may still complete
// it). Returns 0, or the tune's failure at location 17.
int16_t DAB_tune_for_ensemble(uint8_t index);
// Up to DAB_ACQUIRE_POLLS reception status reads, DAB_ACQUIRE_POLL_WAIT_MS
// after each one that does not show the ensemble acquired (the last one
// too). `status` holds the last read that succeeded. Returns 1 acquired,
// 0 not acquired, or the last read's failure at location 117 when it failed.
int16_t DAB_await_ensemble(Si468x_DigradStatus *status);

// ---------------------------------------------------------------------------
// Band scan

// One frequency: an ensemble is taken only with a valid signal and a FIC
// quality of at least DAB_MIN_FIC_QUALITY; its service list once stable,
// polled up to DAB_LIST_POLLS times DAB_LIST_POLL_WAIT_MS apart. The full
// scan reads the ensemble's date DAB_TIME_WAIT_MS after its list.
constexpr uint8_t DAB_MIN_FIC_QUALITY = 30;
constexpr int DAB_LIST_POLLS = 50;
constexpr uint32_t DAB_LIST_POLL_WAIT_MS = 200;
constexpr uint32_t DAB_TIME_WAIT_MS = 1000;

// One frequency, with its signal bar and reception lines on the console.
int16_t DAB_do_freq_scan(Si468x_ServiceList *list, uint8_t index);
// The same, printing those lines only with `console`: the same exchange with
// the chip either way.
int16_t DAB_scan_frequency(Si468x_ServiceList *list, uint8_t index, bool console);
int16_t DAB_do_full_scan(DAB_ScanResults *results, const uint32_t *frequencies, uint8_t count);

// ---------------------------------------------------------------------------
// Station list file

int16_t DAB_save_scan_results(const DAB_ScanResults *results, const char *path, uint8_t volume);
int16_t DAB_read_scan_results(DAB_ScanResults *results, const char *path, uint8_t *volume);

// What was first wrong with a station list that did not read back whole.
enum DAB_ListFault : uint8_t {
    DAB_LIST_WHOLE,        // exactly what the writer writes
    DAB_LIST_BAD_LINE,     // a line not of its form, or not the line its place calls for
    DAB_LIST_OUT_OF_RANGE, // a value beyond what its field or the database holds
    DAB_LIST_EARLY_END,    // the file ends before the lines its counts call for
    DAB_LIST_EXTRA_LINES,  // more after the last line its counts call for
};

// How a station list read back. A list that is not whole is still read as far
// as it goes; `line` (from 1) is where it first was not whole.
struct DAB_ListCheck {
    uint8_t whole;
    DAB_ListFault fault;
    uint32_t line;
};

// DAB_read_scan_results that also checks the file, the same open file,
// against what the writer writes. Both readers take a volume outside 0-63 as
// the nearest bound, and leave the caller's volume when the volume line cannot
// be read. A null `check` skips the check.
int16_t DAB_read_station_list(DAB_ScanResults *results, const char *path, uint8_t *volume,
                              DAB_ListCheck *check);
// Checks the file at path without storing anything; 0, or -6 at location 15
// when it cannot be opened.
int16_t DAB_check_station_list(const char *path, DAB_ListCheck *check);
const char *DAB_list_fault_text(DAB_ListFault fault);

// Keeps the file at path, byte for byte, beside it as "<path>.damaged-N" with
// the first N not taken, unless a copy of the same bytes is already kept
// under such a name. The name used goes to kept_path. Returns 0, or -6 at
// location 16 (the file cannot be opened), 116 (nor looked at), 216 (the name
// does not fit kept_path), 316 (the copy cannot be created), 416 (all 999
// names taken) or 516 (the copy not written in full; it is removed).
int16_t DAB_keep_station_list(const char *path, char *kept_path, std::size_t room);

// ---------------------------------------------------------------------------
// Files: only regular ones are opened, and no open can block

// What stands at a path (a link is followed).
enum DAB_PathKind : uint8_t {
    DAB_PATH_NONE, // nothing there
    DAB_PATH_REGULAR,
    DAB_PATH_DIRECTORY,
    DAB_PATH_FIFO,
    DAB_PATH_SOCKET,
    DAB_PATH_CHAR_DEVICE,
    DAB_PATH_BLOCK_DEVICE,
    DAB_PATH_OTHER, // anything else, or a path that cannot be looked at
};

DAB_PathKind DAB_path_kind(const char *path);
// "a directory", "a named pipe (FIFO)", ... for messages.
const char *DAB_path_kind_name(DAB_PathKind kind);
// open(2) of path with the given flags (and mode 0666 with O_CREAT) when it is
// a regular file or, with O_CREAT, missing; never blocks. Returns the
// descriptor (close-on-exec, blocking) or -1; kind says what stands there.
int DAB_open_regular(const char *path, int flags, DAB_PathKind *kind);
// A log file opened for appending ("a"): a regular file, created when
// missing; nullptr when it cannot be opened or something else is there.
std::FILE *DAB_open_log(const char *path);
// Closes a log file; false when anything written to it since it was opened
// did not reach it (a failed write, flush or close).
bool DAB_close_log(std::FILE *file);
// Brings the directory entry of path to the disk (after a create or rename);
// a directory that cannot be opened or synced leaves that to the file system.
void DAB_sync_directory_of(const char *path);

// ---------------------------------------------------------------------------
// Application-type search

int16_t DAB_component_has_application_type(uint32_t service_id, uint32_t component_id,
                                           uint16_t ua_type, uint8_t *entry_index);
int16_t DAB_ensemble_has_application_type(Si468x_DigradStatus *status, uint8_t freq_index,
                                          uint16_t ua_type, uint32_t service_ids[DAB_MAX_MATCHES],
                                          uint32_t component_ids[DAB_MAX_MATCHES], uint8_t *count);
int16_t DAB_scan_application_type(uint8_t freq_indexes[DAB_MAX_MATCHES],
                                  uint32_t service_ids[DAB_MAX_MATCHES],
                                  uint32_t component_ids[DAB_MAX_MATCHES], uint16_t ua_type,
                                  uint8_t *count, uint8_t num_frequencies);

// ---------------------------------------------------------------------------
// Data services

// The pace of the packet fetch (Si468x_get_digital_service_data): the radio's
// key loop fetches once per key time-out of this length, and the diagnostics
// program's log polls at the same pace, so the chip sees the same load.
constexpr uint32_t DAB_DATA_POLL_MS = 100;

// ---------------------------------------------------------------------------
// Data logging files

int16_t DAB_save_logged_data(const Si468x_ServiceData *data, const char *path);
int16_t DAB_save_component_data(const Si468x_ComponentInfo *info, const char *path);
