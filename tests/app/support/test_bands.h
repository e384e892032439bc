// SPDX-License-Identifier: GPL-3.0-or-later
// Small bands for the simulated board, and the station list file a scan of
// such a band would leave, so a test can start from a "later start".
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "Band.h"

namespace tunelark::test {

inline sim::Service audio_service(uint32_t id, std::string_view label, uint8_t subchannel) {
    sim::Service service;
    service.id = id;
    service.label = sim::make_label(label);
    sim::Component component;
    component.id = subchannel; // TMID 0: audio stream on this subchannel
    component.ps = true;
    component.ascty_dscty = 63;
    component.mua_info_valid = true;
    service.components.push_back(component);
    return service;
}

inline sim::Service data_service(uint32_t id, std::string_view label, uint16_t scid) {
    sim::Service service;
    service.id = id;
    service.data = true;
    service.label = sim::make_label(label);
    sim::Component component;
    component.id = static_cast<uint16_t>(0xC000 | scid); // TMID 3: packet data
    component.ascty_dscty = 60;
    service.components.push_back(component);
    return service;
}

inline sim::Ensemble ensemble_at(std::size_t index, uint16_t id, std::string_view label,
                                 std::vector<sim::Service> services) {
    sim::Ensemble ensemble;
    ensemble.frequency_khz = sim::band_iii_frequencies().at(index);
    ensemble.id = id;
    ensemble.label = sim::make_label(label);
    ensemble.services = std::move(services);
    return ensemble;
}

inline sim::Band band_of(std::vector<sim::Ensemble> ensembles) {
    sim::Band band;
    band.frequencies = sim::band_iii_frequencies();
    band.ensembles = std::move(ensembles);
    return band;
}

// Two ensembles: index 3 with two audio services and a data service, index 9
// with an audio service and one whose label starts with a zero byte.
inline sim::Band two_ensemble_band() {
    sim::Service hidden = audio_service(0xD102, "", 5);
    hidden.label = sim::make_label(std::string_view("\0Hidden Label", 13));
    return band_of({
        ensemble_at(3, 0x1001, "First Ensemble",
                    {audio_service(1234, "Alpha One", 1), audio_service(0xD001, "Bravo Two", 2),
                     data_service(0xE1D0A003, "Data Three", 0x003)}),
        ensemble_at(9, 0x1002, "Second Ensemble",
                    {audio_service(0xD101, "Charlie Four", 4), hidden}),
    });
}

inline std::size_t frequency_index(const sim::Band &band, const sim::Ensemble &ensemble) {
    for (std::size_t i = 0; i < band.frequencies.size(); ++i) {
        if (band.frequencies[i] == ensemble.frequency_khz) {
            return i;
        }
    }
    return 0;
}

// The station list file of the band's ensembles, in the band's order.
inline std::string station_list_text(const sim::Band &band, unsigned volume) {
    std::ostringstream f;
    f << "Automatically generated and machine read file, do not change!\n";
    f << "Volume: " << volume << "\n";
    f << "Date of scan (YYYY-MM-DD, HH:MM:SS): 2024-5-17, 8:30:0\n";
    f << "Num. Ensembles: " << band.ensembles.size() << "\n";
    for (std::size_t e = 0; e < band.ensembles.size(); ++e) {
        const sim::Ensemble &ensemble = band.ensembles[e];
        f << "Ensemble No. " << e << "\n";
        f << "List version: " << ensemble.list_version << "\n";
        f << "Freq. Index: " << frequency_index(band, ensemble) << "\n";
        f << "Num services: " << ensemble.services.size() << "\n";
        for (std::size_t s = 0; s < ensemble.services.size(); ++s) {
            const sim::Service &service = ensemble.services[s];
            f << "Service No. " << s << "\n";
            f << "Service ID. " << service.id << "\n";
            f << "Srv ref. 0\nCountry ID 0\nECC. 0\n";
            f << "PD Flag " << (service.data ? 1 : 0) << "\n";
            f << "PTY " << unsigned{service.pty} << "\n";
            f << "SRV linking info flag " << (service.linking ? 1 : 0) << "\n";
            f << "number components " << service.components.size() << "\n";
            f << "CA ID " << unsigned{service.ca_id} << "\n";
            f << "local " << (service.local ? 1 : 0) << "\n";
            f << "SI charset " << unsigned{service.si_charset} << "\n";
            f << "Label ";
            for (uint8_t byte : service.label) {
                if (byte == 0) {
                    break;
                }
                f << static_cast<char>(byte);
            }
            f << "\n";
            for (std::size_t c = 0; c < service.components.size(); ++c) {
                const sim::Component &component = service.components[c];
                f << "Comp No. " << c << "\n";
                f << "Comp ID " << component.id << "\n";
                f << "SubChId 0\ntmid " << unsigned{component.tmid()} << "\n";
                f << "FIDCId 0\nSCId 0\nDG_flag 0\n";
                f << "CA_flag " << (component.ca_flag ? 1 : 0) << "\n";
                f << "ps " << (component.ps ? 1 : 0) << "\n";
                f << "ASCTyDSCTy " << unsigned{component.ascty_dscty} << "\n";
                f << "muA_info_valid " << (component.mua_info_valid ? 1 : 0) << "\n";
            }
        }
    }
    return f.str();
}

} // namespace tunelark::test
