// SPDX-License-Identifier: GPL-3.0-or-later
// The station list file as the radio uses it: the test for it at start, its
// load, and its saves. A list that does not read back whole is still loaded
// as far as it reads, but it is kept beside itself before any save can
// replace it, and the console says where, so the user's stations are never
// lost to a save of what little could be read.
#include <cstdio>
#include <cstring>

#include "CorvaneRadio.h"

bool station_list_present(bool say) {
    DAB_ListLoadFacts facts{};
    if (DAB_list_present(CORVANE_RADIO_STATION_LIST, &facts)) {
        return true;
    }
    if (facts.outcome == DAB_LIST_UNREADABLE) {
        if (say) {
            std::printf("%s cannot be read (%s): it is not used, and nothing is saved over it.\n",
                        CORVANE_RADIO_STATION_LIST, std::strerror(facts.error));
        }
        return true;
    }
    if (say && facts.outcome == DAB_LIST_NOT_REGULAR) {
        std::printf("%s is %s, not a regular file: no station list is read from it or saved "
                    "to it.\n",
                    CORVANE_RADIO_STATION_LIST, DAB_path_kind_name(facts.kind));
    }
    return false;
}

DAB_ListLoad station_list_load(CorvaneRadio_State *state) {
    DAB_ListLoadFacts facts{};
    const DAB_ListLoad outcome =
        DAB_radio_load_list(&state->radio, CORVANE_RADIO_STATION_LIST, &facts);
    switch (outcome) {
    case DAB_LIST_DAMAGED_KEPT:
        std::printf("%s did not read back whole (line %lu: %s); it is kept unchanged as %s\n",
                    CORVANE_RADIO_STATION_LIST, static_cast<unsigned long>(facts.check.line),
                    DAB_list_fault_text(facts.check.fault), facts.kept_path);
        break;
    case DAB_LIST_DAMAGED_HELD:
        std::printf("%s did not read back whole (line %lu: %s) and could not be kept beside it: "
                    "it will not be overwritten.\n",
                    CORVANE_RADIO_STATION_LIST, static_cast<unsigned long>(facts.check.line),
                    DAB_list_fault_text(facts.check.fault));
        break;
    case DAB_LIST_UNREADABLE:
        state->station_list_unreadable = 1;
        break;
    case DAB_LIST_LOADED:
    case DAB_LIST_MISSING:
    case DAB_LIST_NOT_REGULAR:
        break;
    }
    return outcome;
}

int16_t station_list_save(const CorvaneRadio_State *state) {
    return DAB_radio_save_list(&state->radio, CORVANE_RADIO_STATION_LIST);
}
