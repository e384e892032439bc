// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the station list file: the station database and the volume as text,
// one field per line, each service and component decoded field by field.
//
// The file is rewritten after every scan and on every volume key, so it is
// never rewritten in place: the new database goes to a temporary file beside
// the old one, reaches the disk, and is then renamed over it. A crash or power
// cut at any moment leaves either the old or the new database, and a link
// planted at the path is replaced, not followed. A database that cannot be
// written in full (disk full, file size limit) is never put in place: the old
// file stays, the temporary file is removed, and the status is that of a file
// that cannot be created.
//
// The temporary file gets a fresh name, "<path>.saving-XXXXXX", created anew
// (never opened through a link, never one that exists): nothing planted
// under any name can hold a save up or be written through, and no file the
// program did not create is ever removed. It takes the owner, group and mode
// of the file it replaces (of a link's target, for a link at the path), so a
// save keeps what the user set; a first file gets the mode a plain create
// would give it. Anything at the path that is neither a file nor a link (a
// directory, a named pipe, a device), a link that loops, and a list that this
// process cannot open for reading are left alone and the save fails.
//
// A save holds a lock on its temporary file until it is renamed. A temporary
// file that a killed save left is removed by the next save in its directory:
// a regular file of this user under our name pattern, starting like a
// station list, that no saving process holds locked.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DABUtils.h"

