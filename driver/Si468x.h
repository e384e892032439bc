// SPDX-License-Identifier: GPL-3.0-or-later
// Si468x DAB/FM receiver driver: the chip's host command protocol over the
// board link, and every chip command the radio uses.
//
// Every operation returns a signed 16-bit status: 0 success, negative failure
// (-1 link or overflow error, -2 command rejected or non-recoverable error,
// -3 time-out, -4 unexpected chip state or length, -5 not in the boot-loader
// state after POWER_UP, -6 host-side failure or bad argument). Each failure
// also leaves a location code in Si468x_ErrorCode.
//
// Reply buffers: position 0 is the filler byte clocked in while RD_REPLY goes
// out, positions 1..4 are STATUS0..STATUS3, position k >= 5 is RESP(k-1).
//
// Records are owned by the caller, zeroed by it, and left untouched when the
// exchange that would fill them fails.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Records

struct Si468x_ChipInfo {
    uint8_t chip_rev;
    uint8_t rom_id;
    uint8_t image;
    uint16_t part;
    uint8_t rev_ext;
    uint8_t rev_branch;
    uint8_t rev_int;
    uint8_t no_svn;
    uint8_t mixed_rev;
    uint8_t local_mod;
    uint8_t location;
    uint32_t svn_id;
};

struct Si468x_Property {
    uint16_t id;
    uint16_t value;
};

struct Si468x_DigradStatus {
    uint8_t audio_was_muted;
    uint8_t fic_errors_encountered;
    uint8_t acq_state_changed;
    uint8_t below_rssi_thresh;
    uint8_t above_rssi_thresh;
    uint8_t hardmute;
    uint8_t fic_errors;
    uint8_t ensemble_acquired;
    uint8_t rssi_valid;
    uint8_t rssi;
    uint8_t snr;
    uint8_t fic_quality;
    uint8_t cnr;
    uint16_t fib_error_count;
    uint32_t tune_freq;
    uint8_t tune_index;
    uint8_t fft_offset;
    uint16_t antenna_tuning_cap;
    uint16_t cu_level;
    uint8_t fast_detect;
};

struct Si468x_EventStatus {
    uint8_t reconfig_event;
    uint8_t reconfig_warning;
    uint8_t new_announcement_info;
    uint8_t new_freq_info;
    uint8_t new_service_list;
    uint8_t freq_info_available;
    uint8_t service_list_available;
    uint16_t service_list_version;
};

struct Si468x_EnsembleTime {
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
};

// Service and component labels: 16 bytes as broadcast, not terminated.
constexpr uint8_t SI468X_LABEL_LENGTH = 16;

// The acquired ensemble's identity: its id and its label, 16 bytes in the
// ensemble's character set (EBU Latin on the air), not terminated.
struct Si468x_EnsembleInfo {
    uint16_t ensemble_id;
    uint8_t label[SI468X_LABEL_LENGTH];
    uint16_t abbreviation_mask; // bit 15 the label's first character
};

constexpr uint16_t SI468X_SERVICE_DATA_SIZE = 2048;

// One ensemble's service list as the chip sends it: header fields and the raw
// service records back to back. No pointers, so it copies as a whole.
struct Si468x_ServiceList {
    uint16_t list_version;
    uint8_t freq_index;
    uint8_t num_services;
    uint16_t data_length;
    uint8_t service_data[SI468X_SERVICE_DATA_SIZE];
};

constexpr uint8_t SI468X_MAX_COMPONENTS = 15;
// Values of pd_flag, which START_DIGITAL_SERVICE also takes as its service
// type.
constexpr uint8_t SI468X_PD_AUDIO = 0;
constexpr uint8_t SI468X_PD_DATA = 1;
// Raw service record: a fixed header (id, flags, charset, label), then one
// fixed-size record per component.
constexpr uint16_t SI468X_SERVICE_HEADER_LENGTH = 24;
constexpr uint16_t SI468X_COMPONENT_LENGTH = 4;

struct Si468x_Service {
    uint32_t service_id;
    uint32_t service_ref;
    uint8_t country_id;
    uint8_t ecc;
    uint8_t pd_flag;
    uint8_t pty;
    uint8_t linking_info;
    uint8_t num_components;
    uint8_t ca_id;
    uint8_t local;
    uint8_t si_charset;
    char label[SI468X_LABEL_LENGTH];
    uint8_t component_data[SI468X_MAX_COMPONENTS * SI468X_COMPONENT_LENGTH];
};

