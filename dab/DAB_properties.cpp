// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's fixed settings and the volume, written as chip properties.
#include <array>

#include "DABUtils.h"

namespace {

struct PropertySetting {
    uint16_t id;
    uint16_t value;
};

// Reception: front-end tuning, then the thresholds and time limits that decide
// when the chip reports a tuned ensemble as valid and acquired; the band scan's
// acceptance test rests on that report.
constexpr std::array<PropertySetting, 8> reception_settings{{
    {0x1710, 0},    // DAB front-end varactor slope
    {0x1711, 0},    // DAB front-end varactor intercept
    {0x1712, 1},    // DAB front-end configuration
    {0xB201, 12},   // level above which the received signal counts as valid
    {0xB200, 63},   // ms allowed for the signal-level validation
    {0xB202, 2000}, // ms allowed for ensemble acquisition
    {0xB203, 2000}, // ms allowed for synchronisation
    {0xB204, 2000}, // ms allowed for DAB detection
}};

constexpr std::array<PropertySetting, 2> output_settings{{
    {0x0800, 3},      // pin configuration: the audio outputs enabled
    {0x0202, 0x1800}, // digital audio output format
}};

constexpr uint16_t PROP_AUDIO_ANALOG_VOLUME = 0x0300;
constexpr uint8_t DAB_MAX_VOLUME = 63;

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
    if (volume > DAB_MAX_VOLUME) {
        volume = DAB_MAX_VOLUME;
    }
    const std::array<PropertySetting, 1> setting{{{PROP_AUDIO_ANALOG_VOLUME, volume}}};
    return DAB_set_properties(setting, 3);
}
