// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware images uploaded into the chip. The bytes are the chip maker's and
// are embedded by the build from a directory the user supplies; the simulated
// board's build embeds stand-in images of the same sizes instead.
#pragma once

#include <cstdint>

constexpr uint32_t FW_ROM00_PATCH016_SIZE = 5796;
constexpr uint32_t FW_DAB_RADIO_6_0_6_SIZE = 496940;
constexpr uint32_t FW_DAB_RADIO_4_0_5_SIZE = 517524;
constexpr uint32_t FW_DAB_RADIO_5_0_5_SIZE = 521448;
constexpr uint32_t FW_FMHD_RADIO_5_0_4_SIZE = 530180;
constexpr uint32_t FW_FMHD_RADIO_5_1_3_SIZE = 531300;

extern "C" {
extern const uint8_t fw_rom00_patch016bin[FW_ROM00_PATCH016_SIZE];
extern const uint8_t fw_dab_radio_6_0_6bin[FW_DAB_RADIO_6_0_6_SIZE];
extern const uint8_t fw_dab_radio_4_0_5bif[FW_DAB_RADIO_4_0_5_SIZE];
extern const uint8_t fw_dab_radio_5_0_5bin[FW_DAB_RADIO_5_0_5_SIZE];
extern const uint8_t fw_fmhd_radio_5_0_4bin[FW_FMHD_RADIO_5_0_4_SIZE];
extern const uint8_t fw_fmhd_radio_5_1_3bin[FW_FMHD_RADIO_5_1_3_SIZE];
}
