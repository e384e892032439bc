// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated chip's property store: the ids its DAB image knows, with the
// values they hold after every boot. GET_PROPERTY and SET_PROPERTY of an id
// outside the store are rejected, as a real chip rejects an invalid id.
#pragma once

#include <cstdint>
#include <map>

namespace sim {

using PropertyStore = std::map<uint16_t, uint16_t>;

// Every id the image knows, with its value after a boot.
PropertyStore default_properties();

} // namespace sim
