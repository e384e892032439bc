// SPDX-License-Identifier: GPL-3.0-or-later
// The station list as the engine uses it: what stands at its path, its load
// (a list that does not read back whole is kept beside itself before any save
// can replace it), and its save.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DAB_radio.h"

bool DAB_list_present(const char *path, DAB_ListLoadFacts *facts) {
    *facts = DAB_ListLoadFacts{};
    errno = 0;
    const int fd = DAB_open_regular(path, O_RDONLY, &facts->kind);
    if (fd >= 0) {
        close(fd);
        facts->outcome = DAB_LIST_LOADED;
        return true;
    }
    int error = errno;
    // A path that cannot be looked at is not opened at all; its own reason
    // is the one to give.
    struct stat info {};
    if (facts->kind == DAB_PATH_OTHER && stat(path, &info) != 0) {
        error = errno;
    } else if (facts->kind == DAB_PATH_OTHER) {
        facts->outcome = DAB_LIST_NOT_REGULAR;
        return false;
    }
    if (facts->kind != DAB_PATH_NONE && facts->kind != DAB_PATH_REGULAR &&
        facts->kind != DAB_PATH_OTHER) {
        facts->outcome = DAB_LIST_NOT_REGULAR;
        return false;
    }
    // Only a list that is not there at all is a first start. One that is
    // there but cannot be opened or looked at (no permission, a failing
    // disk, a link that loops) holds the user's stations all the same.
    if (error == ENOENT || (facts->kind == DAB_PATH_NONE && error == 0)) {
        facts->outcome = DAB_LIST_MISSING;
        return false;
    }
    facts->outcome = DAB_LIST_UNREADABLE;
    facts->error = error != 0 ? error : EIO;
    return false;
}

DAB_ListLoad DAB_radio_load_list(DAB_Radio *radio, const char *path, DAB_ListLoadFacts *facts) {
    if (!DAB_list_present(path, facts)) {
        if (facts->outcome == DAB_LIST_UNREADABLE) {
            radio->list_held = 1;
        }
        return facts->outcome;
    }
    errno = 0;
    if (DAB_read_station_list(&radio->stations, path, &radio->volume, &facts->check) != 0) {
        // It was there a moment ago: it is not a first start either.
        facts->outcome = DAB_LIST_UNREADABLE;
        facts->error = errno != 0 ? errno : EIO;
        radio->list_held = 1;
        return facts->outcome;
    }
    if (facts->check.whole != 0) {
        facts->outcome = DAB_LIST_LOADED;
        return facts->outcome;
    }
    if (DAB_keep_station_list(path, facts->kept_path, sizeof facts->kept_path) == 0) {
        facts->outcome = DAB_LIST_DAMAGED_KEPT;
        return facts->outcome;
    }
    facts->kept_path[0] = '\0';
    radio->list_held = 1;
    facts->outcome = DAB_LIST_DAMAGED_HELD;
    return facts->outcome;
}

int16_t DAB_radio_save_list(const DAB_Radio *radio, const char *path) {
    if (radio->list_held != 0) {
        return DABUtils_failure(-6, 11);
    }
    return DAB_save_scan_results(&radio->stations, path, radio->volume);
}
