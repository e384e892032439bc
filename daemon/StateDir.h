// SPDX-License-Identifier: GPL-3.0-or-later
// The service's state directory: the station list, the remote's token and the
// station last started.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tunelark {

class StateDir {
public:
    explicit StateDir(std::string path) : path_(std::move(path)) {}
    const std::string &path() const { return path_; }
    std::string station_list() const { return path_ + "/stationlist.txt"; }
    std::string token_file() const { return path_ + "/remote-token"; }
    std::string last_station_file() const { return path_ + "/last-station"; }
    std::string ensembles_file() const { return path_ + "/ensembles.json"; }

    // Creates the directory when it is missing (mode 0750). False with a
    // sentence in *error when it cannot be had.
    bool ensure(std::string *error) const;
    // The remote's token: read, or made (128 random bits, 32 hex digits,
    // mode 0600) at the first start.
    std::optional<std::string> token(std::string *error) const;

    struct LastStation {
        uint32_t service_id = 0;
        uint32_t frequency_khz = 0;
    };
    std::optional<LastStation> last_station() const;
    // Written beside and renamed, so a crash never leaves half a line.
    void remember_station(const LastStation &station) const;
    void forget_station() const;

    // The labels the ensembles broadcast, by frequency in kHz, as the chip
    // read them at the last scan or play: the station list has no room for
    // them. A missing or unreadable file gives none.
    std::map<uint32_t, std::string> ensemble_labels() const;
    bool remember_ensemble_labels(const std::map<uint32_t, std::string> &labels) const;

private:
    std::string path_;
};

// Equal strings, compared in a time that does not depend on where they
// differ.
bool equal_in_constant_time(std::string_view a, std::string_view b);

} // namespace tunelark
