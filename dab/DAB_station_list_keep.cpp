// SPDX-License-Identifier: GPL-3.0-or-later
// Keeping a station list that did not read back whole: a byte-for-byte copy
// beside it, "<path>.damaged-N", before anything replaces it. The user's
// stations can always be had back from it.
//
// A copy is never written over: each one takes the first free number, and a
// file already kept (the same bytes under such a name) is not kept twice, so
// starting again and again with the same damaged list does not pile up
// copies. The copy is a file of its own, not a second link to the same one, so
// that an editor writing the list in place cannot change it; it gets the
// list's owner, group and mode, and reaches the disk before this returns.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DABUtils.h"

namespace {

constexpr char DAB_KEPT_SUFFIX[] = ".damaged-";
constexpr unsigned DAB_MAX_KEPT = 999;
constexpr std::size_t DAB_COPY_CHUNK = 4096;

// pread of `size` bytes at `offset`, through interruptions and short reads.
bool DAB_read_at(int fd, uint8_t *buffer, std::size_t size, off_t offset) {
    while (size > 0) {
        const ssize_t n = pread(fd, buffer, size, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        buffer += n;
        size -= static_cast<std::size_t>(n);
        offset += n;
    }
    return true;
}

bool DAB_write_all(int fd, const uint8_t *buffer, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, buffer, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        buffer += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// True when the file at `path`, itself and not a link, holds exactly the
// `size` bytes of `source`. A link there could lead back to the list that a
// save is about to replace.
bool DAB_same_bytes(const char *path, int source, off_t size) {
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    bool same = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == size;
    uint8_t ours[DAB_COPY_CHUNK];
    uint8_t theirs[DAB_COPY_CHUNK];
    for (off_t at = 0; same && at < size; at += static_cast<off_t>(DAB_COPY_CHUNK)) {
        const std::size_t chunk = size - at < static_cast<off_t>(DAB_COPY_CHUNK)
                                      ? static_cast<std::size_t>(size - at)
                                      : DAB_COPY_CHUNK;
        same = DAB_read_at(source, ours, chunk, at) && DAB_read_at(fd, theirs, chunk, at) &&
               std::memcmp(ours, theirs, chunk) == 0;
    }
    close(fd);
    return same;
}

bool DAB_copy_bytes(int source, int target, off_t size) {
    uint8_t buffer[DAB_COPY_CHUNK];
    for (off_t at = 0; at < size; at += static_cast<off_t>(DAB_COPY_CHUNK)) {
        const std::size_t chunk = size - at < static_cast<off_t>(DAB_COPY_CHUNK)
                                      ? static_cast<std::size_t>(size - at)
                                      : DAB_COPY_CHUNK;
        if (!DAB_read_at(source, buffer, chunk, at) || !DAB_write_all(target, buffer, chunk)) {
            return false;
        }
    }
    return true;
}

} // namespace

int16_t DAB_keep_station_list(const char *path, char *kept_path, std::size_t room) {
    DAB_PathKind kind = DAB_PATH_NONE;
    const int source = DAB_open_regular(path, O_RDONLY, &kind);
    if (source < 0) {
        return DABUtils_failure(-6, 16);
    }
    struct stat info {};
    if (fstat(source, &info) != 0) {
        close(source);
        return DABUtils_failure(-6, 116);
    }
    for (unsigned n = 1; n <= DAB_MAX_KEPT; ++n) {
        const int length = std::snprintf(kept_path, room, "%s%s%u", path, DAB_KEPT_SUFFIX, n);
        if (length < 0 || static_cast<std::size_t>(length) >= room) {
            close(source);
            return DABUtils_failure(-6, 216);
        }
        const int target =
            open(kept_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (target < 0) {
            if (errno == EEXIST) {
                if (DAB_same_bytes(kept_path, source, info.st_size)) {
                    close(source);
                    return 0;
                }
                continue;
            }
            close(source);
            return DABUtils_failure(-6, 316);
        }
        // Owner first: a change of owner clears the set-id bits of the mode.
        const bool owned = fchown(target, info.st_uid, info.st_gid) == 0 || geteuid() != 0;
        const bool copied = owned && fchmod(target, info.st_mode & 07777) == 0 &&
                            DAB_copy_bytes(source, target, info.st_size) && fsync(target) == 0;
        const bool closed = close(target) == 0;
        close(source);
        if (!copied || !closed) {
            // Only the copy this call created goes; never one kept before.
            unlink(kept_path);
            return DABUtils_failure(-6, 516);
        }
        DAB_sync_directory_of(kept_path);
        return 0;
    }
    close(source);
    return DABUtils_failure(-6, 416);
}
