// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the station list file: the fields of every service and component
// packed back into the raw service-list bytes that the service decoders read.
//
// The file is not validated: a line that fails to match stores whatever the
// scratch number held before (it starts at 0). Its counts are not trusted
// either; what does not fit the database is cut:
// - ensembles beyond DAB_MAX_ENSEMBLES are not read (nothing after them in
//   the file is stored), and num_ensembles says how many were read;
// - reading ends with the file: the ensembles, services and component groups
//   that a cut file claims but no longer holds are not read (num_ensembles and
//   num_services count those begun, missing components stay zero), so a
//   truncated file costs no more than its own lines;
// - a service that would end beyond the SI468X_SERVICE_DATA_SIZE bytes of
//   its ensemble, or that claims more than SI468X_MAX_COMPONENTS components,
//   ends that ensemble: it and the ensemble's later services are read, to keep
//   the file in step, and dropped, and num_services counts those stored;
// - the component groups of a service are as many as the low 8 bits of its
//   count say;
// - a label line is read whole, however long, and only its first
//   DAB_LABEL_LINE_LENGTH characters are looked at;
// - the volume is taken as the nearest bound of 0-63 when the file holds one
//   outside them (a negative one too), so that the keys act at once on what
//   is heard; a volume line that cannot be read leaves the caller's volume.
//
// Only a regular file (or a link to one) is read, and its open never blocks:
// a named pipe at the path would otherwise hold the program before anything
// is shown.
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "DABUtils.h"
#include "DAB_station_list_check.h"
#include "Si468x_commands.h"

