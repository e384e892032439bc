// SPDX-License-Identifier: GPL-3.0-or-later
// The volume: clamped, set on the chip, saved in the station list. A menu or
// a web page owns the screen while this runs, so the save's failure line is
// not printed but handed back in the result.
#include <cerrno>

#include "DAB_radio.h"

namespace {

// The save's failure line is swallowed: one line of the failure printing.
constexpr std::size_t DAB_SWALLOWED_ROOM = 200;

} // namespace

DAB_VolumeOutcome DAB_radio_set_volume(DAB_Radio *radio, int volume, const char *list_path,
                                       DAB_Volume *result) {
    *result = DAB_Volume{};
    const int clamped =
        volume < 0 ? 0 : (volume > DAB_RADIO_MAX_VOLUME ? DAB_RADIO_MAX_VOLUME : volume);
    result->clamped = clamped != volume ? 1 : 0;

    DAB_link_clear_failure();
    int error = 0;
    if (DAB_set_properties_volume(static_cast<uint8_t>(clamped)) != 0 && DAB_link_failed(&error)) {
        result->outcome = DAB_VOLUME_NOT_SET;
        result->volume = radio->volume;
        result->link_errno = error;
        return result->outcome;
    }
    radio->volume = static_cast<uint8_t>(clamped);
    result->volume = radio->volume;
    if (list_path == nullptr) {
        result->outcome = DAB_VOLUME_SET;
        return result->outcome;
    }

    char swallowed[DAB_SWALLOWED_ROOM];
    DABUtils_hold_output(swallowed, sizeof swallowed);
    errno = 0;
    const int16_t status = DAB_radio_save_list(radio, list_path);
    const int save_errno = errno;
    DABUtils_hold_output(nullptr, 0);
    if (status == 0) {
        result->outcome = DAB_VOLUME_SAVED;
        return result->outcome;
    }
    result->outcome = DAB_VOLUME_NOT_SAVED;
    result->save_status = status;
    result->save_location = DABUtils_ErrorCode;
    result->save_errno = save_errno;
    return result->outcome;
}