struct Si468x_Component {
    uint32_t comp_id;
    uint8_t subch_id;
    uint8_t tmid;
    uint8_t fidc_id;
    uint16_t sc_id;
    uint8_t dg_flag;
    uint8_t ca_flag;
    uint8_t ps;
    uint8_t ascty_dscty;
    uint8_t mua_info_valid;
};

struct Si468x_ComponentInfo {
    uint8_t global_id;
    uint8_t language;
    uint8_t charset_id;
    char label[SI468X_LABEL_LENGTH];
    uint16_t char_abbrev;
    uint8_t num_ua;
    uint8_t ua_length;
    uint8_t ua_area[256];
};

struct Si468x_UserApplication {
    uint16_t ua_type;
    uint8_t ua_data_length;
    uint8_t ua_data[255];
};

constexpr uint16_t SI468X_PAYLOAD_SIZE = 4096;

struct Si468x_ServiceData {
    uint8_t overflow_int;
    uint8_t package_int;
    uint8_t buffer_count;
    uint8_t srv_state;
    uint8_t data_src;
    uint8_t dscty;
    uint32_t service_id;
    uint32_t comp_id;
    uint16_t byte_count;
    uint16_t segment_number;
    uint16_t number_segments;
    uint8_t payload[SI468X_PAYLOAD_SIZE];
    char text[SI468X_PAYLOAD_SIZE];
};

// ---------------------------------------------------------------------------
// Command transport, error codes, link wrappers, reset (transport)

// Location code of the most recent driver failure; never cleared on success.
extern int32_t Si468x_ErrorCode;

int16_t Si468x_failure(int16_t status, int32_t location);
int16_t Si468x_min(int16_t a, int16_t b);
void Si468x_clear_array(uint8_t *buffer, uint16_t count);
void Si468x_byte_array_copy(uint8_t *destination, const uint8_t *source, uint16_t count);

int16_t Si468x_send_cmd(uint8_t *command, uint8_t *reply, uint16_t command_length,
                        uint16_t reply_length);
int16_t Si468x_send_cmd_simple(uint8_t *buffer, uint16_t length);
int16_t Si468x_read_reply(uint8_t *buffer, uint16_t length);
int16_t Si468x_rd_reply(uint8_t *buffer);
int16_t Si468x_check_status_bits(const uint8_t *reply);

// Opens the board link and takes the chip for this process (the link's lock,
// Si468x_SPI.h). -6 at location 1 when the link cannot be opened; -6 at
// location 101 when another program holds the chip, and nothing was touched:
// Si468x_bus_held then names it.
int16_t Si468x_bus_init(void);

// The program that held the chip when Si468x_bus_init was refused it.
constexpr uint8_t SI468X_HOLDER_NAME_SIZE = 16;
struct Si468x_BusHolder {
    int32_t pid;                        // 0: could not be found
    char name[SI468X_HOLDER_NAME_SIZE]; // empty: could not be found
};
// 1 when the last Si468x_bus_init found the chip held by another program,
// with `holder` filled; 0 otherwise (holder zeroed).
uint8_t Si468x_bus_held(Si468x_BusHolder *holder);
// The refusal as every program words it: "The Si468x is in use by another
// program (<name>, pid <n>). Exit.", or without the parenthesis when the
// holder could not be found. Truncated to `size` with its NUL; returns the
// length of the whole text.
uint16_t Si468x_bus_held_text(const Si468x_BusHolder *holder, char *text, uint16_t size);
int16_t Si468x_bus_enable(void);
void Si468x_bus_disable(void);
void Si468x_reset(void);
void Si468x_power_down(void);

// ---------------------------------------------------------------------------
// Power-up, firmware upload and boot

int16_t Si468x_power_up(void);
int16_t Si468x_load_init(void);
int16_t Si468x_load_firmware_static(const uint8_t *image, uint32_t size);
int16_t Si468x_load_firmware(const char *path);
int16_t Si468x_load_firmware_flash(uint32_t flash_address);
int16_t Si468x_boot(void);

// ---------------------------------------------------------------------------
// Chip information and properties

