// SPDX-License-Identifier: GPL-3.0-or-later
// Bands for the diag tests: the simulated board's own band model is the
// ground truth, written to a band file that the program's board then loads.
#pragma once

#include <map>
#include <stdexcept>
#include <string>

#include "Band.h"
#include "DiagRun.h"

namespace diagtest {

// The environment that makes a run receive `band`.
inline std::map<std::string, std::string> band_env(const SimBoardDir &board,
                                                   const sim::Band &band) {
    std::string error;
    if (!sim::validate_band(band, &error)) {
        throw std::invalid_argument("test band is invalid: " + error);
    }
    const std::string path = board.file("band.json");
    write_file(path, sim::band_to_json(band));
    return {{"SI468X_SIM_BAND", path}};
}

// The index of an ensemble's frequency in the band's frequency list.
inline uint8_t index_of(const sim::Band &band, const sim::Ensemble &ensemble) {
    for (std::size_t i = 0; i < band.frequencies.size(); ++i) {
        if (band.frequencies[i] == ensemble.frequency_khz) {
            return static_cast<uint8_t>(i);
        }
    }
    throw std::invalid_argument("ensemble frequency not in the band's list");
}

inline std::string label_text(const sim::Label &label) {
    return std::string(label.begin(), label.end());
}

} // namespace diagtest
