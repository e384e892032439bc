// SPDX-License-Identifier: GPL-3.0-or-later
// The Si468x host command interface as the driver uses it: opcodes, command
// and reply lengths, reply positions and status masks, named as the chip
// maker's programming guide names them. Reply positions count the filler
// byte: position 1 is STATUS0, position k >= 5 is RESP(k-1).
#pragma once

#include <cstdint>

#include "Si468x.h"

// ---------------------------------------------------------------------------
// Opcodes

constexpr uint8_t RD_REPLY = 0x00;
constexpr uint8_t POWER_UP = 0x01;
constexpr uint8_t HOST_LOAD = 0x04;
constexpr uint8_t FLASH_LOAD = 0x05;
constexpr uint8_t LOAD_INIT = 0x06;
constexpr uint8_t BOOT = 0x07;
constexpr uint8_t GET_PART_INFO = 0x08;
constexpr uint8_t GET_SYS_STATE = 0x09;
constexpr uint8_t GET_FUNC_INFO = 0x12;
constexpr uint8_t SET_PROPERTY = 0x13;
constexpr uint8_t GET_PROPERTY = 0x14;
constexpr uint8_t GET_DIGITAL_SERVICE_LIST = 0x80;
constexpr uint8_t START_DIGITAL_SERVICE = 0x81;
constexpr uint8_t STOP_DIGITAL_SERVICE = 0x82;
constexpr uint8_t GET_DIGITAL_SERVICE_DATA = 0x84;
constexpr uint8_t DAB_TUNE_FREQ = 0xB0;
constexpr uint8_t DAB_DIGRAD_STATUS = 0xB2;
constexpr uint8_t DAB_GET_EVENT_STATUS = 0xB3;
constexpr uint8_t DAB_GET_ENSEMBLE_INFO = 0xB4;
constexpr uint8_t DAB_SET_FREQ_LIST = 0xB8;
constexpr uint8_t DAB_GET_FREQ_LIST = 0xB9;
constexpr uint8_t DAB_GET_COMPONENT_INFO = 0xBB;
constexpr uint8_t DAB_GET_TIME = 0xBC;

// ---------------------------------------------------------------------------
// Status bytes

constexpr uint16_t STATUS0 = 1; // reply positions
constexpr uint16_t STATUS1 = 2;
constexpr uint16_t STATUS2 = 3;
constexpr uint16_t STATUS3 = 4;
constexpr uint16_t STATUS_LENGTH = 5; // filler byte and STATUS0..STATUS3

constexpr uint8_t CTS = 0x80;     // STATUS0: command done, reply ready
constexpr uint8_t ERR_CMD = 0x40; // STATUS0: command rejected
constexpr uint8_t STCINT = 0x01;  // STATUS0: tune complete

// STATUS3: PUP_STATE in bits 7:6, then the error bits.
constexpr uint8_t PUP_STATE_SHIFT = 6;
constexpr uint8_t PUP_RESET = 0;
constexpr uint8_t PUP_BOOTLOADER = 2;
constexpr uint8_t PUP_APPLICATION = 3;
constexpr uint8_t REPOFERR = 0x08;
constexpr uint8_t CMDOFERR = 0x04;
constexpr uint8_t ARBERR = 0x02;
constexpr uint8_t ERRNR = 0x01;
constexpr uint8_t REPOFERR_CMDOFERR_ARBERR = REPOFERR | CMDOFERR | ARBERR;
constexpr uint8_t STATUS3_ERRORS = REPOFERR_CMDOFERR_ARBERR | ERRNR;
// STATUS3 as a whole byte: a power-up state and no error bit.
constexpr uint8_t PUP_STATE_BOOTLOADER = PUP_BOOTLOADER << PUP_STATE_SHIFT;   // 0x80
constexpr uint8_t PUP_STATE_APPLICATION = PUP_APPLICATION << PUP_STATE_SHIFT; // 0xC0

// ---------------------------------------------------------------------------
// Transport

constexpr uint16_t CTS_POLL_LENGTH = 7;
constexpr uint16_t CTS_POLL_COUNT = 50;
// Wait after poll i without CTS: i * step + first, in microseconds.
constexpr uint32_t CTS_POLL_WAIT_FIRST_US = 50;
constexpr uint32_t CTS_POLL_WAIT_STEP_US = 1000;
constexpr uint16_t RD_REPLY_LENGTH = 7;

