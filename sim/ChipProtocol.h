// SPDX-License-Identifier: GPL-3.0-or-later
// The Si468x host command interface as the simulated chip sees it: opcodes,
// status bits and power-up states, named as the chip's programming guide
// names them.
#pragma once

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

} // namespace sim::si468x
