// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the station list file: the fields of every service and component
// packed back into the raw service-list bytes that the service decoders read.
//
// The file is read line by line, each line taken as formatted input would
// take it (blank lines and blanks before a line skipped, a blank in a key
// matching any run of blanks, blanks after the number allowed). A record
// goes into the database only when it was read whole: every line of it of
// its form and every number within what its field holds. A record that was
// not is dropped, never stored half-read or zero-filled:
// - a service or ensemble with a line that is not what belongs there is
//   read to its end and dropped, and reading goes on with the next one
//   (a dropped ensemble takes its services with it);
// - a count that cannot be read, or the end of the file (a last line without
//   its line end too), ends the reading: nothing after it can be found
//   again, and the record begun is dropped.
// Its counts are not trusted either; what does not fit the database is cut:
// - ensembles beyond DAB_MAX_ENSEMBLES are not read (nothing after them in
//   the file is stored), and num_ensembles says how many were stored;
// - a service that would end beyond the SI468X_SERVICE_DATA_SIZE bytes of
//   its ensemble, or that claims more than SI468X_MAX_COMPONENTS components,
//   ends that ensemble: it and the ensemble's later services are read, to keep
//   the file in step, and dropped, and num_services counts those stored;
// - a label line is read whole, however long: the label is the bytes after
//   "Label " up to the 16th, leading blanks and all, as the writer wrote
//   them (a zero byte ends it, a carriage return reads as the blank the
//   writer makes of one);
// - the volume is taken as the nearest bound of 0-63 when the file holds one
//   outside them (a negative one too), so that the keys act at once on what
//   is heard; a volume line that cannot be read leaves the caller's volume;
// - the scan date is read back; a date line that cannot be read gives the
//   zero date.
// So a list the writer wrote reads back into the very database it came from,
// and is written again byte for byte.
//
// Only a regular file (or a link to one) is read, and its open never blocks:
// a named pipe at the path would otherwise hold the program before anything
// is shown.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "DABUtils.h"
#include "DAB_station_list_check.h"
#include "Si468x_commands.h"

