// SPDX-License-Identifier: GPL-3.0-or-later
// The Si468x host command interface as the simulated chip sees it: opcodes,
// status bits, power-up states, command lengths, argument fields with the
// bits and ranges the chip accepts, and the property table, named as the
// chip's programming guide names them.
//
// This is the chip's side of the wire and deliberately its own: it never
// includes the driver's headers (driver/Si468x_commands.h), so a wrong
// constant cannot pass on both sides at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim::si468x {

// Opcodes of the boot loader and of every image.
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

// STATUS0.
constexpr uint8_t CTS = 0x80;
constexpr uint8_t ERR_CMD = 0x40;
constexpr uint8_t STCINT = 0x01;

// STATUS3: PUP_STATE in bits 7:6, error flags in bits 3:0.
constexpr uint8_t PUP_STATE_MASK = 0xC0;
constexpr uint8_t PUP_RESET = 0x00;      // reset released, waiting for POWER_UP
constexpr uint8_t PUP_BOOTLOADER = 0x80; // boot loader running
constexpr uint8_t PUP_APPLICATION = 0xC0;
constexpr uint8_t REPOFERR = 0x08;
constexpr uint8_t CMDOFERR = 0x04;
constexpr uint8_t ARBERR = 0x02;
constexpr uint8_t ERRNR = 0x01;

// GET_SYS_STATE image codes.
constexpr uint8_t IMAGE_BOOTLOADER = 0;
constexpr uint8_t IMAGE_FMHD = 1;
constexpr uint8_t IMAGE_DAB = 2;

// The only POWER_UP the board's crystal and wiring accept: a 19.2 MHz
// crystal with its trim and bias settings.
constexpr std::size_t POWER_UP_LENGTH = 16;
constexpr uint8_t power_up_command[POWER_UP_LENGTH] = {
    0x01, 0x00, 0x1F, 0x7F, 0x00, 0xF8, 0x24, 0x01, 0x20, 0x10, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00};

constexpr std::size_t HOST_LOAD_HEADER = 4;
constexpr std::size_t HOST_LOAD_MAX = 4096; // command bytes, header included
constexpr std::size_t FLASH_LOAD_LENGTH = 12;

// ---------------------------------------------------------------------------
// Commands of the DAB image (0x80 to 0xBF go to the receiver).

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
constexpr uint8_t DAB_FIRST_OPCODE = 0x80;
constexpr uint8_t DAB_LAST_OPCODE = 0xBF;

// STATUS0 bits the receiver owns (STCINT above).
constexpr uint8_t DSRVINT = 0x10;

// Reply bits of the receiver's commands.
// DAB_DIGRAD_STATUS RESP4 (interrupts) and RESP5 (states).
constexpr uint8_t RSSILINT = 0x02;
constexpr uint8_t RSSIHINT = 0x01;
constexpr uint8_t ACQINT = 0x04;
constexpr uint8_t FICERRINT = 0x08;
constexpr uint8_t HARDMUTE = 0x10;
constexpr uint8_t FICERR = 0x08;
constexpr uint8_t ACQ = 0x04;
constexpr uint8_t VALID = 0x01;

// DAB_GET_EVENT_STATUS RESP4 and RESP5.
constexpr uint8_t SVRLISTINT = 0x01;
constexpr uint8_t SVRLIST = 0x01;

// GET_DIGITAL_SERVICE_DATA RESP4.
constexpr uint8_t DSRVOVFLINT = 0x02;
constexpr uint8_t DSRVPCKTINT = 0x01;

// ---------------------------------------------------------------------------
// What the chip accepts of a command: its length and, for each of ARG1 to
// ARG3, the bits that may be set (0: a reserved byte, 0xFF: a value byte
// whose range the command itself checks). Bytes after ARG3 are value bytes.
// A command outside this table is checked by its own code.

struct CommandShape {
    uint8_t opcode;
    std::size_t length; // exact; for DAB_SET_FREQ_LIST the header before the list
    std::array<uint8_t, 3> arg_bits;
};

