// SPDX-License-Identifier: GPL-3.0-or-later
// DAB_GET_ENSEMBLE_INFO: the name the ensemble broadcasts, which a listener
// knows a multiplex by ("Capital Stream"), where the frequency alone says
// only "Channel 10B".
#include <cstring>

#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_DAB_get_ensemble_info(Si468x_EnsembleInfo *info) {
    uint8_t command[DAB_GET_ENSEMBLE_INFO_LENGTH] = {DAB_GET_ENSEMBLE_INFO, 0x00};
    uint8_t reply[DAB_GET_ENSEMBLE_INFO_REPLY_LENGTH];
    const int16_t status = Si468x_send_cmd(command, reply, DAB_GET_ENSEMBLE_INFO_LENGTH,
                                           DAB_GET_ENSEMBLE_INFO_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 38);
    }
    info->ensemble_id = Si468x_get_u16(reply + ENSEMBLE_ID);
    std::memcpy(info->label, reply + ENSEMBLE_LABEL, SI468X_LABEL_LENGTH);
    info->abbreviation_mask = Si468x_get_u16(reply + ENSEMBLE_ABBREV);
    return 0;
}
