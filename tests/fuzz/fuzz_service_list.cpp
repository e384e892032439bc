// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: the service-list decoders on any raw list. Input: the number
// of services, the data length (2 bytes, little-endian, taken modulo the 2049
// lengths a list can have), then the raw service bytes.
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

    // Every index up to one past the last, which must be refused.
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
    }
    Si468x_print_digital_service_list(list.get());
    return 0;
}
