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
int16_t DABUtils_min(int16_t a, int16_t b);
int16_t DABUtils_failure(int16_t status, int32_t location);

int16_t DAB_set_properties_max_stations(void);
int16_t DAB_set_properties_output(void);
int16_t DAB_set_properties_volume(uint8_t volume);

// ---------------------------------------------------------------------------
// Band scan

int16_t DAB_do_freq_scan(Si468x_ServiceList *list, uint8_t index);
int16_t DAB_do_full_scan(DAB_ScanResults *results, const uint32_t *frequencies, uint8_t count);

// ---------------------------------------------------------------------------
// Station list file

int16_t DAB_save_scan_results(const DAB_ScanResults *results, const char *path, uint8_t volume);
int16_t DAB_read_scan_results(DAB_ScanResults *results, const char *path, uint8_t *volume);

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
// Data logging files

int16_t DAB_save_logged_data(const Si468x_ServiceData *data, const char *path);
int16_t DAB_save_component_data(const Si468x_ComponentInfo *info, const char *path);
