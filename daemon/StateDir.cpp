// SPDX-License-Identifier: GPL-3.0-or-later
#include "StateDir.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace tunelark {

namespace {

constexpr std::size_t TOKEN_BYTES = 16;

bool write_file_atomically(const std::string &path, const std::string &content, mode_t mode) {
    const std::string temporary = path + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        return false;
    }
    // The mode is the file's own, whatever the umask let through.
    ::fchmod(fd, mode);
    const bool written =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

bool StateDir::ensure(std::string *error) const {
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            *error = "The state directory " + path_ + " is not a directory.";
            return false;
        }
        return true;
    }
    if (::mkdir(path_.c_str(), 0750) != 0) {
        *error = "The state directory " + path_ + " cannot be made: " + std::strerror(errno) + ".";
        return false;
    }
    return true;
}

std::optional<std::string> StateDir::token(std::string *error) const {
    {
        std::ifstream in(token_file());
        std::string token;
        if (in && std::getline(in, token) && token.size() == TOKEN_BYTES * 2 &&
            token.find_first_not_of("0123456789abcdef") == std::string::npos) {
            return token;
        }
    }
    unsigned char bytes[TOKEN_BYTES];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno != EINTR) {
            *error = std::string("No random numbers for the token: ") + std::strerror(errno) + ".";
            return std::nullopt;
        }
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    std::string token;
    for (const unsigned char b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        token += hex;
    }
    if (!write_file_atomically(token_file(), token + "\n", 0600)) {
        *error = "The token cannot be saved in " + token_file() + ": " + std::strerror(errno) + ".";
        return std::nullopt;
    }
    return token;
}

std::optional<StateDir::LastStation> StateDir::last_station() const {
    std::ifstream in(last_station_file());
    LastStation station;
    if (in >> station.service_id >> station.frequency_khz) {
        return station;
    }
    return std::nullopt;
}

void StateDir::remember_station(const LastStation &station) const {
    // Losing it costs only the station's name after a takeover.
    write_file_atomically(last_station_file(),
                          std::to_string(station.service_id) + " " +
                              std::to_string(station.frequency_khz) + "\n",
                          0644);
}

void StateDir::forget_station() const {
    ::unlink(last_station_file().c_str());
}

std::map<uint32_t, std::string> StateDir::ensemble_labels() const {
    std::map<uint32_t, std::string> labels;
    std::ifstream in(ensembles_file());
    if (!in) {
        return labels;
    }
    std::stringstream text;
    text << in.rdbuf();
    // A damaged file costs only the names until the next scan or play.
    const auto json = nlohmann::json::parse(text.str(), nullptr, false);
    if (!json.is_object()) {
        return labels;
    }
    for (const auto &[key, value] : json.items()) {
        char *end = nullptr;
        const unsigned long khz = std::strtoul(key.c_str(), &end, 10);
        if (value.is_string() && end != key.c_str() && *end == '\0' && khz > 0 &&
            khz <= UINT32_MAX) {
            labels[static_cast<uint32_t>(khz)] = value.get<std::string>();
        }
    }
    return labels;
}

bool StateDir::remember_ensemble_labels(const std::map<uint32_t, std::string> &labels) const {
    nlohmann::json json = nlohmann::json::object();
    for (const auto &[khz, label] : labels) {
        json[std::to_string(khz)] = label;
    }
    return write_file_atomically(
        ensembles_file(), json.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n",
        0644);
}

bool equal_in_constant_time(std::string_view a, std::string_view b) {
    // The length of the token is no secret; its bytes are.
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const std::string_view compare_with = a.size() == b.size() ? b : a;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ compare_with[i]);
    }
    return difference == 0;
}

} // namespace tunelark
