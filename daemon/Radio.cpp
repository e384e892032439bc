// SPDX-License-Identifier: GPL-3.0-or-later
#include "Radio.h"

namespace tunelark {

const char *state_name(RadioState state) {
    switch (state) {
    case RadioState::Starting:
        return "starting";
    case RadioState::Playing:
        return "playing";
    case RadioState::Stopped:
        return "stopped";
    case RadioState::Scanning:
        return "scanning";
    case RadioState::Standby:
        return "standby";
    case RadioState::NoReceiver:
        return "no-receiver";
    }
    return "starting";
}

} // namespace tunelark
