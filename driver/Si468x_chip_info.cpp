// SPDX-License-Identifier: GPL-3.0-or-later
// GET_PART_INFO, GET_SYS_STATE and GET_FUNC_INFO: what the chip is and what
// it runs.
#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

int16_t Si468x_get_part_info(Si468x_ChipInfo *info) {
    uint8_t command[INFO_COMMAND_LENGTH] = {GET_PART_INFO, 0x00};
    uint8_t reply[GET_PART_INFO_REPLY_LENGTH];
    const int16_t status =
        Si468x_send_cmd(command, reply, INFO_COMMAND_LENGTH, GET_PART_INFO_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 11);
    }
    info->chip_rev = reply[PART_INFO_CHIPREV];
    info->rom_id = reply[PART_INFO_ROMID];
    info->part = Si468x_get_u16(reply + PART_INFO_PART);
    return 0;
}

int16_t Si468x_get_sys_state(Si468x_ChipInfo *info) {
    uint8_t command[INFO_COMMAND_LENGTH] = {GET_SYS_STATE, 0x00};
    uint8_t reply[GET_SYS_STATE_REPLY_LENGTH];
    const int16_t status =
        Si468x_send_cmd(command, reply, INFO_COMMAND_LENGTH, GET_SYS_STATE_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 12);
    }
    info->image = reply[SYS_STATE_IMAGE];
    return 0;
}

int16_t Si468x_get_func_info(Si468x_ChipInfo *info) {
    uint8_t command[INFO_COMMAND_LENGTH] = {GET_FUNC_INFO, 0x00};
    uint8_t reply[GET_FUNC_INFO_REPLY_LENGTH];
    const int16_t status =
        Si468x_send_cmd(command, reply, INFO_COMMAND_LENGTH, GET_FUNC_INFO_REPLY_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 13);
    }
    const uint8_t flags = reply[FUNC_INFO_FLAGS];
    info->rev_ext = reply[FUNC_INFO_REVEXT];
    info->rev_branch = reply[FUNC_INFO_REVBRANCH];
    info->rev_int = reply[FUNC_INFO_REVINT];
    info->no_svn = Si468x_flag(flags, NOSVN);
    info->mixed_rev = Si468x_flag(flags, MIXEDREV);
    info->local_mod = Si468x_flag(flags, LOCALMOD);
    // Without version-control information the location and id bytes mean
    // nothing; the record keeps what it held.
    if (info->no_svn == 0) {
        info->location = (flags >> LOCATION_SHIFT) & LOCATION_MASK;
        info->svn_id = Si468x_get_u32(reply + FUNC_INFO_SVNID);
    }
    return 0;
}