// ARG1 of DAB_TUNE_FREQ: INJECTION in bits 1:0 (0 automatic, 1 low side,
// 2 high side); ARG2 the frequency index; ARG3 reserved; ARG4-5 ANTCAP.
constexpr uint8_t TUNE_INJECTION_MASK = 0x03;
constexpr uint8_t TUNE_INJECTION_MAX = 2;
constexpr std::size_t TUNE_INDEX = 2;     // command byte
constexpr std::size_t TUNE_ANTCAP = 4;    // command bytes, 16 bits
constexpr uint16_t TUNE_ANTCAP_MAX = 128; // 250 fF steps, 0 automatic

// ARG1 of DAB_DIGRAD_STATUS.
constexpr uint8_t STC_ACK = 0x01;    // clear STCINT
constexpr uint8_t ATTUNE = 0x04;     // values as of the tune (the model's are anyway)
constexpr uint8_t DIGRAD_ACK = 0x08; // clear the reception interrupts
// ARG1 of DAB_GET_EVENT_STATUS.
constexpr uint8_t EVENT_ACK = 0x01; // clear the reported events
// ARG1 of GET_DIGITAL_SERVICE_DATA.
constexpr uint8_t DSRV_INTACK = 0x01; // clear the overflow interrupt
constexpr uint8_t DSRV_STATUS_ONLY = 0x10;
// ARG1 of DAB_GET_TIME: TIME_TYPE in bit 0 (0 UTC, 1 local).
constexpr uint8_t TIME_TYPE = 0x01;
// ARG1 of START/STOP_DIGITAL_SERVICE: SERTYPE in bit 0 (0 audio, 1 data).
constexpr uint8_t SERVICE_TYPE_DATA = 0x01;

// DAB_SET_FREQ_LIST: ARG1 the count, ARG2-3 reserved, then 4 bytes (kHz,
// little-endian) per frequency.
constexpr std::size_t FREQ_LIST_HEADER = 4;
constexpr std::size_t FREQ_LIST_ENTRY = 4;
constexpr std::size_t FREQ_LIST_MAX = 48; // entries the chip's list holds

constexpr std::size_t DIGITAL_SERVICE_LENGTH = 12; // start, stop, component info
constexpr std::size_t SERVICE_ID_AT = 4;           // command bytes, 32 bits
constexpr std::size_t COMPONENT_ID_AT = 8;         // command bytes, 32 bits

constexpr std::size_t SET_PROPERTY_LENGTH = 6;
constexpr std::size_t GET_PROPERTY_LENGTH = 4;
constexpr uint8_t GET_PROPERTY_COUNT = 1; // ARG1: properties read at once

inline constexpr std::array<CommandShape, 12> receiver_commands{{
    {GET_DIGITAL_SERVICE_LIST, 2, {0x00, 0, 0}},
    {START_DIGITAL_SERVICE, DIGITAL_SERVICE_LENGTH, {SERVICE_TYPE_DATA, 0x00, 0x00}},
    {STOP_DIGITAL_SERVICE, DIGITAL_SERVICE_LENGTH, {SERVICE_TYPE_DATA, 0x00, 0x00}},
    {GET_DIGITAL_SERVICE_DATA, 2, {DSRV_INTACK | DSRV_STATUS_ONLY, 0, 0}},
    {DAB_TUNE_FREQ, 6, {TUNE_INJECTION_MASK, 0xFF, 0x00}},
    {DAB_DIGRAD_STATUS, 2, {STC_ACK | ATTUNE | DIGRAD_ACK, 0, 0}},
    {DAB_GET_EVENT_STATUS, 2, {EVENT_ACK, 0, 0}},
    {DAB_SET_FREQ_LIST, FREQ_LIST_HEADER, {0xFF, 0x00, 0x00}},
    {DAB_GET_FREQ_LIST, 2, {0x00, 0, 0}},
    {DAB_GET_COMPONENT_INFO, DIGITAL_SERVICE_LENGTH, {0x00, 0x00, 0x00}},
    {DAB_GET_TIME, 2, {TIME_TYPE, 0, 0}},
    {DAB_GET_ENSEMBLE_INFO, 2, {0x00, 0, 0}},
}};

constexpr const CommandShape *receiver_command(uint8_t opcode) {
    for (const auto &shape : receiver_commands) {
        if (shape.opcode == opcode) {
            return &shape;
        }
    }
    return nullptr;
}

