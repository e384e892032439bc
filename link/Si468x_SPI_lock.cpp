// SPDX-License-Identifier: GPL-3.0-or-later
// The chip lock: one program at a time drives the Si468x. Two programs on the
// chip interleave their frames (on the bcm2835 path each maps the SPI
// registers itself; spidev serialises single transfers, not a command and
// its reply), so the open takes an exclusive lock before anything else and
// keeps it until the close or the end of the process.
//
// The lock is a flock on the SPI device node. flock, not a POSIX record
// lock: a record lock is dropped when the process closes any descriptor of
// the same file, and the kernel path and the bcm2835 path's check both open
// and close the node while the lock must stand. A flock belongs to the one
// open file description that took it, which the link never closes while the
// chip is its own; the kernel drops it when the process ends, however it
// ends, so a crash never leaves the chip locked. The node is the one file
// every path opens and every user of the chip can open, and it needs no
// directory of its own. The holder is named from the kernel's lock table
// (flock has no F_GETLK) and the holder's /proc entry.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Si468x_SPI.h"
#include "Si468x_SPI_paths.h"
#include "Si468x_SPI_sys.h"

namespace {

// The descriptor that holds the lock, and the node it was taken on: a test
// process opens boards in several directories, one after the other.
int Si468x_SPI_Lock = -1;
constexpr std::size_t SI468X_SPI_LOCK_PATH_MAX = 512;
char Si468x_SPI_LockPath[SI468X_SPI_LOCK_PATH_MAX];

// Who held the chip when the last open was refused.
bool Si468x_SPI_Refused = false;
Si468x_SPI_Holder Si468x_SPI_LastHolder;

// One line of the lock table: "<n>: FLOCK  ADVISORY  WRITE <pid> <maj>:<min>:<inode> 0 EOF".
// A waiter's line has "->" after the number and holds nothing.
bool Si468x_SPI_holder_line(const char *line, unsigned major_id, unsigned minor_id,
                            unsigned long inode, long *pid) {
    char first[16];
    char kind[16];
    char mode[16];
    char access[16];
    long line_pid = 0;
    unsigned line_major = 0;
    unsigned line_minor = 0;
    unsigned long line_inode = 0;
    if (std::sscanf(line, "%15s %15s %15s %15s %ld %x:%x:%lu", first, kind, mode, access, &line_pid,
                    &line_major, &line_minor, &line_inode) != 8) {
        return false;
    }
    if (std::strcmp(kind, "FLOCK") != 0 || line_major != major_id || line_minor != minor_id ||
        line_inode != inode || line_pid <= 0) {
        return false;
    }
    *pid = line_pid;
    return true;
}

} // namespace

bool Si468x_SPI_find_holder(const char *node, const char *lock_table, Si468x_SPI_Holder *holder) {
    *holder = Si468x_SPI_Holder{};
    struct stat info {};
    if (::stat(node, &info) != 0) {
        return false;
    }
    std::FILE *table = std::fopen(lock_table, "r");
    if (table == nullptr) {
        return false;
    }
    char line[256];
    long pid = 0;
    while (pid == 0 && std::fgets(line, sizeof line, table) != nullptr) {
        if (!Si468x_SPI_holder_line(line, major(info.st_dev), minor(info.st_dev), info.st_ino,
                                    &pid)) {
            pid = 0;
        }
    }
    std::fclose(table);
    if (pid == 0) {
        return false;
    }
    char comm_path[48];
    std::snprintf(comm_path, sizeof comm_path, "/proc/%ld/comm", pid);
    std::FILE *comm = std::fopen(comm_path, "r");
    if (comm == nullptr) {
        return false;
    }
    char name[SI468X_SPI_HOLDER_NAME_SIZE] = {};
    const bool read = std::fgets(name, sizeof name, comm) != nullptr;
    std::fclose(comm);
    name[std::strcspn(name, "\n")] = '\0';
    if (!read || name[0] == '\0') {
        return false;
    }
    holder->pid = pid;
    std::memcpy(holder->name, name, sizeof name);
    return true;
}

int Si468x_SPI_lock_take(void) {
    const char *node = Si468x_SPI_device_node();
    Si468x_SPI_Refused = false;
    if (Si468x_SPI_Lock >= 0) {
        if (std::strncmp(Si468x_SPI_LockPath, node, sizeof Si468x_SPI_LockPath) == 0) {
            return 0;
        }
        Si468x_SPI_lock_release();
    }
    const int fd = Si468x_SPI_sys_lock(node);
    if (fd >= 0) {
        Si468x_SPI_Lock = fd;
        std::snprintf(Si468x_SPI_LockPath, sizeof Si468x_SPI_LockPath, "%s", node);
        return 0;
    }
    if (errno != EWOULDBLOCK) {
        return -1;
    }
    Si468x_SPI_Refused = true;
    Si468x_SPI_find_holder(node, Si468x_SPI_locks_node(), &Si468x_SPI_LastHolder);
    return SI468X_SPI_HELD;
}

void Si468x_SPI_lock_release(void) {
    if (Si468x_SPI_Lock >= 0) {
        Si468x_SPI_sys_unlock(Si468x_SPI_Lock);
        Si468x_SPI_Lock = -1;
        Si468x_SPI_LockPath[0] = '\0';
    }
}

int Si468x_SPI_holder(Si468x_SPI_Holder *holder) {
    if (!Si468x_SPI_Refused) {
        *holder = Si468x_SPI_Holder{};
        return 0;
    }
    *holder = Si468x_SPI_LastHolder;
    return 1;
}
