// SPDX-License-Identifier: GPL-3.0-or-later
// Writing the station list file: the station database and the volume as text,
// one field per line, each service and component decoded field by field.
//
// The file is rewritten after every scan and on every volume key, so it is
// never rewritten in place: the new database goes to "<path>.tmp" beside the
// old file, reaches the disk, and is then renamed over it. A crash or power
// cut at any moment leaves either the old or the new database, and a link
// planted at the path is replaced, not followed. A database that cannot be
// written in full (disk full, file size limit) is never put in place: the old
// file stays, the temporary file is removed, and the status is that of a file
// that cannot be created.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "DABUtils.h"

namespace {

constexpr char DAB_TEMP_SUFFIX[] = ".tmp";
constexpr std::size_t DAB_LABEL_LENGTH = 16;

// The label as "%.16s" would write it, with any line feed or carriage return
// turned into a blank: one raw line end would shift every later line of the
// file out of step for the reader.
void DAB_label_text(const char label[DAB_LABEL_LENGTH], char text[DAB_LABEL_LENGTH + 1]) {
    std::size_t n = 0;
    for (; n < DAB_LABEL_LENGTH && label[n] != '\0'; ++n) {
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
    char label[DAB_LABEL_LENGTH + 1];
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

// The directory entry of the rename reaches the disk too; a directory that
// cannot be opened or synced leaves that to the file system.
void DAB_sync_directory(const char *path) {
    char directory[DAB_PATH_ROOM];
    std::strcpy(directory, path);
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

} // namespace

int16_t DAB_save_scan_results(const DAB_ScanResults *results, const char *path, uint8_t volume) {
    char temp_path[DAB_PATH_ROOM];
    if (std::strlen(path) + sizeof DAB_TEMP_SUFFIX > sizeof temp_path) {
        return DABUtils_failure(-6, 11);
    }
    std::strcpy(temp_path, path);
    std::strcat(temp_path, DAB_TEMP_SUFFIX);

    // A temporary file left by a save that was cut short, or anything planted
    // under its name, goes first; the new one is created afresh, never opened
    // through a link.
    if (unlink(temp_path) != 0 && errno != ENOENT) {
        return DABUtils_failure(-6, 11);
    }
    const int fd = open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return DABUtils_failure(-6, 11);
    }
    FILE *file = fdopen(fd, "w");
    if (file == nullptr) {
        close(fd);
        unlink(temp_path);
        return DABUtils_failure(-6, 11);
    }

    DAB_write_database(file, results, volume);

    bool written = std::fflush(file) == 0 && std::ferror(file) == 0;
    written = written && fsync(fd) == 0;
    written = (std::fclose(file) == 0) && written;
    if (!written || std::rename(temp_path, path) != 0) {
        unlink(temp_path);
        return DABUtils_failure(-6, 11);
    }
    DAB_sync_directory(path);
    return 0;
}