namespace {

constexpr char DAB_TEMP_INFIX[] = ".saving-";
constexpr std::size_t DAB_TEMP_RANDOM = 6;
constexpr char DAB_TEMP_ALPHABET[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// Fresh names tried before giving up: each is one of 62^6.
constexpr unsigned DAB_TEMP_ATTEMPTS = 100;
constexpr char DAB_LIST_HEADER[] =
    "Automatically generated and machine read file, do not change!\n";

// The label as "%.16s" would write it, with any line feed or carriage return
// turned into a blank: one raw line end would shift every later line of the
// file out of step for the reader.
void DAB_label_text(const char label[DAB_LABEL_BYTES], char text[DAB_LABEL_BYTES + 1]) {
    std::size_t n = 0;
    for (; n < DAB_LABEL_BYTES && label[n] != '\0'; ++n) {
        text[n] = (label[n] == '\n' || label[n] == '\r') ? ' ' : label[n];
    }
    text[n] = '\0';
}

void DAB_write_component(FILE *file, const Si468x_Component *component, unsigned index) {
    std::fprintf(file, "Comp No. %u\n", index);
    std::fprintf(file, "Comp ID %lu\n", static_cast<unsigned long>(component->comp_id));
    std::fprintf(file, "SubChId %u\n", component->subch_id);
    std::fprintf(file, "tmid %u\n", component->tmid);
    std::fprintf(file, "FIDCId %u\n", component->fidc_id);
    std::fprintf(file, "SCId %u\n", component->sc_id);
    std::fprintf(file, "DG_flag %u\n", component->dg_flag);
    std::fprintf(file, "CA_flag %u\n", component->ca_flag);
    std::fprintf(file, "ps %u\n", component->ps);
    std::fprintf(file, "ASCTyDSCTy %u\n", component->ascty_dscty);
    std::fprintf(file, "muA_info_valid %u\n", component->mua_info_valid);
}

void DAB_write_service(FILE *file, const Si468x_Service *service, unsigned index) {
    char label[DAB_LABEL_BYTES + 1];
    DAB_label_text(service->label, label);
    std::fprintf(file, "Service No. %u\n", index);
    std::fprintf(file, "Service ID. %lu\n", static_cast<unsigned long>(service->service_id));
    std::fprintf(file, "Srv ref. %lu\n", static_cast<unsigned long>(service->service_ref));
    std::fprintf(file, "Country ID %u\n", service->country_id);
    std::fprintf(file, "ECC. %u\n", service->ecc);
    std::fprintf(file, "PD Flag %u\n", service->pd_flag);
    std::fprintf(file, "PTY %u\n", service->pty);
    std::fprintf(file, "SRV linking info flag %u\n", service->linking_info);
    std::fprintf(file, "number components %u\n", service->num_components);
    std::fprintf(file, "CA ID %u\n", service->ca_id);
    std::fprintf(file, "local %u\n", service->local);
    std::fprintf(file, "SI charset %u\n", service->si_charset);
    std::fprintf(file, "Label %s\n", label);
}

void DAB_write_database(FILE *file, const DAB_ScanResults *results, uint8_t volume) {
    const Si468x_EnsembleTime *date = &results->scan_date;
    // A record that claims more ensembles than it has room for is written
    // with the ones it holds.
    const uint8_t num_ensembles =
        results->num_ensembles < DAB_MAX_ENSEMBLES ? results->num_ensembles : DAB_MAX_ENSEMBLES;
    std::fputs("Automatically generated and machine read file, do not change!\n", file);
    std::fprintf(file, "Volume: %u\n", volume);
    std::fprintf(file, "Date of scan (YYYY-MM-DD, HH:MM:SS): %u-%u-%u, %u:%u:%u\n", date->year,
                 date->month, date->day, date->hour, date->minute, date->second);
    std::fprintf(file, "Num. Ensembles: %u\n", num_ensembles);

    // One service and one component record serve the whole file. Each is
    // cleared before it is decoded into, so the fields that the decoders
    // leave alone for the kind at hand are written as 0.
    Si468x_Service service{};
    Si468x_Component component{};
    for (unsigned e = 0; e < num_ensembles; ++e) {
        const DAB_Ensemble *ensemble = &results->ensembles[e];
        std::fprintf(file, "Ensemble No. %u\n", e);
        std::fprintf(file, "List version: %u\n", ensemble->list_version);
        std::fprintf(file, "Freq. Index: %u\n", ensemble->freq_index);
        std::fprintf(file, "Num services: %u\n", ensemble->num_services);
        for (unsigned s = 0; s < ensemble->num_services; ++s) {
            service = Si468x_Service{};
            Si468x_get_digital_service(ensemble, static_cast<uint8_t>(s), &service);
            DAB_write_service(file, &service, s);
            for (unsigned c = 0; c < service.num_components; ++c) {
                component = Si468x_Component{};
                Si468x_get_digital_service_component(&service, static_cast<uint8_t>(c), &component);
                DAB_write_component(file, &component, c);
            }
        }
    }
}

// The directory part of path ("." for none) and where its last name starts.
bool DAB_split_path(const char *path, char directory[DAB_PATH_ROOM], const char **name) {
    const std::size_t length = std::strlen(path);
    if (length + 1 > DAB_PATH_ROOM) {
        return false;
    }
    const char *slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(directory, ".");
        *name = path;
    } else {
        const std::size_t keep = slash == path ? 1 : static_cast<std::size_t>(slash - path);
        std::memcpy(directory, path, keep);
        directory[keep] = '\0';
        *name = slash + 1;
    }
    return true;
}

// A name the program gives its temporary files: "<name>.saving-" and six
// characters of the alphabet.
bool DAB_is_temp_name(const char *entry, const char *name) {
    const std::size_t name_length = std::strlen(name);
    const std::size_t infix_length = sizeof DAB_TEMP_INFIX - 1;
    if (std::strlen(entry) != name_length + infix_length + DAB_TEMP_RANDOM ||
        std::strncmp(entry, name, name_length) != 0 ||
        std::strncmp(entry + name_length, DAB_TEMP_INFIX, infix_length) != 0) {
        return false;
    }
    const char *random = entry + name_length + infix_length;
    return std::strspn(random, DAB_TEMP_ALPHABET) == DAB_TEMP_RANDOM;
}

// True when the open file begins as every station list does (or is empty, as a
// save killed before its first write leaves it).
bool DAB_starts_like_a_list(int fd, off_t size) {
    const std::size_t header = sizeof DAB_LIST_HEADER - 1;
    const std::size_t length =
        size < static_cast<off_t>(header) ? static_cast<std::size_t>(size) : header;
    char text[sizeof DAB_LIST_HEADER] = {};
    return pread(fd, text, length, 0) == static_cast<ssize_t>(length) &&
           std::memcmp(text, DAB_LIST_HEADER, length) == 0;
}

// Removes the temporary files that killed saves left beside path.
void DAB_remove_stale_temp_files(const char *directory, const char *name) {
    DIR *listing = opendir(directory);
    if (listing == nullptr) {
        return;
    }
    const int dir_fd = dirfd(listing);
    for (const dirent *entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        if (!DAB_is_temp_name(entry->d_name, name)) {
            continue;
        }
        struct stat named {};
        if (fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(named.st_mode) || named.st_uid != geteuid()) {
            continue;
        }
        const int fd = openat(dir_fd, entry->d_name,
                              O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat opened {};
        // The lock tells a save still writing (it holds it) from one killed
        // (the kernel released it); the second look makes sure the name
        // still is the file that was locked.
        if (fstat(fd, &opened) == 0 && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino && opened.st_nlink == 1 &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && DAB_starts_like_a_list(fd, opened.st_size) &&
            fstatat(dir_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino) {
            unlinkat(dir_fd, entry->d_name, 0);
        }
        close(fd);
    }
    closedir(listing);
}

void DAB_random_letters(char letters[DAB_TEMP_RANDOM]) {
    unsigned char bytes[DAB_TEMP_RANDOM] = {};
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // Without the kernel's randomness the clock and the process still
        // make names that the exclusive create sorts out.
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^
                       (static_cast<uint64_t>(getpid()) << 32) ^ static_cast<uint64_t>(now.tv_sec);
        for (unsigned char &byte : bytes) {
            mix = mix * 6364136223846793005ull + 1442695040888963407ull;
            byte = static_cast<unsigned char>(mix >> 56);
        }
    }
    for (std::size_t k = 0; k < DAB_TEMP_RANDOM; ++k) {
        letters[k] = DAB_TEMP_ALPHABET[bytes[k] % (sizeof DAB_TEMP_ALPHABET - 1)];
    }
}

// Creates a temporary file of a fresh name beside path; its name goes to
// temp_path. Returns the descriptor, locked, or -1.
int DAB_create_temp_file(const char *path, char temp_path[DAB_PATH_ROOM]) {
    const std::size_t length = std::strlen(path);
    if (length + sizeof DAB_TEMP_INFIX + DAB_TEMP_RANDOM > DAB_PATH_ROOM) {
        return -1;
    }
    std::memcpy(temp_path, path, length);
    std::memcpy(temp_path + length, DAB_TEMP_INFIX, sizeof DAB_TEMP_INFIX - 1);
    char *letters = temp_path + length + sizeof DAB_TEMP_INFIX - 1;
    letters[DAB_TEMP_RANDOM] = '\0';
    for (unsigned attempt = 0; attempt < DAB_TEMP_ATTEMPTS; ++attempt) {
        DAB_random_letters(letters);
        const int fd = open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            flock(fd, LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST) {
            return -1;
        }
    }
    return -1;
}

// What the new file takes over from the one at path. False when the path
// holds something that is not replaced: anything but a file or a link, a link
// that loops or leads where it cannot be followed, and a list that cannot be
// opened for reading. A list that was not read is never saved over, so the
// stations in a file this process may not read stay with it.
bool DAB_replaced_file(const char *path, struct stat *info, bool *carry) {
    *carry = false;
    if (lstat(path, info) != 0) {
        return errno == ENOENT;
    }
    if (S_ISLNK(info->st_mode)) {
        if (stat(path, info) != 0) {
            // A link to nothing is replaced, as a missing file is created.
            return errno == ENOENT;
        }
        if (!S_ISREG(info->st_mode)) {
            return true;
        }
    } else if (!S_ISREG(info->st_mode)) {
        return false;
    }
    DAB_PathKind kind = DAB_PATH_NONE;
    const int fd = DAB_open_regular(path, O_RDONLY, &kind);
    if (fd < 0) {
        return false;
    }
    close(fd);
    *carry = true;
    return true;
}

// Owner first: a change of owner clears the set-id bits of the mode. Only
// root can give a file away; anyone else keeps the owner a create gives.
bool DAB_carry_over(int fd, const struct stat *info) {
    const bool owned = fchown(fd, info->st_uid, info->st_gid) == 0 || geteuid() != 0;
    return owned && fchmod(fd, info->st_mode & 07777) == 0;
}

} // namespace

int16_t DAB_save_scan_results(const DAB_ScanResults *results, const char *path, uint8_t volume) {
    char directory[DAB_PATH_ROOM];
    const char *name = nullptr;
    struct stat replaced {};
    bool carry = false;
    if (!DAB_split_path(path, directory, &name) || !DAB_replaced_file(path, &replaced, &carry)) {
        return DABUtils_failure(-6, 11);
    }
    DAB_remove_stale_temp_files(directory, name);

    char temp_path[DAB_PATH_ROOM];
    const int fd = DAB_create_temp_file(path, temp_path);
    if (fd < 0) {
        return DABUtils_failure(-6, 11);
    }
    FILE *file = nullptr;
    if ((carry && !DAB_carry_over(fd, &replaced)) || (file = fdopen(fd, "w")) == nullptr) {
        close(fd);
        unlink(temp_path);
        return DABUtils_failure(-6, 11);
    }

    DAB_write_database(file, results, volume);

    // Renamed while still open, and so still locked: no other save can take
    // it for one left behind.
    bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    written = written && fsync(fd) == 0;
    const bool renamed = written && std::rename(temp_path, path) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!renamed) {
        unlink(temp_path);
        return DABUtils_failure(-6, 11);
    }
    DAB_sync_directory_of(path);
    if (!closed) {
        return DABUtils_failure(-6, 11);
    }
    return 0;
}