namespace {

constexpr std::size_t DAB_LABEL_LINE_LENGTH = 29;

// Room for the volume's digits and sign; more digits than this are out of
// range however they go on.
constexpr std::size_t DAB_VOLUME_TOKEN = 40;

struct DAB_ListReader {
    FILE *file;
    unsigned scratch; // every number goes through it, matched or not
};

// Match results are not looked at: a line that does not match leaves the
// scratch number as it was.
unsigned DAB_read_number(DAB_ListReader *reader, const char *format) {
    const int matched = std::fscanf(reader->file, format, &reader->scratch);
    static_cast<void>(matched);
    return reader->scratch;
}

// For lines whose numbers are all skipped ("%*u"): the scratch pointer is
// passed but never written through.
void DAB_skip_line(DAB_ListReader *reader, const char *format) {
    const int matched = std::fscanf(reader->file, format, &reader->scratch);
    static_cast<void>(matched);
}

// Every line is matched up to the whitespace that starts the next, so the
// end of the file shows as soon as its last line has been read.
bool DAB_at_end(DAB_ListReader *reader) {
    return std::feof(reader->file) != 0;
}

uint8_t DAB_low_byte(unsigned value) {
    return static_cast<uint8_t>(value & 0xFF);
}

// The label line is taken whole, so that a label of blanks cannot make the
// match run on into the next line and an overlong line cannot leave its rest
// to be read as the following fields.
void DAB_read_label(DAB_ListReader *reader, char raw_label[DAB_LABEL_BYTES]) {
    char line[DAB_LABEL_LINE_LENGTH + 1] = {};
    std::size_t length = 0;
    for (int c = std::getc(reader->file); c != EOF && c != '\n'; c = std::getc(reader->file)) {
        if (length < DAB_LABEL_LINE_LENGTH) {
            line[length++] = static_cast<char>(c);
        }
    }
    // What the line does not supply stays zero.
    char label[DAB_LABEL_BYTES + 1] = {};
    static_assert(DAB_LABEL_BYTES == 16, "the field width of the label's format");
    const int matched = std::sscanf(line, "Label %16[^\n]", label);
    static_cast<void>(matched);
    std::memcpy(raw_label, label, DAB_LABEL_BYTES);
}

// The fields that the raw component record keeps; SubChId, TMID, FIDCId,
// SCId and DG_flag are all bits of the component id and are skipped.
void DAB_read_component(DAB_ListReader *reader, Si468x_Component *component) {
    DAB_skip_line(reader, "Comp No. %*u\n");
    component->comp_id = DAB_read_number(reader, "Comp ID %u\n");
    DAB_read_number(reader, "SubChId %u\n");
    DAB_read_number(reader, "tmid %u\n");
    DAB_read_number(reader, "FIDCId %u\n");
    DAB_read_number(reader, "SCId %u\n");
    DAB_read_number(reader, "DG_flag %u\n");
    component->ca_flag = DAB_low_byte(DAB_read_number(reader, "CA_flag %u\n"));
    component->ps = DAB_low_byte(DAB_read_number(reader, "ps %u\n"));
    component->ascty_dscty = DAB_low_byte(DAB_read_number(reader, "ASCTyDSCTy %u\n"));
    component->mua_info_valid = DAB_low_byte(DAB_read_number(reader, "muA_info_valid %u\n"));
}

// Reads one service group into `service`, with its components packed into
// component_data. Returns false when it claims more components than a
// service can have (its groups are read all the same).
bool DAB_read_service(DAB_ListReader *reader, Si468x_Service *service) {
    DAB_skip_line(reader, "Service No. %*u\n");
    // Reference, country id and ECC are bits of the service id.
    service->service_id = DAB_read_number(reader, "Service ID. %u\n");
    DAB_read_number(reader, "Srv ref. %u\n");
    DAB_read_number(reader, "Country ID %u\n");
    DAB_read_number(reader, "ECC. %u\n");
    service->pd_flag = DAB_low_byte(DAB_read_number(reader, "PD Flag %u\n"));
    service->pty = DAB_low_byte(DAB_read_number(reader, "PTY %u\n"));
    service->linking_info = DAB_low_byte(DAB_read_number(reader, "SRV linking info flag %u\n"));
    service->num_components = DAB_low_byte(DAB_read_number(reader, "number components %u\n"));
    service->ca_id = DAB_low_byte(DAB_read_number(reader, "CA ID %u\n"));
    service->local = DAB_low_byte(DAB_read_number(reader, "local %u\n"));
    service->si_charset = DAB_low_byte(DAB_read_number(reader, "SI charset %u\n"));
    DAB_read_label(reader, service->label);

    for (unsigned c = 0; c < service->num_components && !DAB_at_end(reader); ++c) {
        Si468x_Component component{};
        DAB_read_component(reader, &component);
        if (c < SI468X_MAX_COMPONENTS) {
            Si468x_encode_digital_service_component(&component, static_cast<uint8_t>(c), service);
        }
    }
    return service->num_components <= SI468X_MAX_COMPONENTS;
}

void DAB_read_ensemble(DAB_ListReader *reader, DAB_Ensemble *ensemble) {
    DAB_skip_line(reader, "Ensemble No. %*u\n");
    ensemble->list_version =
        static_cast<uint16_t>(DAB_read_number(reader, "List version: %u\n") & 0xFFFF);
    ensemble->freq_index = DAB_low_byte(DAB_read_number(reader, "Freq. Index: %u\n"));
    const uint8_t num_services = DAB_low_byte(DAB_read_number(reader, "Num services: %u\n"));

    // The encoder appends each stored service and counts it; byte 7 of each
    // record is not in the file, and the entry keeps what it held there.
    ensemble->num_services = 0;
    ensemble->data_length = 0;
    bool full = false;
    for (unsigned s = 0; s < num_services && !DAB_at_end(reader); ++s) {
        Si468x_Service service{};
        const bool whole = DAB_read_service(reader, &service);
        const unsigned size =
            SI468X_SERVICE_HEADER_LENGTH +
            SI468X_COMPONENT_LENGTH * static_cast<unsigned>(service.num_components);
        if (full || !whole || ensemble->data_length + size > SI468X_SERVICE_DATA_SIZE) {
            full = true;
            continue;
        }
        // Cannot fail: the size is checked above and the count stays below 256.
        Si468x_encode_digital_service(&service, ensemble);
    }
}

// The volume line: a sign and digits, taken as the nearest volume of 0-63.
void DAB_read_volume(DAB_ListReader *reader, uint8_t *volume) {
    char token[DAB_VOLUME_TOKEN + 1] = {};
    if (std::fscanf(reader->file, "Volume: %40[-+0123456789]\n", token) != 1) {
        return;
    }
    const char *digits = token;
    const bool negative = *digits == '-';
    if (*digits == '-' || *digits == '+') {
        ++digits;
    }
    if (*digits == '\0') {
        return;
    }
    unsigned value = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits) {
        value = value * 10 + static_cast<unsigned>(*digits - '0');
        if (value > AUDIO_ANALOG_VOLUME_MAX) {
            value = AUDIO_ANALOG_VOLUME_MAX;
        }
    }
    if (negative) {
        value = 0;
    }
    reader->scratch = value;
    *volume = static_cast<uint8_t>(value);
}

