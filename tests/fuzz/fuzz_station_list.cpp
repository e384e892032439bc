// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the station list reader on any file. The database it fills
// must stay within its bounds, every service it stored must decode, and the
// database saved and read again must come back with the same shape; the
// check takes any file, and finds every saved one whole.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

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

    fuzz::require(volume_again == volume, "volume survives");
    fuzz::require(again->num_ensembles == results->num_ensembles, "ensemble count survives");
    for (unsigned e = 0; e < results->num_ensembles; ++e) {
        const DAB_Ensemble &a = results->ensembles[e];
        const DAB_Ensemble &b = again->ensembles[e];
        fuzz::require(a.list_version == b.list_version && a.freq_index == b.freq_index &&
                          a.num_services == b.num_services && a.data_length == b.data_length,
                      "ensemble header survives");
        // Labels may change (line ends become blanks, leading blanks go),
        // and so may the bits the file does not carry; the decoded fields
        // may not.
        for (unsigned s = 0; s < a.num_services; ++s) {
            Si468x_Service x{};
            Si468x_Service y{};
            Si468x_get_digital_service(&a, static_cast<uint8_t>(s), &x);
            Si468x_get_digital_service(&b, static_cast<uint8_t>(s), &y);
            fuzz::require(x.service_id == y.service_id && x.pd_flag == y.pd_flag &&
                              x.pty == y.pty && x.linking_info == y.linking_info &&
                              x.num_components == y.num_components && x.ca_id == y.ca_id &&
                              x.local == y.local && x.si_charset == y.si_charset,
                          "service survives");
            for (unsigned c = 0; c < x.num_components; ++c) {
                Si468x_Component p{};
                Si468x_Component q{};
                Si468x_get_digital_service_component(&x, static_cast<uint8_t>(c), &p);
                Si468x_get_digital_service_component(&y, static_cast<uint8_t>(c), &q);
                fuzz::require(p.comp_id == q.comp_id && p.ca_flag == q.ca_flag && p.ps == q.ps &&
                                  p.ascty_dscty == q.ascty_dscty &&
                                  p.mua_info_valid == q.mua_info_valid,
                              "component survives");
            }
        }
    }
    return 0;
}
