// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the service-list decoders on any raw list, and the encoders
// as their inverse. Input: the number of services, the data length (2 bytes,
// little-endian, taken modulo the 2049 lengths a list can have), then the raw
// service bytes.
//
// Every service and component that decodes is encoded again and decoded once
// more: the fields the raw record keeps must come back unchanged, and the
// re-encoded record must be the original bytes but for those the decoder
// drops (byte 7, bit 7 of byte 4 and the high bits of the charset byte).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "Si468x.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::silence_stdout();
    return 0;
}

namespace {

bool same_service(const Si468x_Service &a, const Si468x_Service &b) {
    return a.service_id == b.service_id && a.service_ref == b.service_ref &&
           a.country_id == b.country_id && (a.pd_flag == 0 || a.ecc == b.ecc) &&
           a.pd_flag == b.pd_flag && a.pty == b.pty && a.linking_info == b.linking_info &&
           a.num_components == b.num_components && a.ca_id == b.ca_id && a.local == b.local &&
           a.si_charset == b.si_charset && std::memcmp(a.label, b.label, sizeof a.label) == 0 &&
           std::memcmp(a.component_data, b.component_data,
                       SI468X_COMPONENT_LENGTH * a.num_components) == 0;
}

bool same_component(const Si468x_Component &a, const Si468x_Component &b) {
    const bool by_tmid = a.tmid <= 1   ? a.subch_id == b.subch_id
                         : a.tmid == 2 ? a.fidc_id == b.fidc_id
                                       : a.sc_id == b.sc_id && a.dg_flag == b.dg_flag;
    return a.comp_id == b.comp_id && a.tmid == b.tmid && by_tmid && a.ca_flag == b.ca_flag &&
           a.ps == b.ps && a.ascty_dscty == b.ascty_dscty && a.mua_info_valid == b.mua_info_valid;
}

// decode(encode(x)) == x for a decoded service x and each of its components,
// and encode(x) is the record x came from.
void check_round_trip(const Si468x_Service &service, const uint8_t *record) {
    auto list = std::make_unique<Si468x_ServiceList>();
    fuzz::require(Si468x_encode_digital_service(&service, list.get()) == 0,
                  "a decoded service encodes");
    const uint16_t size = static_cast<uint16_t>(SI468X_SERVICE_HEADER_LENGTH +
                                                SI468X_COMPONENT_LENGTH * service.num_components);
    fuzz::require(list->num_services == 1 && list->data_length == size,
                  "one record of the service's size is appended");
    for (uint16_t k = 0; k < size; ++k) {
        const uint8_t kept = k == 4 ? 0x7F : k == 6 ? 0x0F : k == 7 ? 0x00 : 0xFF;
        fuzz::require((list->service_data[k] & kept) == (record[k] & kept),
                      "the record encodes back to its own bytes");
    }

    auto again = std::make_unique<Si468x_Service>();
    fuzz::require(Si468x_get_digital_service(list.get(), 0, again.get()) == 0,
                  "an encoded service decodes");
    fuzz::require(same_service(service, *again), "decode(encode(service)) == service");

    for (uint8_t c = 0; c < service.num_components; ++c) {
        Si468x_Component component{};
        fuzz::require(Si468x_get_digital_service_component(&service, c, &component) == 0,
                      "a counted component decodes");
        auto holder = std::make_unique<Si468x_Service>();
        holder->num_components = static_cast<uint8_t>(c + 1);
        fuzz::require(Si468x_encode_digital_service_component(&component, c, holder.get()) == 0,
                      "a decoded component encodes");
        Si468x_Component decoded{};
        fuzz::require(Si468x_get_digital_service_component(holder.get(), c, &decoded) == 0,
                      "an encoded component decodes");
        fuzz::require(same_component(component, decoded), "decode(encode(component)) == component");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    auto list = std::make_unique<Si468x_ServiceList>();
    list->num_services = data[0];
    list->data_length =
        static_cast<uint16_t>((data[1] | data[2] << 8) % (SI468X_SERVICE_DATA_SIZE + 1));
    const std::size_t bytes = std::min<std::size_t>(size - 3, SI468X_SERVICE_DATA_SIZE);
    std::memcpy(list->service_data, data + 3, bytes);

    // Every index up to one past the last, which must be refused. Once a
    // service fails to decode, every later one does too (the walk crosses
    // it), so the offset of each decoded record is the sum of those before.
    std::size_t offset = 0;
    for (unsigned s = 0; s <= list->num_services; ++s) {
        auto service = std::make_unique<Si468x_Service>();
        const int16_t status =
            Si468x_get_digital_service(list.get(), static_cast<uint8_t>(s), service.get());
        if (s == list->num_services) {
            fuzz::require(status == -6, "index past the list is refused");
            break;
        }
        fuzz::require(status == 0 || status == -4, "a service decodes or is out of range");
        if (status != 0) {
            continue;
        }
        fuzz::require(service->num_components <= SI468X_MAX_COMPONENTS, "at most 15 components");
        for (unsigned c = 0; c <= service->num_components; ++c) {
            Si468x_Component component{};
            const int16_t result = Si468x_get_digital_service_component(
                service.get(), static_cast<uint8_t>(c), &component);
            fuzz::require((c < service->num_components) == (result == 0),
                          "components decode exactly up to their count");
        }
        check_round_trip(*service, list->service_data + offset);
        offset += SI468X_SERVICE_HEADER_LENGTH + SI468X_COMPONENT_LENGTH * service->num_components;
    }
    Si468x_print_digital_service_list(list.get());
    return 0;
}
