// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_GET_TIME: the ensemble's date and time, as the chip reports them.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_get_ensembletime(Si468x_EnsembleTime *time) {
    uint8_t command[DAB_GET_TIME_LENGTH] = {DAB_GET_TIME, TIME_TYPE_LOCAL};
    uint8_t reply[DAB_GET_TIME_REPLY_LENGTH];
    const int16_t status =
        Si468x_send_cmd(command, reply, DAB_GET_TIME_LENGTH, DAB_GET_TIME_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 35);
    }
    // Not judged here: the caller decides whether the values are plausible.
    time->year = Si468x_get_u16(reply + TIME_YEAR);
    time->month = reply[TIME_MONTH];
    time->day = reply[TIME_DAY];
    time->hour = reply[TIME_HOUR];
    time->minute = reply[TIME_MINUTE];
    time->second = reply[TIME_SECOND];
    return 0;
}
