// SPDX-License-Identifier: GPL-3.0-or-later
// Checking a station list file against what the writer writes: every line of
// its form in the place its counts call for, every number in the range of its
// field and of the database, nothing missing and nothing after the end.
//
// The reader itself never refuses a file; this check tells the caller that a
// file did not read back whole, so that it is kept before anything replaces
// it. It is strict on purpose: a number with a leading zero or a blank at a
// line's end is no loss when read, but it is not what the writer writes, and a
// copy too many costs less than a station list lost.
#include <cstdio>
#include <cstring>

#include "DAB_station_list_check.h"
#include "Si468x_commands.h"

namespace {

// The longest line the writer writes is the date line with six ten-digit
// numbers: 38 + 60 + 5 characters.
constexpr std::size_t DAB_CHECK_LINE_ROOM = 128;
constexpr uint32_t DAB_ANY = 0xFFFFFFFFu;

struct DAB_ListChecker {
    FILE *file;
    uint32_t line; // lines taken so far
    char text[DAB_CHECK_LINE_ROOM];
    std::size_t length;
    DAB_ListCheck *check;
};

bool DAB_fault(DAB_ListChecker *checker, DAB_ListFault fault, uint32_t line) {
    checker->check->whole = 0;
    checker->check->fault = fault;
    checker->check->line = line;
    return false;
}

// Takes the next line without its line end. False, with the fault recorded,
// at the end of the file or on a line too long or not ended.
bool DAB_next_line(DAB_ListChecker *checker) {
    ++checker->line;
    checker->length = 0;
    bool ended = false;
    bool too_long = false;
    for (int c = std::getc(checker->file); c != EOF; c = std::getc(checker->file)) {
        if (c == '\n') {
            ended = true;
            break;
        }
        if (checker->length + 1 < sizeof checker->text) {
            checker->text[checker->length++] = static_cast<char>(c);
        } else {
            too_long = true;
        }
    }
    checker->text[checker->length] = '\0';
    if (!ended && checker->length == 0 && !too_long) {
        return DAB_fault(checker, DAB_LIST_EARLY_END, checker->line);
    }
    if (!ended || too_long) {
        return DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
    }
    return true;
}

// An unsigned decimal as the writer prints it: digits only, no leading zero,
// at most ten digits. Moves *at past it. Out of range is told apart from not
// a number by *in_range.
bool DAB_take_number(const char **at, const char *end, uint32_t max, uint32_t *value,
                     bool *in_range) {
    const char *p = *at;
    uint64_t number = 0;
    std::size_t digits = 0;
    while (p < end && *p >= '0' && *p <= '9' && digits <= 10) {
        number = number * 10 + static_cast<uint64_t>(*p - '0');
        ++p;
        ++digits;
    }
    if (digits == 0 || digits > 10 || (digits > 1 && **at == '0')) {
        return false;
    }
    *in_range = number <= max;
    *value = static_cast<uint32_t>(number <= DAB_ANY ? number : DAB_ANY);
    *at = p;
    return true;
}

bool DAB_take_text(const char **at, const char *end, const char *text) {
    const std::size_t length = std::strlen(text);
    if (static_cast<std::size_t>(end - *at) < length || std::memcmp(*at, text, length) != 0) {
        return false;
    }
    *at += length;
    return true;
}

// One line "<key><number>" with the number at most `max`.
bool DAB_number_line(DAB_ListChecker *checker, const char *key, uint32_t max,
                     uint32_t *value = nullptr) {
    if (!DAB_next_line(checker)) {
        return false;
    }
    const char *at = checker->text;
    const char *end = checker->text + checker->length;
    uint32_t number = 0;
    bool in_range = false;
    if (!DAB_take_text(&at, end, key) || !DAB_take_number(&at, end, max, &number, &in_range) ||
        at != end) {
        return DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
    }
    if (!in_range) {
        return DAB_fault(checker, DAB_LIST_OUT_OF_RANGE, checker->line);
    }
    if (value != nullptr) {
        *value = number;
    }
    return true;
}

// A counting line ("Service No. 3") must carry its own position.
bool DAB_index_line(DAB_ListChecker *checker, const char *key, uint32_t index) {
    uint32_t number = 0;
    if (!DAB_number_line(checker, key, DAB_ANY, &number)) {
        return false;
    }
    return number == index || DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
}

bool DAB_date_line(DAB_ListChecker *checker) {
    if (!DAB_next_line(checker)) {
        return false;
    }
    const char *at = checker->text;
    const char *end = checker->text + checker->length;
    static const char *const separators[] = {"-", "-", ", ", ":", ":", ""};
    bool whole = DAB_take_text(&at, end, "Date of scan (YYYY-MM-DD, HH:MM:SS): ");
    bool all_in_range = true;
    for (std::size_t k = 0; k < 6; ++k) {
        // The year is a 16-bit field of the record, the others 8-bit.
        uint32_t number = 0;
        bool in_range = false;
        whole = whole && DAB_take_number(&at, end, k == 0 ? 0xFFFF : 0xFF, &number, &in_range) &&
                DAB_take_text(&at, end, separators[k]);
        all_in_range = all_in_range && in_range;
    }
    if (!whole || at != end) {
        return DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
    }
    return all_in_range || DAB_fault(checker, DAB_LIST_OUT_OF_RANGE, checker->line);
}

// A line that the writer derives from another must say what the other says.
bool DAB_derived(DAB_ListChecker *checker, uint32_t value, uint32_t derived, uint32_t line) {
    return value == derived || DAB_fault(checker, DAB_LIST_DISAGREES, line);
}

// "Label " and the label's characters as the writer prints them: at most 16,
// no zero byte, no line end of any kind.
bool DAB_label_line(DAB_ListChecker *checker) {
    if (!DAB_next_line(checker)) {
        return false;
    }
    const char *at = checker->text;
    const char *end = checker->text + checker->length;
    if (!DAB_take_text(&at, end, "Label ") ||
        static_cast<std::size_t>(end - at) > DAB_LABEL_BYTES) {
        return DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
    }
    for (; at < end; ++at) {
        if (*at == '\0' || *at == '\r') {
            return DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
        }
    }
    return true;
}

// The lines derived from the component id, as the decoder splits it: TMID
// in the top two bits, then the sub-channel or FIDC id (6 bits), or the
// service component id (12 bits) with the DG flag above it; the lines of
// the ids the TMID does not carry are 0.
bool DAB_check_component(DAB_ListChecker *checker, uint32_t index) {
    uint32_t comp_id = 0;
    uint32_t lines[5] = {};
    uint32_t values[5] = {};
    static const char *const keys[] = {"SubChId ", "tmid ", "FIDCId ", "SCId ", "DG_flag "};
    if (!DAB_index_line(checker, "Comp No. ", index) ||
        !DAB_number_line(checker, "Comp ID ", 0xFFFF, &comp_id)) {
        return false;
    }
    for (std::size_t k = 0; k < 5; ++k) {
        if (!DAB_number_line(checker, keys[k], DAB_ANY, &values[k])) {
            return false;
        }
        lines[k] = checker->line;
    }
    const uint32_t tmid = comp_id >> 14;
    const uint32_t derived[5] = {tmid <= 1 ? comp_id & 0x3F : 0, tmid,
                                 tmid == 2 ? comp_id & 0x3F : 0, tmid == 3 ? comp_id & 0xFFF : 0,
                                 tmid == 3 ? (comp_id >> 12) & 0x01 : 0};
    for (std::size_t k = 0; k < 5; ++k) {
        if (!DAB_derived(checker, values[k], derived[k], lines[k])) {
            return false;
        }
    }
    return DAB_number_line(checker, "CA_flag ", 1) && DAB_number_line(checker, "ps ", 1) &&
           DAB_number_line(checker, "ASCTyDSCTy ", COMPONENT_ASCTY_DSCTY_MASK) &&
           DAB_number_line(checker, "muA_info_valid ", 1);
}

// `position` is where the service starts in its ensemble's raw bytes; it moves
// past the service.
bool DAB_check_service(DAB_ListChecker *checker, uint32_t index, uint32_t *position) {
    uint32_t service_id = 0;
    uint32_t pd_flag = 0;
    uint32_t components = 0;
    uint32_t values[3] = {};
    uint32_t lines[3] = {};
    static const char *const keys[] = {"Srv ref. ", "Country ID ", "ECC. "};
    if (!DAB_index_line(checker, "Service No. ", index) ||
        !DAB_number_line(checker, "Service ID. ", DAB_ANY, &service_id)) {
        return false;
    }
    for (std::size_t k = 0; k < 3; ++k) {
        if (!DAB_number_line(checker, keys[k], DAB_ANY, &values[k])) {
            return false;
        }
        lines[k] = checker->line;
    }
    if (!DAB_number_line(checker, "PD Flag ", 1, &pd_flag)) {
        return false;
    }
    // Reference, country id and ECC are split out of the service id as the
    // decoder does: a 12-bit reference for audio, 20 bits for data with the
    // ECC on top; an audio service has no ECC.
    const bool data = pd_flag != 0;
    const uint32_t derived[3] = {service_id & (data ? 0xFFFFFu : 0xFFFu),
                                 (service_id >> (data ? 20 : 12)) & 0x0F,
                                 data ? service_id >> 24 : 0};
    for (std::size_t k = 0; k < 3; ++k) {
        if (!DAB_derived(checker, values[k], derived[k], lines[k])) {
            return false;
        }
    }
    const bool head =
        DAB_number_line(checker, "PTY ", SERVICE_PTY_MASK) &&
        DAB_number_line(checker, "SRV linking info flag ", 1) &&
        DAB_number_line(checker, "number components ", SI468X_MAX_COMPONENTS, &components);
    if (!head) {
        return false;
    }
    // A service that does not fit its ensemble's bytes cannot be stored.
    *position += SI468X_SERVICE_HEADER_LENGTH + SI468X_COMPONENT_LENGTH * components;
    if (*position > SI468X_SERVICE_DATA_SIZE) {
        return DAB_fault(checker, DAB_LIST_OUT_OF_RANGE, checker->line);
    }
    if (!DAB_number_line(checker, "CA ID ", SERVICE_CA_ID_MASK) ||
        !DAB_number_line(checker, "local ", 1) ||
        !DAB_number_line(checker, "SI charset ", SERVICE_SI_CHARSET_MASK) ||
        !DAB_label_line(checker)) {
        return false;
    }
    for (uint32_t c = 0; c < components; ++c) {
        if (!DAB_check_component(checker, c)) {
            return false;
        }
    }
    return true;
}

bool DAB_check_ensemble(DAB_ListChecker *checker, uint32_t index) {
    uint32_t services = 0;
    if (!DAB_index_line(checker, "Ensemble No. ", index) ||
        !DAB_number_line(checker, "List version: ", 0xFFFF) ||
        !DAB_number_line(checker, "Freq. Index: ", 0xFF) ||
        !DAB_number_line(checker, "Num services: ", 0xFF, &services)) {
        return false;
    }
    uint32_t position = 0;
    for (uint32_t s = 0; s < services; ++s) {
        if (!DAB_check_service(checker, s, &position)) {
            return false;
        }
    }
    return true;
}

bool DAB_check_lines(DAB_ListChecker *checker) {
    uint32_t ensembles = 0;
    if (!DAB_next_line(checker)) {
        return false;
    }
    if (std::strcmp(checker->text,
                    "Automatically generated and machine read file, do not change!") != 0) {
        return DAB_fault(checker, DAB_LIST_BAD_LINE, checker->line);
    }
    if (!DAB_number_line(checker, "Volume: ", AUDIO_ANALOG_VOLUME_MAX) || !DAB_date_line(checker) ||
        !DAB_number_line(checker, "Num. Ensembles: ", DAB_MAX_ENSEMBLES, &ensembles)) {
        return false;
    }
    for (uint32_t e = 0; e < ensembles; ++e) {
        if (!DAB_check_ensemble(checker, e)) {
            return false;
        }
    }
    if (std::getc(checker->file) != EOF) {
        return DAB_fault(checker, DAB_LIST_EXTRA_LINES, checker->line + 1);
    }
    return true;
}

} // namespace

void DAB_check_station_list_file(FILE *file, DAB_ListCheck *check) {
    *check = DAB_ListCheck{1, DAB_LIST_WHOLE, 0};
    DAB_ListChecker checker{};
    checker.file = file;
    checker.check = check;
    DAB_check_lines(&checker);
}

const char *DAB_list_fault_text(DAB_ListFault fault) {
    switch (fault) {
    case DAB_LIST_WHOLE:
        return "read back whole";
    case DAB_LIST_BAD_LINE:
        return "a line that is not what belongs there";
    case DAB_LIST_OUT_OF_RANGE:
        return "a value out of range";
    case DAB_LIST_EARLY_END:
        return "the file ends early";
    case DAB_LIST_EXTRA_LINES:
        return "more lines than its counts call for";
    case DAB_LIST_DISAGREES:
        return "a line that disagrees with the line it is derived from";
    }
    return "not what the writer writes";
}