// Opens the list for reading, or says what stands at the path instead.
FILE *DAB_open_list(const char *path) {
    DAB_PathKind kind = DAB_PATH_NONE;
    const int fd = DAB_open_regular(path, O_RDONLY, &kind);
    if (fd < 0) {
        if (kind != DAB_PATH_NONE && kind != DAB_PATH_REGULAR) {
            std::printf("%s is %s, not a regular file\n", path, DAB_path_kind_name(kind));
        }
        return nullptr;
    }
    FILE *file = fdopen(fd, "r");
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

void DAB_read_list(FILE *file, DAB_ScanResults *results, uint8_t *volume) {
    DAB_ListReader reader{file, 0};

    DAB_skip_line(&reader, "Automatically generated and machine read file, do not change!\n");
    DAB_read_volume(&reader, volume);
    DAB_skip_line(&reader, "Date of scan (YYYY-MM-DD, HH:MM:SS): %*u-%*u-%*u, %*u:%*u:%*u\n");
    const uint8_t num_ensembles = DAB_low_byte(DAB_read_number(&reader, "Num. Ensembles: %u\n"));

    const uint8_t room = num_ensembles < DAB_MAX_ENSEMBLES ? num_ensembles : DAB_MAX_ENSEMBLES;
    uint8_t read = 0;
    for (; read < room && !DAB_at_end(&reader); ++read) {
        DAB_read_ensemble(&reader, &results->ensembles[read]);
    }
    results->num_ensembles = read;
}

} // namespace

int16_t DAB_read_scan_results(DAB_ScanResults *results, const char *path, uint8_t *volume) {
    return DAB_read_station_list(results, path, volume, nullptr);
}

int16_t DAB_read_station_list(DAB_ScanResults *results, const char *path, uint8_t *volume,
                              DAB_ListCheck *check) {
    std::printf("Reading station list: %s\n", path);
    FILE *file = DAB_open_list(path);
    if (file == nullptr) {
        std::printf("Could not open file for reading\n");
        return DABUtils_failure(-6, 12);
    }
    DAB_read_list(file, results, volume);
    // The same open file is checked, so the verdict is about the bytes read.
    if (check != nullptr) {
        std::rewind(file);
        DAB_check_station_list_file(file, check);
    }
    std::fclose(file);
    return 0;
}

int16_t DAB_check_station_list(const char *path, DAB_ListCheck *check) {
    DAB_PathKind kind = DAB_PATH_NONE;
    const int fd = DAB_open_regular(path, O_RDONLY, &kind);
    FILE *file = fd >= 0 ? fdopen(fd, "r") : nullptr;
    if (file == nullptr) {
        if (fd >= 0) {
            close(fd);
        }
        return DABUtils_failure(-6, 15);
    }
    DAB_check_station_list_file(file, check);
    std::fclose(file);
    return 0;
}