// The reset pulse: the line low long enough for the chip to reset reliably,
// then time after release before it answers a status read.
constexpr uint32_t RESET_LOW_MS = 200;
constexpr uint32_t RESET_SETTLE_MS = 50;

// ---------------------------------------------------------------------------
// Power-up, upload, boot

constexpr uint16_t POWER_UP_LENGTH = 16;
constexpr uint16_t POWER_UP_REPLY_LENGTH = 5;
constexpr uint16_t LOAD_INIT_LENGTH = 2;
constexpr uint16_t HOST_LOAD_HEADER_LENGTH = 4;
constexpr uint16_t HOST_LOAD_CHUNK = 4092;
constexpr uint16_t HOST_LOAD_BUFFER_LENGTH = HOST_LOAD_HEADER_LENGTH + HOST_LOAD_CHUNK;
constexpr uint16_t FLASH_LOAD_LENGTH = 12;
constexpr uint16_t FLASH_LOAD_ADDRESS = 4; // command byte of the start address
constexpr uint16_t BOOT_LENGTH = 2;
constexpr uint16_t BOOT_REPLY_LENGTH = 5;

// ---------------------------------------------------------------------------
// Chip information and properties

// GET_PART_INFO, GET_SYS_STATE and GET_FUNC_INFO: the opcode and a zero byte.
constexpr uint16_t INFO_COMMAND_LENGTH = 2;
constexpr uint16_t GET_PART_INFO_REPLY_LENGTH = 24;
constexpr uint16_t PART_INFO_CHIPREV = 5;
constexpr uint16_t PART_INFO_ROMID = 6;
constexpr uint16_t PART_INFO_PART = 9; // 16 bits

constexpr uint16_t GET_SYS_STATE_REPLY_LENGTH = 7;
constexpr uint16_t SYS_STATE_IMAGE = 5;

constexpr uint16_t GET_FUNC_INFO_REPLY_LENGTH = 13;
constexpr uint16_t FUNC_INFO_REVEXT = 5;
constexpr uint16_t FUNC_INFO_REVBRANCH = 6;
constexpr uint16_t FUNC_INFO_REVINT = 7;
constexpr uint16_t FUNC_INFO_FLAGS = 8; // NOSVN, LOCATION, MIXEDREV, LOCALMOD
constexpr uint16_t FUNC_INFO_SVNID = 9; // 32 bits
constexpr uint8_t NOSVN = 0x80;
constexpr uint8_t LOCATION_SHIFT = 4;
constexpr uint8_t LOCATION_MASK = 0x03;
constexpr uint8_t MIXEDREV = 0x02;
constexpr uint8_t LOCALMOD = 0x01;

constexpr uint16_t SET_PROPERTY_LENGTH = 6;
constexpr uint16_t PROPERTY_ID = 2;        // command bytes of both, 16 bits
constexpr uint16_t SET_PROPERTY_VALUE = 4; // command bytes, 16 bits
constexpr uint16_t GET_PROPERTY_LENGTH = 4;
constexpr uint16_t GET_PROPERTY_REPLY_LENGTH = 7;
constexpr uint16_t PROPERTY_VALUE = 5; // 16 bits
constexpr uint8_t GET_PROPERTY_COUNT = 1;

// Property ids the radio sets or reads.
constexpr uint16_t DIGITAL_IO_OUTPUT_FORMAT = 0x0202;
constexpr uint16_t AUDIO_ANALOG_VOLUME = 0x0300;
constexpr uint8_t AUDIO_ANALOG_VOLUME_MAX = 63; // its range is 0..63
constexpr uint16_t PIN_CONFIG_ENABLE = 0x0800;
constexpr uint16_t DAB_TUNE_FE_VARM = 0x1710;
constexpr uint16_t DAB_TUNE_FE_VARB = 0x1711;
constexpr uint16_t DAB_TUNE_FE_CFG = 0x1712;
constexpr uint16_t DAB_VALID_RSSI_TIME = 0xB200;
constexpr uint16_t DAB_VALID_RSSI_THRESHOLD = 0xB201;
constexpr uint16_t DAB_VALID_ACQ_TIME = 0xB202;
constexpr uint16_t DAB_VALID_SYNC_TIME = 0xB203;
constexpr uint16_t DAB_VALID_DETECT_TIME = 0xB204;

