// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the files of station management: only regular files, and never an
// open that can block.
//
// A named pipe without a writer blocks a plain open for reading for ever, one
// without a reader blocks an open for writing; a device may do anything on
// open. So what stands at a path is looked at first and only a regular file
// (or a link to one) is opened, without blocking, and checked again on the
// open descriptor in case something else took its place in between.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DABUtils.h"

namespace {

DAB_PathKind DAB_kind_of_mode(mode_t mode) {
    if (S_ISREG(mode)) {
        return DAB_PATH_REGULAR;
    }
    if (S_ISDIR(mode)) {
        return DAB_PATH_DIRECTORY;
    }
    if (S_ISFIFO(mode)) {
        return DAB_PATH_FIFO;
    }
    if (S_ISSOCK(mode)) {
        return DAB_PATH_SOCKET;
    }
    if (S_ISCHR(mode)) {
        return DAB_PATH_CHAR_DEVICE;
    }
    if (S_ISBLK(mode)) {
        return DAB_PATH_BLOCK_DEVICE;
    }
    return DAB_PATH_OTHER;
}

} // namespace

DAB_PathKind DAB_path_kind_error(const char *path, int *error) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        *error = errno;
        // A link whose target is missing counts as nothing there: opening it
        // for writing creates the target, as a plain open would. Anything
        // else that stops the look (no permission, an I/O error) is not
        // nothing: the path may well hold the user's file.
        if (*error == ENOENT) {
            return DAB_PATH_NONE;
        }
        return *error == ELOOP ? DAB_PATH_LINK_LOOP : DAB_PATH_UNREADABLE;
    }
    *error = 0;
    return DAB_kind_of_mode(info.st_mode);
}

DAB_PathKind DAB_path_kind(const char *path) {
    int error = 0;
    return DAB_path_kind_error(path, &error);
}

const char *DAB_path_kind_name(DAB_PathKind kind) {
    switch (kind) {
    case DAB_PATH_NONE:
        return "missing";
    case DAB_PATH_REGULAR:
        return "a regular file";
    case DAB_PATH_DIRECTORY:
        return "a directory";
    case DAB_PATH_FIFO:
        return "a named pipe (FIFO)";
    case DAB_PATH_SOCKET:
        return "a socket";
    case DAB_PATH_CHAR_DEVICE:
        return "a character device";
    case DAB_PATH_BLOCK_DEVICE:
        return "a block device";
    case DAB_PATH_LINK_LOOP:
        return "a symbolic link that loops";
    case DAB_PATH_UNREADABLE:
        return "a path that cannot be looked at";
    case DAB_PATH_OTHER:
        break;
    }
    return "not a regular file";
}

int DAB_open_regular_error(const char *path, int flags, DAB_PathKind *kind, int *error) {
    *kind = DAB_path_kind_error(path, error);
    if (*kind != DAB_PATH_REGULAR && *kind != DAB_PATH_NONE) {
        if (*error == 0) {
            *error = *kind == DAB_PATH_DIRECTORY ? EISDIR : EINVAL;
        }
        errno = *error;
        return -1;
    }
    const int fd = open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // The open's reason stands; the kind is looked at again, in case
        // something else took the file's place in between.
        const int reason = errno;
        int probe = 0;
        *kind = DAB_path_kind_error(path, &probe);
        *error = reason;
        errno = reason;
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *kind = fstat(fd, &info) == 0 ? DAB_kind_of_mode(info.st_mode) : DAB_PATH_OTHER;
        close(fd);
        *error = *kind == DAB_PATH_DIRECTORY ? EISDIR : EINVAL;
        errno = *error;
        return -1;
    }
    // Blocking again, as a regular file always behaves.
    const int status_flags = fcntl(fd, F_GETFL);
    if (status_flags >= 0) {
        fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK);
    }
    *kind = DAB_PATH_REGULAR;
    *error = 0;
    return fd;
}

int DAB_open_regular(const char *path, int flags, DAB_PathKind *kind) {
    int error = 0;
    return DAB_open_regular_error(path, flags, kind, &error);
}

void DAB_sync_directory_of(const char *path) {
    char directory[DAB_PATH_ROOM];
    const std::size_t length = std::strlen(path);
    if (length >= sizeof directory) {
        return;
    }
    std::memcpy(directory, path, length + 1);
    char *slash = std::strrchr(directory, '/');
    if (slash == nullptr) {
        std::strcpy(directory, ".");
    } else if (slash == directory) {
        slash[1] = '\0';
    } else {
        *slash = '\0';
    }
    const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

std::FILE *DAB_open_log(const char *path) {
    DAB_PathKind kind = DAB_PATH_NONE;
    const int fd = DAB_open_regular(path, O_WRONLY | O_APPEND | O_CREAT, &kind);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE *file = fdopen(fd, "a");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

bool DAB_close_log(std::FILE *file) {
    // A full disk shows at the flush, when the buffered record is written.
    const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return flushed && closed;
}
