// SPDX-License-Identifier: GPL-3.0-or-later
// The station list file as the radio uses it: the test for it at start, its
// load, and its saves. A list that does not read back whole is still loaded
// as far as it reads, but it is kept beside itself before any save can
// replace it, and the console says where, so the user's stations are never
// lost to a save of what little could be read.
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "CorvaneRadio.h"

bool station_list_present(bool say) {
    DAB_PathKind kind = DAB_PATH_NONE;
    const int fd = DAB_open_regular(CORVANE_RADIO_STATION_LIST, O_RDONLY, &kind);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    if (say && kind != DAB_PATH_NONE && kind != DAB_PATH_REGULAR) {
        std::printf("%s is %s, not a regular file: no station list is read from it or saved "
                    "to it.\n",
                    CORVANE_RADIO_STATION_LIST, DAB_path_kind_name(kind));
    }
    return false;
}

void station_list_load(CorvaneRadio_State *state) {
    DAB_ListCheck check{};
    if (DAB_read_station_list(&state->scan_results, CORVANE_RADIO_STATION_LIST, &state->volume,
                              &check) != 0 ||
        check.whole != 0) {
        return;
    }
    char kept[DAB_PATH_ROOM];
    if (DAB_keep_station_list(CORVANE_RADIO_STATION_LIST, kept, sizeof kept) == 0) {
        std::printf("%s did not read back whole (line %lu: %s); it is kept unchanged as %s\n",
                    CORVANE_RADIO_STATION_LIST, static_cast<unsigned long>(check.line),
                    DAB_list_fault_text(check.fault), kept);
        return;
    }
    state->station_list_held = 1;
    std::printf("%s did not read back whole (line %lu: %s) and could not be kept beside it: it "
                "will not be overwritten.\n",
                CORVANE_RADIO_STATION_LIST, static_cast<unsigned long>(check.line),
                DAB_list_fault_text(check.fault));
}

int16_t station_list_save(const CorvaneRadio_State *state) {
    if (state->station_list_held != 0) {
        return DABUtils_failure(-6, 11);
    }
    return DAB_save_scan_results(&state->scan_results, CORVANE_RADIO_STATION_LIST, state->volume);
}