// ---------------------------------------------------------------------------
// DAB tuning and reception status

constexpr uint16_t DAB_GET_FREQ_LIST_LENGTH = 2;
constexpr uint16_t DAB_GET_FREQ_LIST_COUNT_REPLY_LENGTH = 6;
constexpr uint16_t FREQ_LIST_NUM_FREQS = 5;
constexpr uint16_t FREQ_LIST_FIRST = 9;
constexpr uint16_t FREQ_LIST_ENTRY_LENGTH = 4; // one frequency in kHz, 32 bits
constexpr uint16_t FREQ_LIST_REPLY_LENGTH_MAX = FREQ_LIST_FIRST + FREQ_LIST_ENTRY_LENGTH * 255;
constexpr uint16_t DAB_SET_FREQ_LIST_HEADER_LENGTH = 4;

constexpr uint16_t DAB_TUNE_FREQ_LENGTH = 6;
constexpr uint16_t DAB_TUNE_FREQ_INDEX = 2; // command byte of the frequency index
constexpr uint16_t TUNE_POLL_COUNT = 100;
constexpr uint32_t TUNE_POLL_WAIT_MS = 100;

constexpr uint16_t DAB_DIGRAD_STATUS_LENGTH = 2;
constexpr uint16_t DAB_DIGRAD_STATUS_REPLY_LENGTH = 24;
constexpr uint16_t DIGRAD_INTERRUPTS = 5;
constexpr uint16_t DIGRAD_STATES = 6;
constexpr uint16_t DIGRAD_RSSI = 7;
constexpr uint16_t DIGRAD_SNR = 8;
constexpr uint16_t DIGRAD_FIC_QUALITY = 9;
constexpr uint16_t DIGRAD_CNR = 10;
constexpr uint16_t DIGRAD_FIB_ERROR_COUNT = 11; // 16 bits
constexpr uint16_t DIGRAD_TUNE_FREQ = 13;       // 32 bits
constexpr uint16_t DIGRAD_TUNE_INDEX = 17;
constexpr uint16_t DIGRAD_FFT_OFFSET = 18;
constexpr uint16_t DIGRAD_READANTCAP = 19; // 16 bits
constexpr uint16_t DIGRAD_CU_LEVEL = 21;   // 16 bits
constexpr uint16_t DIGRAD_FAST_DECT = 23;
// DIGRAD_INTERRUPTS bits
constexpr uint8_t AUDIO_WAS_MUTED = 0x10;
constexpr uint8_t FICERRINT = 0x08;
constexpr uint8_t ACQINT = 0x04;
constexpr uint8_t RSSILINT = 0x02;
constexpr uint8_t RSSIHINT = 0x01;
// DIGRAD_STATES bits
constexpr uint8_t HARDMUTE = 0x10;
constexpr uint8_t FICERR = 0x08;
constexpr uint8_t ACQ = 0x04;
constexpr uint8_t VALID = 0x01;

constexpr uint16_t DAB_GET_EVENT_STATUS_LENGTH = 2;
constexpr uint16_t DAB_GET_EVENT_STATUS_REPLY_LENGTH = 9;
constexpr uint8_t EVENT_ACK = 0x01;
constexpr uint16_t EVENT_INTERRUPTS = 5;
constexpr uint16_t EVENT_AVAILABLE = 6;
constexpr uint16_t EVENT_SVRLIST_VERSION = 7; // 16 bits
// EVENT_INTERRUPTS bits
constexpr uint8_t RECFGINT = 0x80;
constexpr uint8_t RECFGWRNINT = 0x40;
constexpr uint8_t ANNOINT = 0x08;
constexpr uint8_t FREQINFOINT = 0x02;
constexpr uint8_t SVRLISTINT = 0x01;
// EVENT_AVAILABLE bits
constexpr uint8_t FREQ_INFO = 0x02;
constexpr uint8_t SVRLIST = 0x01;

