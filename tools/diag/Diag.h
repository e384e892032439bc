// SPDX-License-Identifier: GPL-3.0-or-later
// si468x-diag: the driver's operations that the radio never calls, one per
// subcommand, for people who debug a board or look for data services.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DABUtils.h"
#include "Si468x.h"

namespace diag {

// Exit statuses of the program.
constexpr int exit_ok = 0;
constexpr int exit_failed = 1; // the chip or a file failed; the message says where
constexpr int exit_usage = 2;  // bad command line; the board was not touched
// Another program holds the chip: the message said so, nothing was touched,
// and the process exits with exit_ok (the other program's radio plays on).
constexpr int exit_chip_held = 3;

constexpr const char *program_name = "si468x-diag";

// ---- command line ---------------------------------------------------------

// A decimal number, or hex with 0x; the whole word, no sign, at most `max`.
std::optional<uint32_t> parse_number(const std::string &word, uint32_t max);

// The words after the subcommand; options are taken out by name, and what
// is left must be the positional arguments.
class Arguments {
public:
    Arguments(std::string command, std::vector<std::string> words);

    const std::string &command() const { return command_; }
    // Takes "--name" out of the words; true when it was there.
    bool take_flag(const std::string &name);
    // Takes "--name VALUE" or "--name=VALUE" out of the words. Returns false
    // (after a usage message) when the option is there without its value.
    bool take_option(const std::string &name, std::optional<std::string> &value);
    // Checks that exactly `count` positional words remain and no unknown
    // option; prints the usage message otherwise.
    bool expect_positional(std::size_t count, const char *synopsis);
    const std::string &operator[](std::size_t index) const { return words_[index]; }

    // Parses a numeric argument; prints the usage message when it is bad.
    bool number(const std::string &word, const char *what, uint32_t max, uint32_t &value) const;
    // A frequency index, 0 to 255.
    bool index(const std::string &word, uint8_t &value) const;

private:
    std::string command_;
    std::vector<std::string> words_;
};

// ---- messages ---------------------------------------------------------------

// "<what>: failed with status S at location L" on standard error, with the
// driver's location code (Si468x_ErrorCode). Returns exit_failed.
int fail_driver(const std::string &what, int16_t status);
// The same with the station-management layer's location code.
int fail_dab(const std::string &what, int16_t status);
// A failure that is no driver status ("no ensemble at index 7").
int fail(const std::string &message);
// A file path that something other than a regular file (or a link to one)
// stands at: "<what>: <path> is a named pipe (FIFO), not a regular file".
// Returns exit_failed for such a path, exit_ok for a regular file or nothing.
int check_regular_file(const std::string &what, const std::string &path);
// A command-line error: the message and a hint to --help. Returns exit_usage.
int usage_error(const std::string &message);

// ---- labels -----------------------------------------------------------------

// A label decoded from its character set, in the terminal's locale.
std::string decoded_label(const char label[DAB_LABEL_BYTES], uint8_t charset);
// Every service's label of the list, decoded, one line each.
void print_decoded_labels(const Si468x_ServiceList &list);

// ---- the board --------------------------------------------------------------

// Where the bring-up takes its images from.
struct FirmwareSource {
    DAB_FirmwareKind kind = DAB_FIRMWARE_EMBEDDED;
    std::string patch_path; // Files
    std::string image_path; // Files
    uint32_t flash_address = 0;

    static FirmwareSource embedded() { return {}; }
};

// One run's hold on the board: opens the link, gets the DAB firmware running,
// and at the end either leaves the chip running (so the radio takes it over
// without reset) or powers it down.
class Session {
public:
    explicit Session(bool power_down_when_done) : power_down_(power_down_when_done) {}
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Root check and link set-up, without touching the chip.
    int open();
    // open(), then takes over a chip whose DAB firmware already runs, or
    // brings it up with the embedded images and sets the receiver properties.
    int start();
    // open(), then always a full bring-up from `source`.
    int start_from(const FirmwareSource &source);

private:
    int bring_up(const FirmwareSource &source);
    bool power_down_;
    bool opened_ = false;
};

// ---- tuning, shared by the subcommands that tune -------------------------------

struct FreqList {
    std::array<uint32_t, SI468X_MAX_FREQ_LIST> khz{};
    uint8_t count = 0;
};

int read_freq_list(const std::string &what, FreqList &list);
// Starts the session and reads the frequency list, so that an index the chip
// does not have is refused with its reason instead of a rejected tune.
int start_and_check_index(Session &session, const std::string &what, uint8_t index,
                          FreqList &freqs);
// Refuses an index that the chip's list does not have.
int check_index(const std::string &what, const FreqList &list, uint8_t index);
// Tunes and waits for the ensemble the way the radio's playback does.
// `acquired` tells whether it came; `status` holds the last reception status.
int tune_and_acquire(const std::string &what, uint8_t index, Si468x_DigradStatus &status,
                     bool &acquired);
// Tunes and waits for the stable service list (the band scan's step);
// fails when no ensemble is there.
int tune_and_read_services(const std::string &what, const FreqList &freqs, uint8_t index,
                           Si468x_ServiceList &list);
// Finds the service and one of its components in a list read from the chip.
bool find_component(const Si468x_ServiceList &list, uint32_t service_id, uint32_t component_id,
                    Si468x_Service &service);

// ---- subcommands ------------------------------------------------------------

int cmd_status(Session &session, Arguments &args);
int cmd_info(Session &session, Arguments &args);
int cmd_upload(Session &session, Arguments &args);
int cmd_flash_load(Session &session, Arguments &args);
int cmd_freqs(Session &session, Arguments &args);
int cmd_tune(Session &session, Arguments &args);
int cmd_services(Session &session, Arguments &args);
int cmd_component(Session &session, Arguments &args);
int cmd_search(Session &session, Arguments &args);
int cmd_log(Session &session, Arguments &args);

} // namespace diag
