// SPDX-License-Identifier: GPL-3.0-or-later
// The snapshot in the API's JSON words.
#pragma once

#include <nlohmann/json.hpp>

#include "Radio.h"

namespace tunelark {

nlohmann::json station_json(const Station &station);
nlohmann::json status_json(const Snapshot &snapshot);
nlohmann::json stations_json(const Snapshot &snapshot);

} // namespace tunelark