constexpr uint16_t DAB_GET_TIME_LENGTH = 2;
constexpr uint16_t DAB_GET_TIME_REPLY_LENGTH = 12;
constexpr uint8_t TIME_TYPE_LOCAL = 0x01;
constexpr uint16_t TIME_YEAR = 5; // 16 bits
constexpr uint16_t TIME_MONTH = 7;
constexpr uint16_t TIME_DAY = 8;
constexpr uint16_t TIME_HOUR = 9;
constexpr uint16_t TIME_MINUTE = 10;
constexpr uint16_t TIME_SECOND = 11;

constexpr uint16_t DAB_GET_ENSEMBLE_INFO_LENGTH = 2;
constexpr uint16_t DAB_GET_ENSEMBLE_INFO_REPLY_LENGTH = 25;
constexpr uint16_t ENSEMBLE_ID = 5;      // 16 bits
constexpr uint16_t ENSEMBLE_LABEL = 7;   // 16 bytes
constexpr uint16_t ENSEMBLE_ABBREV = 23; // 16 bits: the characters of the short label

// ---------------------------------------------------------------------------
// Digital service list

constexpr uint16_t GET_DIGITAL_SERVICE_LIST_LENGTH = 2;
constexpr uint16_t SERVICE_LIST_SIZE_REPLY_LENGTH = 7;
constexpr uint16_t SERVICE_LIST_SIZE = 5;    // 16 bits: list bytes after the SIZE field
constexpr uint16_t SERVICE_LIST_VERSION = 7; // 16 bits
constexpr uint16_t SERVICE_LIST_NUM_SERVICES = 9;
constexpr uint16_t SERVICE_LIST_FIRST_SERVICE = 13;
// Reply bytes in front of the list that SIZE does not count.
constexpr uint16_t SERVICE_LIST_SIZE_OFFSET = 7;
// List header that SIZE counts: version, number of services, 3 reserved.
constexpr uint16_t SERVICE_LIST_HEADER = 6;

// Raw service record
constexpr uint16_t SERVICE_HEADER_LENGTH = SI468X_SERVICE_HEADER_LENGTH;
constexpr uint16_t SERVICE_ID = 0; // 32 bits
constexpr uint16_t SERVICE_INFO1 = 4;
constexpr uint16_t SERVICE_INFO2 = 5;
constexpr uint16_t SERVICE_INFO3 = 6;
constexpr uint16_t SERVICE_LABEL = 8;
constexpr uint16_t SERVICE_LABEL_LENGTH = SI468X_LABEL_LENGTH;
constexpr uint16_t COMPONENT_LENGTH = SI468X_COMPONENT_LENGTH;
// SERVICE_INFO1: P/D flag in bit 0, PTY in bits 1-5, linking info in bit 6.
constexpr uint8_t SERVICE_PD_FLAG = 0x01;
constexpr uint8_t SERVICE_PTY_SHIFT = 1;
constexpr uint8_t SERVICE_PTY_MASK = 0x1F;
constexpr uint8_t SERVICE_LINKING_SHIFT = 6;
// SERVICE_INFO2: number of components in bits 0-3, CA id in 4-6, local in 7.
constexpr uint8_t NUM_COMP_MASK = 0x0F;
constexpr uint8_t SERVICE_CA_ID_SHIFT = 4;
constexpr uint8_t SERVICE_CA_ID_MASK = 0x07;
constexpr uint8_t SERVICE_LOCAL_SHIFT = 7;
// SERVICE_INFO3: SI charset in bits 0-3.
constexpr uint8_t SERVICE_SI_CHARSET_MASK = 0x0F;

// Raw component record
constexpr uint16_t COMPONENT_ID = 0;    // 16 bits, TMID in bits 14-15
constexpr uint16_t COMPONENT_FLAGS = 2; // CA flag bit 0, ps bit 1, ASCTy/DSCTy bits 2-7
constexpr uint16_t COMPONENT_MUA = 3;   // muA_info_valid in bit 0
constexpr uint8_t COMPONENT_CA_FLAG = 0x01;
constexpr uint8_t COMPONENT_PS_SHIFT = 1;
constexpr uint8_t COMPONENT_ASCTY_DSCTY_SHIFT = 2;
constexpr uint8_t COMPONENT_ASCTY_DSCTY_MASK = 0x3F;
constexpr uint8_t COMPONENT_MUA_INFO_VALID = 0x01;

// ---------------------------------------------------------------------------
// Component information

