// SPDX-License-Identifier: GPL-3.0-or-later
#include "Properties.h"

#include <array>
#include <utility>

namespace sim {

namespace {

// Values after boot. The ids the radio writes hold values other than the ones
// it sets wherever a real chip's would, so a write that did not arrive shows.
constexpr std::array<std::pair<uint16_t, uint16_t>, 21> defaults{{
    {0x0000, 0x0000}, // INT_CTL_ENABLE
    {0x0001, 0x0004}, // INT_CTL_REPEAT
    {0x0200, 0x8000}, // DIGITAL_IO_OUTPUT_SELECT
    {0x0201, 48000},  // DIGITAL_IO_OUTPUT_SAMPLE_RATE
    {0x0202, 0x1000}, // DIGITAL_IO_OUTPUT_FORMAT
    {0x0300, 63},     // AUDIO_ANALOG_VOLUME, 0 to 63
    {0x0301, 0x0000}, // AUDIO_MUTE
    {0x0302, 0x0000}, // AUDIO_OUTPUT_CONFIG
    {0x0800, 0x8001}, // PIN_CONFIG_ENABLE
    {0x1710, 0xF8A9}, // DAB front-end varactor slope
    {0x1711, 0x01C6}, // DAB front-end varactor intercept
    {0x1712, 0x0000}, // DAB front-end configuration
    {0x8100, 0x0000}, // DIGITAL_SERVICE_INT_SOURCE
    {0x8101, 8000},   // DIGITAL_SERVICE_RESTART_DELAY, ms
    {0xB200, 30},     // DAB_VALID_RSSI_TIME, ms
    {0xB201, 12},     // DAB_VALID_RSSI_THRESHOLD
    {0xB202, 2000},   // DAB_VALID_ACQ_TIME, ms
    {0xB203, 1200},   // DAB_VALID_SYNC_TIME, ms
    {0xB204, 35},     // DAB_VALID_DETECT_TIME, ms
    {0xB300, 0x0000}, // DAB_EVENT_INTERRUPT_SOURCE
    {0xB301, 300},    // DAB_EVENT_MIN_SVRLIST_PERIOD, ms
}};

} // namespace

PropertyStore default_properties() {
    return PropertyStore(defaults.begin(), defaults.end());
}

} // namespace sim
