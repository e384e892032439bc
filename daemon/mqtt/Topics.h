// SPDX-License-Identifier: GPL-3.0-or-later
// The topics of one radio and what is published on them.
#pragma once

#include "Bridge.h"

#include <string>
#include <utility>
#include <vector>

namespace tunelark::mqtt {

std::string availability_topic(const Options &options);
std::string command_topic(const Options &options, const char *what);
inline constexpr const char *ha_status_topic = "homeassistant/status";

// The retained state: each topic with its payload, in a fixed order.
std::vector<std::pair<std::string, std::string>> state_messages(const Options &options,
                                                                const Snapshot &snapshot);
// The discovery configs, one per entity, with the station labels as the
// select's options.
std::vector<std::pair<std::string, std::string>> discovery_messages(const Options &options,
                                                                    const Snapshot &snapshot);

} // namespace tunelark::mqtt