constexpr uint16_t DAB_GET_COMPONENT_INFO_LENGTH = 12;
constexpr uint16_t COMPONENT_INFO_SERVICE_ID = 4;   // command bytes, 32 bits
constexpr uint16_t COMPONENT_INFO_COMPONENT_ID = 8; // command bytes, 32 bits
constexpr uint16_t COMPONENT_INFO_HEADER_LENGTH = 29;
constexpr uint16_t COMPONENT_INFO_AREA_LENGTH = 256;
constexpr uint8_t COMPONENT_INFO_UA_LENGTH_MAX =
    COMPONENT_INFO_AREA_LENGTH - COMPONENT_INFO_HEADER_LENGTH; // 227
constexpr uint16_t COMPONENT_INFO_GLOBAL_ID = 5;
constexpr uint16_t COMPONENT_INFO_LANGUAGE = 7;
constexpr uint16_t COMPONENT_INFO_CHARSET_ID = 8;
constexpr uint16_t COMPONENT_INFO_LABEL = 9;
constexpr uint16_t COMPONENT_INFO_CHAR_ABBREV = 25; // 16 bits
constexpr uint16_t COMPONENT_INFO_NUM_UA = 27;
constexpr uint16_t COMPONENT_INFO_UA_LENGTH = 28;
constexpr uint8_t COMPONENT_INFO_SIX_BITS = 0x3F;
// One user-application entry: type (16 bits), data length L, L data bytes,
// a zero pad byte when L is even.
constexpr uint16_t UA_ENTRY_HEADER_LENGTH = 3;
constexpr uint16_t UA_ENTRY_DATA_LENGTH = 2;

// ---------------------------------------------------------------------------
// Digital service control and data packets

constexpr uint16_t DIGITAL_SERVICE_LENGTH = 12;
constexpr uint16_t DIGITAL_SERVICE_TYPE = 1;         // command byte
constexpr uint16_t DIGITAL_SERVICE_SERVICE_ID = 4;   // command bytes, 32 bits
constexpr uint16_t DIGITAL_SERVICE_COMPONENT_ID = 8; // command bytes, 32 bits

constexpr uint16_t GET_DIGITAL_SERVICE_DATA_LENGTH = 2;
constexpr uint8_t STATUS_ONLY = 0x10;
constexpr uint16_t DIGITAL_SERVICE_DATA_STATUS_LENGTH = 7;
constexpr uint16_t DIGITAL_SERVICE_DATA_HEADER_LENGTH = 25;
constexpr uint16_t DIGITAL_SERVICE_DATA_REPLY_LENGTH = DIGITAL_SERVICE_DATA_HEADER_LENGTH + 4096;
constexpr uint16_t DIGITAL_SERVICE_DATA_READS = 10;
constexpr uint32_t DIGITAL_SERVICE_DATA_WAIT_MS = 10;
constexpr uint16_t DSRV_INTERRUPTS = 5;
constexpr uint16_t DSRV_BUFF_COUNT = 6;
constexpr uint16_t DSRV_SRV_STATE = 7;
constexpr uint16_t DSRV_DATA_SRC_DSCTY = 8;
constexpr uint16_t DSRV_SERVICE_ID = 9;    // 32 bits
constexpr uint16_t DSRV_COMPONENT_ID = 13; // 32 bits
constexpr uint16_t DSRV_BYTE_COUNT = 19;   // 16 bits
constexpr uint16_t DSRV_SEG_NUM = 21;      // 16 bits
constexpr uint16_t DSRV_NUM_SEGS = 23;     // 16 bits
constexpr uint16_t DSRV_PAYLOAD = 25;
// DSRV_INTERRUPTS bits
constexpr uint8_t DSRVOVFLINT = 0x02;
constexpr uint8_t DSRVPCKTINT = 0x01;
constexpr uint8_t DATA_SRC_SHIFT = 6;
constexpr uint8_t DSCTY_MASK = 0x3F;
// A text message packet (dynamic label): first byte 0x00 or 0x80, second 0.
constexpr uint8_t TEXT_MESSAGE_TOGGLE = 0x80;
constexpr uint16_t TEXT_MESSAGE_HEADER = 2;
// After the text, one byte that is not part of it.
constexpr uint16_t TEXT_MESSAGE_TRAILER = 1;
