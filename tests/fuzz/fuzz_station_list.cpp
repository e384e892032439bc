// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the station list reader on any file. The database it fills
// must stay within its bounds and every service it stored must decode; the
// check takes any file, and finds every saved one whole. Round trips are
// exact: the database saved and read again is the same database, the file
// the writer made is written again byte for byte, and so is any file the
// check calls whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "DABUtils.h"
#include "FuzzSupport.h"

namespace {

// Every stored service decodes, and the stored services fill the
// ensemble's bytes exactly.
void require_decodable(const DAB_ScanResults &results) {
    fuzz::require(results.num_ensembles <= DAB_MAX_ENSEMBLES, "at most 12 ensembles");
    for (unsigned e = 0; e < results.num_ensembles; ++e) {
        const DAB_Ensemble &ensemble = results.ensembles[e];
        fuzz::require(ensemble.data_length <= SI468X_SERVICE_DATA_SIZE, "data within 2048 bytes");
        unsigned end = 0;
        for (unsigned s = 0; s < ensemble.num_services; ++s) {
            Si468x_Service service{};
            fuzz::require(
                Si468x_get_digital_service(&ensemble, static_cast<uint8_t>(s), &service) == 0,
                "stored service decodes");
            for (unsigned c = 0; c < service.num_components; ++c) {
                Si468x_Component component{};
                fuzz::require(Si468x_get_digital_service_component(
                                  &service, static_cast<uint8_t>(c), &component) == 0,
                              "stored component decodes");
            }
            end += 24 + 4 * service.num_components;
        }
        fuzz::require(end == ensemble.data_length, "services fill the ensemble's bytes");
    }
}

bool same_date(const Si468x_EnsembleTime &a, const Si468x_EnsembleTime &b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour &&
           a.minute == b.minute && a.second == b.second;
}

// Every field of the two records, and all 2048 raw bytes of every ensemble
// held.
bool same_database(const DAB_ScanResults &a, const DAB_ScanResults &b) {
    if (a.num_ensembles != b.num_ensembles || !same_date(a.scan_date, b.scan_date)) {
        return false;
    }
    for (unsigned e = 0; e < a.num_ensembles; ++e) {
        const DAB_Ensemble &x = a.ensembles[e];
        const DAB_Ensemble &y = b.ensembles[e];
        if (x.list_version != y.list_version || x.freq_index != y.freq_index ||
            x.num_services != y.num_services || x.data_length != y.data_length ||
            std::memcmp(x.service_data, y.service_data, sizeof x.service_data) != 0) {
            return false;
        }
    }
    return true;
}

std::string file_bytes(const std::string &path) {
    std::string text;
    FILE *file = std::fopen(path.c_str(), "rb");
    fuzz::require(file != nullptr, "a saved file opens");
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string input = fuzz::scratch_directory() + "/input.txt";
    const std::string saved = fuzz::scratch_directory() + "/saved.txt";
    fuzz::write_file(input, data, size);

    // Heap records of the exact size, where the address sanitiser sees every
    // byte stored beyond them.
    auto results = std::make_unique<DAB_ScanResults>();
    uint8_t volume = 0;
    fuzz::require(DAB_read_scan_results(results.get(), input.c_str(), &volume) == 0,
                  "an existing file is always read");
    require_decodable(*results);

    DAB_ListCheck input_check{};
    fuzz::require(DAB_check_station_list(input.c_str(), &input_check) == 0,
                  "an existing file is always checked");

    fuzz::require(DAB_save_scan_results(results.get(), saved.c_str(), volume) == 0,
                  "the database is saved");
    // Whatever was read, what the writer writes reads back whole.
    DAB_ListCheck saved_check{};
    fuzz::require(DAB_check_station_list(saved.c_str(), &saved_check) == 0 &&
                      saved_check.whole == 1,
                  "a saved list reads back whole");
    auto again = std::make_unique<DAB_ScanResults>();
    uint8_t volume_again = 0;
    fuzz::require(DAB_read_scan_results(again.get(), saved.c_str(), &volume_again) == 0,
                  "the saved file is read");
    require_decodable(*again);

    // read(write(db)) = db: whatever the reader makes of a file is a database
    // that the file format holds whole, field by field and byte by byte.
    fuzz::require(volume_again == volume, "volume survives");
    fuzz::require(same_database(*results, *again), "read(write(db)) = db");

    // write(read(file)) = file for every file the writer made.
    const std::string resaved = fuzz::scratch_directory() + "/resaved.txt";
    fuzz::require(DAB_save_scan_results(again.get(), resaved.c_str(), volume_again) == 0,
                  "the database read back is saved");
    fuzz::require(file_bytes(resaved) == file_bytes(saved), "write(read(file)) = file");

    // And a file that the check calls whole is one the writer writes again
    // byte for byte: the check and the reader agree on what the format is.
    if (input_check.whole == 1) {
        fuzz::require(file_bytes(saved) == std::string(reinterpret_cast<const char *>(data), size),
                      "a list checked whole is written back unchanged");
    }
    return 0;
}
