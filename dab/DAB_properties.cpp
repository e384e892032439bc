// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's fixed settings and the volume, written as chip properties.
#include <array>

#include "DABUtils.h"
#include "Si468x_commands.h"

namespace {

struct PropertySetting {
    uint16_t id;
    uint16_t value;
};

// Reception: front-end tuning, then the thresholds and time limits that decide
// when the chip reports a tuned ensemble as valid and acquired; the band scan's
// acceptance test rests on that report.
constexpr std::array<PropertySetting, DAB_RECEPTION_PROPERTIES> reception_settings{{
    {DAB_TUNE_FE_VARM, 0},                               // front-end varactor slope
    {DAB_TUNE_FE_VARB, 0},                               // front-end varactor intercept
    {DAB_TUNE_FE_CFG, 1},                                // front-end configuration
    {DAB_VALID_RSSI_THRESHOLD, DAB_SCAN_RSSI_THRESHOLD}, // level of a valid signal
    {DAB_VALID_RSSI_TIME, 63},     // ms allowed for the signal-level validation
    {DAB_VALID_ACQ_TIME, 2000},    // ms allowed for ensemble acquisition
    {DAB_VALID_SYNC_TIME, 2000},   // ms allowed for synchronisation
    {DAB_VALID_DETECT_TIME, 2000}, // ms allowed for DAB detection
}};

constexpr std::array<PropertySetting, DAB_OUTPUT_PROPERTIES> output_settings{{
    {PIN_CONFIG_ENABLE, 3},             // the audio outputs enabled
    {DIGITAL_IO_OUTPUT_FORMAT, 0x1800}, // digital audio output format
}};
// Every entry written out: a std::array fills missing ones with zeros.
static_assert(reception_settings.back().id != 0 && output_settings.back().id != 0);

// Writes the settings in order with one record refilled for each; the first
// that fails stops the rest, reported at base + 100 x its position.
template <std::size_t N>
int16_t DAB_set_properties(const std::array<PropertySetting, N> &settings, int32_t base) {
    Si468x_Property property{};
    for (std::size_t k = 0; k < N; ++k) {
        property.id = settings[k].id;
        property.value = settings[k].value;
        const int16_t status = Si468x_set_property(&property);
        if (status != 0) {
            return DABUtils_failure(DABUtils_min(-2, status), base + 100 * static_cast<int32_t>(k));
        }
    }
    return 0;
}

} // namespace

int16_t DAB_set_properties_max_stations(void) {
    return DAB_set_properties(reception_settings, 1);
}

int16_t DAB_set_properties_output(void) {
    return DAB_set_properties(output_settings, 2);
}

int16_t DAB_set_properties_volume(uint8_t volume) {
    if (volume > AUDIO_ANALOG_VOLUME_MAX) {
        volume = AUDIO_ANALOG_VOLUME_MAX;
    }
    const std::array<PropertySetting, 1> setting{{{AUDIO_ANALOG_VOLUME, volume}}};
    return DAB_set_properties(setting, 3);
}