int16_t Si468x_get_part_info(Si468x_ChipInfo *info);
int16_t Si468x_get_sys_state(Si468x_ChipInfo *info);
int16_t Si468x_get_func_info(Si468x_ChipInfo *info);
void Si468x_print_chip_info(const Si468x_ChipInfo *info);
int16_t Si468x_get_property(Si468x_Property *property);
int16_t Si468x_set_property(const Si468x_Property *property);

// ---------------------------------------------------------------------------
// DAB tuning and reception status

// Number of entries of the Band III list that Si468x_DAB_set_freq_list writes.
constexpr uint8_t SI468X_BAND3_FREQ_COUNT = 41;
// Room for every count the chip can report in its one count byte.
constexpr uint16_t SI468X_MAX_FREQ_LIST = 255;

// Reads the chip's frequency list. `capacity` is the number of entries the
// caller's array holds: at most that many are stored, and *count is the number
// stored.
int16_t Si468x_DAB_get_freq_list(uint32_t *frequencies, uint16_t capacity, uint8_t *count);
int16_t Si468x_DAB_set_freq_list(void);
int16_t Si468x_DAB_tune_freq(uint8_t index);
int16_t Si468x_DAB_digrad_status(Si468x_DigradStatus *status);
int16_t Si468x_DAB_get_event_status(Si468x_EventStatus *status);
int16_t Si468x_get_ensembletime(Si468x_EnsembleTime *time);
// DAB_GET_ENSEMBLE_INFO: the tuned ensemble's id and label; a chip that has
// not acquired one refuses the command (status at location 38).
int16_t Si468x_DAB_get_ensemble_info(Si468x_EnsembleInfo *info);
void Si468x_print_digrad_status(const Si468x_DigradStatus *status);
void Si468x_print_event_status(const Si468x_EventStatus *status);

// ---------------------------------------------------------------------------
// Digital service list

int16_t Si468x_get_digital_service_list(Si468x_ServiceList *list);
int16_t Si468x_get_digital_service(const Si468x_ServiceList *list, uint8_t index,
                                   Si468x_Service *service);
int16_t Si468x_get_digital_service_component(const Si468x_Service *service, uint8_t index,
                                             Si468x_Component *component);
void Si468x_print_digital_service_list(const Si468x_ServiceList *list);

// The inverse of the two decoders, for lists kept outside the chip (the
// station list file). Appends the service as one raw record at the end of
// the list: its header, label and the first num_components raw component
// records of component_data; data_length and num_services grow with it.
// Byte 7 of the record, unused, is not written. Fails with -6 for more than
// SI468X_MAX_COMPONENTS components and with -4 when the record would not
// fit the list or the list already counts 255 services, leaving the list
// untouched.
int16_t Si468x_encode_digital_service(const Si468x_Service *service, Si468x_ServiceList *list);
// Writes the component as the raw record of the given index (0-14) of the
// service's component_data; num_components is not changed. The id carries
// TMID and the fields that depend on it.
int16_t Si468x_encode_digital_service_component(const Si468x_Component *component, uint8_t index,
                                                Si468x_Service *service);

// ---------------------------------------------------------------------------
// Component information and user-application data

int16_t Si468x_DAB_get_component_info(uint32_t service_id, uint32_t component_id,
                                      Si468x_ComponentInfo *info);
int16_t Si468x_DAB_get_ua_data(const Si468x_ComponentInfo *info, Si468x_UserApplication *ua,
                               uint8_t index);
void Si468x_print_component_info(const Si468x_ComponentInfo *info);
void Si468x_hex_print(const uint8_t *bytes, uint16_t length, const char *prefix);

// ---------------------------------------------------------------------------
// Digital service control and data packets

int16_t Si468x_start_digital_service(uint8_t service_type, uint32_t service_id,
                                     uint32_t component_id);
int16_t Si468x_stop_digital_service(uint8_t service_type, uint32_t service_id,
                                    uint32_t component_id);
int16_t Si468x_get_digital_service_data(Si468x_ServiceData *data, uint8_t *ready);
// True when a packet's payload starts as a text message (dynamic label) does;
// its first two bytes are read.
bool Si468x_is_text_message(const uint8_t *payload);
void Si468x_print_digital_service_data(const Si468x_ServiceData *data);
