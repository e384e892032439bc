// SPDX-License-Identifier: GPL-3.0-or-later
// One client's conversation: lines in, replies out, with command lists, the
// password and idle. Knows nothing of sockets, so the server decides how to
// wait.
#pragma once

#include "Commands.h"

#include <cstdint>
#include <string>

namespace tunelark::mpd {

enum Subsystem : unsigned {
    SubsystemPlayer = 1,
    SubsystemMixer = 2,
    SubsystemPlaylist = 4,
    // Named by clients, never raised here.
    SubsystemOther = 8,
};

class Session {
public:
    enum class After { Reply, Idle, Close };

    Session(Radio &radio, std::function<bool(std::string_view)> check_token,
            std::shared_ptr<const std::atomic<uint32_t>> last_station);

    // Runs one line (without its newline) and appends the answer to `out`.
    // Idle means the connection now waits for `idle_changes`.
    After handle_line(std::string_view line, std::string &out);
    // While idle: the subsystems that changed since they were last reported,
    // answered as "changed:" lines and OK; false (and nothing written) while
    // none did.
    bool idle_changes(const Snapshot &snapshot, std::string &out);
    bool idling() const { return idle_mask_ != 0; }

private:
    struct Marks {
        std::string player;
        int mixer = 0;
        uint64_t playlist = 0;
    };
    static Marks marks_of(const Snapshot &snapshot);
    void run(const Command &command, unsigned index, std::string &out, bool &failed, After &after);
    void end_list(std::string &out, After &after);

    Context context_;
    Marks reported_;
    unsigned idle_mask_ = 0;
    bool in_list_ = false;
    bool list_ok_ = false;
    std::vector<Command> list_;
    size_t list_bytes_ = 0;
    std::string list_error_;
};

} // namespace tunelark::mpd