// The length is right and no reserved bit of ARG1 to ARG3 is set. A
// DAB_SET_FREQ_LIST is checked here only for its header bytes.
constexpr bool shape_accepts(const CommandShape &shape, const uint8_t *command,
                             std::size_t length) {
    if (shape.opcode == DAB_SET_FREQ_LIST ? length < shape.length : length != shape.length) {
        return false;
    }
    for (std::size_t k = 1; k < length && k <= shape.arg_bits.size(); ++k) {
        if ((command[k] & static_cast<uint8_t>(~shape.arg_bits[k - 1])) != 0) {
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Properties of the DAB image: id, value after boot, and the values the chip
// accepts (at most `max`, and no bit outside `bits`). The ids the radio
// writes hold values after boot other than the ones it sets wherever a real
// chip's would, so a write that did not arrive shows.

struct PropertyFact {
    uint16_t id;
    uint16_t initial;
    uint16_t max;
    uint16_t bits;
};

constexpr uint16_t AUDIO_ANALOG_VOLUME = 0x0300;
constexpr uint16_t DAB_VALID_RSSI_THRESHOLD = 0xB201;

inline constexpr std::array<PropertyFact, 21> property_facts{{
    {0x0000, 0x0000, 0xFFFF, 0xFFFF}, // INT_CTL_ENABLE
    {0x0001, 0x0004, 0xFFFF, 0xFFFF}, // INT_CTL_REPEAT
    {0x0200, 0x8000, 0xFFFF, 0x8000}, // DIGITAL_IO_OUTPUT_SELECT: bit 15 master
    {0x0201, 48000, 48000, 0xFFFF},   // DIGITAL_IO_OUTPUT_SAMPLE_RATE, Hz
    {0x0202, 0x1000, 0xFFFF, 0x1FFF}, // DIGITAL_IO_OUTPUT_FORMAT: size 12:8, slot 7:4, mode 3:0
    {AUDIO_ANALOG_VOLUME, 63, 63, 0xFFFF},       // AUDIO_ANALOG_VOLUME, 0 to 63
    {0x0301, 0x0000, 3, 0xFFFF},                 // AUDIO_MUTE: left bit 0, right bit 1
    {0x0302, 0x0000, 0xFFFF, 0x0001},            // AUDIO_OUTPUT_CONFIG: mono bit 0
    {0x0800, 0x8001, 0xFFFF, 0x8003},            // PIN_CONFIG_ENABLE: INTB 15, I2S 1, DAC 0
    {0x1710, 0xF8A9, 0xFFFF, 0xFFFF},            // DAB front-end varactor slope (signed)
    {0x1711, 0x01C6, 0xFFFF, 0xFFFF},            // DAB front-end varactor intercept (signed)
    {0x1712, 0x0000, 1, 0xFFFF},                 // DAB front-end configuration: switch bit 0
    {0x8100, 0x0000, 0xFFFF, 0x0003},            // DIGITAL_SERVICE_INT_SOURCE: packet 0, overflow 1
    {0x8101, 8000, 0xFFFF, 0xFFFF},              // DIGITAL_SERVICE_RESTART_DELAY, ms
    {0xB200, 30, 63, 0xFFFF},                    // DAB_VALID_RSSI_TIME, ms
    {DAB_VALID_RSSI_THRESHOLD, 12, 127, 0xFFFF}, // DAB_VALID_RSSI_THRESHOLD
    {0xB202, 2000, 4095, 0xFFFF},                // DAB_VALID_ACQ_TIME, ms
    {0xB203, 1200, 4095, 0xFFFF},                // DAB_VALID_SYNC_TIME, ms
    {0xB204, 35, 4095, 0xFFFF},                  // DAB_VALID_DETECT_TIME, ms
    {0xB300, 0x0000, 0xFFFF, 0x00FF},            // DAB_EVENT_INTERRUPT_SOURCE
    {0xB301, 300, 0xFFFF, 0xFFFF},               // DAB_EVENT_MIN_SVRLIST_PERIOD, ms
}};

constexpr const PropertyFact *property_fact(uint16_t id) {
    for (const auto &fact : property_facts) {
        if (fact.id == id) {
            return &fact;
        }
    }
    return nullptr;
}

constexpr bool property_value_accepted(const PropertyFact &fact, uint16_t value) {
    return value <= fact.max && (value & static_cast<uint16_t>(~fact.bits)) == 0;
}

} // namespace sim::si468x
