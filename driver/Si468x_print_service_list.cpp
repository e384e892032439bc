// SPDX-License-Identifier: GPL-3.0-or-later
// A whole service list on standard output, for diagnosis.
#include <cstdio>

#include "Si468x.h"

namespace {

void Si468x_print_service(const Si468x_Service *service) {
    std::printf("%-44s%u \n", "Service data/audio?", service->pd_flag);
    std::printf("%-44s%lu \n", "Serv. ref.:", static_cast<unsigned long>(service->service_ref));
    std::printf("%-44s%u \n", "Country ID:", service->country_id);
    if (service->pd_flag == 1) {
        std::printf("%-44s%u \n", "ECC:", service->ecc);
    }
    std::printf("%-44s%u \n", "Program type:", service->pty);
    std::printf("%-44s%u \n", "Linking info:", service->linking_info);
    std::printf("%-44s%u \n", "Number components:", service->num_components);
    std::printf("%-44s%u \n", "CAId:", service->ca_id);
    std::printf("%-44s%u \n", "local:", service->local);
    std::printf("%-44s%u \n", "SICharset:", service->si_charset);
    std::printf("%-44s", "Label:");
    for (char character : service->label) {
        std::putchar(character);
    }
}

void Si468x_print_component(const Si468x_Component *component) {
    std::printf("%-44s%u \n", "TMID:", component->tmid);
    if (component->tmid <= 1) {
        std::printf("%-44s%u\n", "SubChId:", component->subch_id);
    }
    if (component->tmid == 2) {
        std::printf("%-44s%u\n", "FIDCId:", component->fidc_id);
    }
    if (component->tmid == 3) {
        std::printf("%-44s%u\n", "SCId:", component->sc_id);
        std::printf("%-44s%u\n", "DGFlag:", component->dg_flag);
    }
    std::printf("%-44s%u \n", "CA_flag:", component->ca_flag);
    std::printf("%-44s%u \n", "ps:", component->ps);
    std::printf("%-44s%u \n", "ASCTyDSCTy:", component->ascty_dscty);
    std::printf("%-44s%u \n", "muA_info_valid:", component->mua_info_valid);
}

} // namespace

// Decoder failures are not reported: a service or component that does not
// decode prints whatever the decoder wrote into its zeroed record.
void Si468x_print_digital_service_list(const Si468x_ServiceList *list) {
    std::printf("Digital Service List ----------------- \n");
    std::printf("%-44s%u\n", "Service list version:", list->list_version);
    std::printf("%-44s%u\n", "Number services:", list->num_services);
    for (uint16_t i = 0; i < list->num_services; ++i) {
        Si468x_Service service{};
        Si468x_get_digital_service(list, static_cast<uint8_t>(i), &service);
        std::printf("Service No. %u:\n", i);
        Si468x_print_service(&service);
        // Each component's heading starts with the line end of the label.
        for (uint16_t k = 0; k < service.num_components; ++k) {
            Si468x_Component component{};
            Si468x_get_digital_service_component(&service, static_cast<uint8_t>(k), &component);
            std::printf("\nComponent No: %u\n", k);
            Si468x_print_component(&component);
        }
    }
}
