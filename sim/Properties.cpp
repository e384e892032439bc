// SPDX-License-Identifier: GPL-3.0-or-later
#include "Properties.h"

#include "ChipProtocol.h"

namespace sim {

PropertyStore default_properties() {
    PropertyStore store;
    for (const auto &fact : si468x::property_facts) {
        store[fact.id] = fact.initial;
    }
    return store;
}

} // namespace sim
