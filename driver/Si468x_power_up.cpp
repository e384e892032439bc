// SPDX-License-Identifier: GPL-3.0-or-later
// POWER_UP with the board's crystal settings.
#include <array>

#include "Si468x.h"
#include "Si468x_commands.h"

namespace {

// The board's 19.2 MHz crystal: CLK_MODE crystal, TR_SIZE 15, IBIAS 127 at
// start-up, CTUN 32, IBIAS_RUN 24; CTS interrupt off.
// clang-format off
constexpr std::array<uint8_t, POWER_UP_LENGTH> POWER_UP_COMMAND{
    POWER_UP,
    0x00,                   // CTSIEN off
    0x1F,                   // CLK_MODE 1 (crystal), TR_SIZE 15
    0x7F,                   // IBIAS at start-up
    0x00, 0xF8, 0x24, 0x01, // XTAL_FREQ 19200000 Hz
    0x20,                   // CTUN
    0x10,
    0x00, 0x00, 0x00,
    0x18,                   // IBIAS_RUN
    0x00, 0x00,
};
// clang-format on

} // namespace

int16_t Si468x_power_up(void) {
    // The transfer overwrites what it sends, so the table goes out as a copy.
    std::array<uint8_t, POWER_UP_LENGTH> command = POWER_UP_COMMAND;
    uint8_t reply[POWER_UP_REPLY_LENGTH];
    const int16_t status =
        Si468x_send_cmd(command.data(), reply, POWER_UP_LENGTH, POWER_UP_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 4);
    }
    // Only the boot loader, with no error bit, is a successful power-up; a chip
    // already running its application did not take the command.
    if (reply[STATUS3] != PUP_STATE_BOOTLOADER) {
        return Si468x_failure(-5, 104);
    }
    return 0;
}