namespace {

// Room for any line the writer writes (the date line is the longest, at 103
// characters); a longer line is not one of ours, except a label's.
constexpr std::size_t DAB_LINE_ROOM = 128;
constexpr uint32_t DAB_ANY = 0xFFFFFFFFu;

struct DAB_ListReader {
    FILE *file;
    char text[DAB_LINE_ROOM];
    std::size_t length; // of the text kept
    bool too_long;      // the line went on beyond the room
    bool damaged;       // a line of the record in hand was not what belongs there
    bool lost;          // the file ended, or a count could not be read
};

bool DAB_is_blank(char c) {
    return c != '\n' && std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Takes the next line, without its line end, after the whitespace before it.
// False at the end of the file, and for a last line without its line end:
// the writer ends every line, so that one was cut (a label or a number cut
// short would otherwise read as another).
bool DAB_next_line(DAB_ListReader *reader) {
    int c = std::getc(reader->file);
    while (c != EOF && std::isspace(c) != 0) {
        c = std::getc(reader->file);
    }
    if (c == EOF) {
        return false;
    }
    reader->length = 0;
    reader->too_long = false;
    for (; c != EOF && c != '\n'; c = std::getc(reader->file)) {
        if (reader->length + 1 < sizeof reader->text) {
            reader->text[reader->length++] = static_cast<char>(c);
        } else {
            reader->too_long = true;
        }
    }
    reader->text[reader->length] = '\0';
    return c == '\n';
}

void DAB_skip_blanks(const char **at, const char *end) {
    while (*at < end && DAB_is_blank(**at)) {
        ++*at;
    }
}

// The key as formatted input matches it: a blank in it matches any run of
// blanks, none too; every other character matches itself.
bool DAB_take_key(const char **at, const char *end, const char *key) {
    for (; *key != '\0'; ++key) {
        if (*key == ' ') {
            DAB_skip_blanks(at, end);
        } else if (*at < end && **at == *key) {
            ++*at;
        } else {
            return false;
        }
    }
    return true;
}

// Blanks, then unsigned decimal digits that fit 32 bits. A sign is not a
// number of ours: the writer never writes one.
bool DAB_take_number(const char **at, const char *end, uint32_t *value) {
    DAB_skip_blanks(at, end);
    uint64_t number = 0;
    const char *start = *at;
    for (; *at < end && **at >= '0' && **at <= '9'; ++*at) {
        number = number * 10 + static_cast<uint64_t>(**at - '0');
        if (number > DAB_ANY) {
            return false;
        }
    }
    *value = static_cast<uint32_t>(number);
    return *at != start;
}

bool DAB_rest_is_blank(const char *at, const char *end) {
    DAB_skip_blanks(&at, end);
    return at == end;
}

// The next line as "<key><number>", the number at most `max`. Returns the
// number, or 0 with the record marked damaged when the line is not of that
// form, and with the reading lost at the end of the file.
uint32_t DAB_field(DAB_ListReader *reader, const char *key, uint32_t max) {
    if (reader->lost) {
        return 0;
    }
    if (!DAB_next_line(reader)) {
        reader->lost = true;
        return 0;
    }
    const char *at = reader->text;
    const char *end = reader->text + reader->length;
    uint32_t value = 0;
    if (reader->too_long || !DAB_take_key(&at, end, key) || !DAB_take_number(&at, end, &value) ||
        !DAB_rest_is_blank(at, end) || value > max) {
        reader->damaged = true;
        return 0;
    }
    return value;
}

// A count that the lines after it depend on: one that cannot be read loses
// the reading, since nothing tells where its records end.
uint32_t DAB_count(DAB_ListReader *reader, const char *key, uint32_t max) {
    const bool damaged = reader->damaged;
    reader->damaged = false;
    const uint32_t value = DAB_field(reader, key, max);
    if (reader->damaged) {
        reader->lost = true;
    }
    reader->damaged = damaged;
    return value;
}

uint8_t DAB_byte_field(DAB_ListReader *reader, const char *key, uint8_t max) {
    return static_cast<uint8_t>(DAB_field(reader, key, max));
}

// The label line, taken whole so that an overlong line cannot leave its rest
// to be read as the following fields.
void DAB_read_label(DAB_ListReader *reader, char raw_label[DAB_LABEL_BYTES]) {
    std::memset(raw_label, 0, DAB_LABEL_BYTES);
    if (reader->lost) {
        return;
    }
    if (!DAB_next_line(reader)) {
        reader->lost = true;
        return;
    }
    static constexpr char key[] = "Label";
    constexpr std::size_t key_length = sizeof key - 1;
    if (std::strncmp(reader->text, key, key_length) != 0) {
        reader->damaged = true;
        return;
    }
    // The one blank the writer puts after the key; an editor may have taken
    // it from an empty label's line.
    std::size_t at = key_length;
    if (at < reader->length && reader->text[at] == ' ') {
        ++at;
    }
    for (std::size_t n = 0; n < DAB_LABEL_BYTES && at < reader->length; ++n, ++at) {
        const char c = reader->text[at];
        if (c == '\0') {
            break;
        }
        raw_label[n] = c == '\r' ? ' ' : c;
    }
}

// The fields that the raw component record keeps; SubChId, TMID, FIDCId,
// SCId and DG_flag are all bits of the component id and are not stored.
void DAB_read_component(DAB_ListReader *reader, Si468x_Component *component) {
    DAB_field(reader, "Comp No. ", DAB_ANY);
    component->comp_id = DAB_field(reader, "Comp ID ", 0xFFFF);
    DAB_field(reader, "SubChId ", DAB_ANY);
    DAB_field(reader, "tmid ", DAB_ANY);
    DAB_field(reader, "FIDCId ", DAB_ANY);
    DAB_field(reader, "SCId ", DAB_ANY);
    DAB_field(reader, "DG_flag ", DAB_ANY);
    component->ca_flag = DAB_byte_field(reader, "CA_flag ", 1);
    component->ps = DAB_byte_field(reader, "ps ", 1);
    component->ascty_dscty = DAB_byte_field(reader, "ASCTyDSCTy ", COMPONENT_ASCTY_DSCTY_MASK);
    component->mua_info_valid = DAB_byte_field(reader, "muA_info_valid ", 1);
}

// Reads one service group into `service`, with its components packed into
// component_data; reader->damaged says whether it was read whole. The
// groups of a service that claims more components than a service can have
// are read all the same, to keep the file in step.
void DAB_read_service(DAB_ListReader *reader, Si468x_Service *service) {
    reader->damaged = false;
    DAB_field(reader, "Service No. ", DAB_ANY);
    // Reference, country id and ECC are bits of the service id.
    service->service_id = DAB_field(reader, "Service ID. ", DAB_ANY);
    DAB_field(reader, "Srv ref. ", DAB_ANY);
    DAB_field(reader, "Country ID ", DAB_ANY);
    DAB_field(reader, "ECC. ", DAB_ANY);
    service->pd_flag = DAB_byte_field(reader, "PD Flag ", 1);
    service->pty = DAB_byte_field(reader, "PTY ", SERVICE_PTY_MASK);
    service->linking_info = DAB_byte_field(reader, "SRV linking info flag ", 1);
    service->num_components = static_cast<uint8_t>(DAB_count(reader, "number components ", 0xFF));
    service->ca_id = DAB_byte_field(reader, "CA ID ", SERVICE_CA_ID_MASK);
    service->local = DAB_byte_field(reader, "local ", 1);
    service->si_charset = DAB_byte_field(reader, "SI charset ", SERVICE_SI_CHARSET_MASK);
    DAB_read_label(reader, service->label);

    for (unsigned c = 0; c < service->num_components && !reader->lost; ++c) {
        Si468x_Component component{};
        DAB_read_component(reader, &component);
        if (c < SI468X_MAX_COMPONENTS) {
            Si468x_encode_digital_service_component(&component, static_cast<uint8_t>(c), service);
        }
    }
}

// Reads one ensemble into `ensemble`, cleared first. False when it is not
// to be kept: its header was not read whole.
bool DAB_read_ensemble(DAB_ListReader *reader, DAB_Ensemble *ensemble) {
    std::memset(ensemble, 0, sizeof *ensemble);
    reader->damaged = false;
    DAB_field(reader, "Ensemble No. ", DAB_ANY);
    ensemble->list_version = static_cast<uint16_t>(DAB_field(reader, "List version: ", 0xFFFF));
    ensemble->freq_index = DAB_byte_field(reader, "Freq. Index: ", 0xFF);
    const uint32_t num_services = DAB_count(reader, "Num services: ", 0xFF);
    const bool header_whole = !reader->damaged && !reader->lost;

    // The encoder appends each stored service and counts it.
    bool full = false;
    for (uint32_t s = 0; s < num_services && !reader->lost; ++s) {
        Si468x_Service service{};
        DAB_read_service(reader, &service);
        if (reader->damaged || reader->lost || !header_whole) {
            continue;
        }
        const unsigned size =
            SI468X_SERVICE_HEADER_LENGTH +
            SI468X_COMPONENT_LENGTH * static_cast<unsigned>(service.num_components);
        if (full || service.num_components > SI468X_MAX_COMPONENTS ||
            ensemble->data_length + size > SI468X_SERVICE_DATA_SIZE) {
            full = true;
            continue;
        }
        // Cannot fail: the size is checked above and the count stays below 256.
        Si468x_encode_digital_service(&service, ensemble);
    }
    return header_whole;
}

// The volume line: a sign and digits, taken as the nearest volume of 0-63.
void DAB_read_volume(DAB_ListReader *reader, uint8_t *volume) {
    if (!DAB_next_line(reader)) {
        reader->lost = true;
        return;
    }
    const char *at = reader->text;
    const char *end = reader->text + reader->length;
    if (!DAB_take_key(&at, end, "Volume: ")) {
        return;
    }
    const bool negative = at < end && *at == '-';
    if (at < end && (*at == '-' || *at == '+')) {
        ++at;
    }
    unsigned value = 0;
    const char *digits = at;
    for (; at < end && *at >= '0' && *at <= '9'; ++at) {
        value = value * 10 + static_cast<unsigned>(*at - '0');
        if (value > AUDIO_ANALOG_VOLUME_MAX) {
            value = AUDIO_ANALOG_VOLUME_MAX;
        }
    }
    if (at == digits || !DAB_rest_is_blank(at, end)) {
        return;
    }
    *volume = static_cast<uint8_t>(negative ? 0 : value);
}

// The date line: six numbers, each within its field. The zero date when the
// line is not of that form.
void DAB_read_date(DAB_ListReader *reader, Si468x_EnsembleTime *date) {
    *date = Si468x_EnsembleTime{};
    if (!DAB_next_line(reader)) {
        reader->lost = true;
        return;
    }
    const char *at = reader->text;
    const char *end = reader->text + reader->length;
    static const char *const separators[] = {"-", "-", ", ", ":", ":", ""};
    uint32_t numbers[6] = {};
    bool whole =
        !reader->too_long && DAB_take_key(&at, end, "Date of scan (YYYY-MM-DD, HH:MM:SS): ");
    for (std::size_t k = 0; k < 6; ++k) {
        whole = whole && DAB_take_number(&at, end, &numbers[k]) &&
                numbers[k] <= (k == 0 ? 0xFFFFu : 0xFFu) && DAB_take_key(&at, end, separators[k]);
    }
    if (!whole || !DAB_rest_is_blank(at, end)) {
        return;
    }
    date->year = static_cast<uint16_t>(numbers[0]);
    date->month = static_cast<uint8_t>(numbers[1]);
    date->day = static_cast<uint8_t>(numbers[2]);
    date->hour = static_cast<uint8_t>(numbers[3]);
    date->minute = static_cast<uint8_t>(numbers[4]);
    date->second = static_cast<uint8_t>(numbers[5]);
}

// Opens the list for reading, or says what stands at the path instead, or
// why the file there cannot be opened.
FILE *DAB_open_list(const char *path) {
    DAB_PathKind kind = DAB_PATH_NONE;
    int error = 0;
    const int fd = DAB_open_regular_error(path, O_RDONLY, &kind, &error);
    if (fd < 0) {
        if (kind == DAB_PATH_LINK_LOOP || kind == DAB_PATH_UNREADABLE) {
            std::printf("%s is %s (%s)\n", path, DAB_path_kind_name(kind), std::strerror(error));
        } else if (kind == DAB_PATH_REGULAR) {
            std::printf("%s cannot be opened (%s)\n", path, std::strerror(error));
        } else if (kind != DAB_PATH_NONE) {
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
    DAB_ListReader reader{};
    reader.file = file;
    results->num_ensembles = 0;

    // A file that does not start as a station list is not read as one.
    static constexpr char header[] =
        "Automatically generated and machine read file, do not change!";
    constexpr std::size_t header_length = sizeof header - 1;
    if (!DAB_next_line(&reader) || std::strncmp(reader.text, header, header_length) != 0 ||
        !DAB_rest_is_blank(reader.text + header_length, reader.text + reader.length)) {
        return;
    }
    DAB_read_volume(&reader, volume);
    DAB_read_date(&reader, &results->scan_date);
    const uint32_t num_ensembles = DAB_count(&reader, "Num. Ensembles: ", 0xFF);

    const uint32_t room = num_ensembles < DAB_MAX_ENSEMBLES ? num_ensembles : DAB_MAX_ENSEMBLES;
    for (uint32_t e = 0; e < room && !reader.lost; ++e) {
        DAB_Ensemble *ensemble = &results->ensembles[results->num_ensembles];
        if (DAB_read_ensemble(&reader, ensemble)) {
            ++results->num_ensembles;
        } else {
            std::memset(ensemble, 0, sizeof *ensemble);
        }
    }
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
