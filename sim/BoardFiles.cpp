// SPDX-License-Identifier: GPL-3.0-or-later
// What the board keeps on disk, so that one process finds the board as the
// last one left it: the board directory with its state file, device node,
// errors and stats; and the configuration a host process takes from its
// environment.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "Board.h"
#include "SavedState.h"

namespace sim {

namespace {

constexpr const char *state_file = "state";
constexpr const char *node_file = "spidev0.0";

std::string temp_root() {
    const char *tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

bool make_directories(const std::string &path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool file_exists(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

void touch(const std::string &path) {
    if (std::FILE *file = std::fopen(path.c_str(), "a")) {
        std::fclose(file);
    }
}

// Values are single lines: backslash and line ends are escaped.
std::string escape(const std::string &value) {
    std::string text;
    for (const char c : value) {
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else {
            text += c;
        }
    }
    return text;
}

std::string unescape(const std::string &text) {
    std::string value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            value += text[i + 1] == 'n' ? '\n' : text[i + 1];
            ++i;
        } else {
            value += text[i];
        }
    }
    return value;
}

std::string serialise(const std::map<std::string, std::string> &state) {
    std::string text;
    for (const auto &[key, value] : state) {
        text += key;
        text += '=';
        text += escape(value);
        text += '\n';
    }
    return text;
}

std::map<std::string, std::string> parse_state(const std::string &text) {
    std::map<std::string, std::string> state;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            continue;
        }
        state[line.substr(0, equals)] = unescape(line.substr(equals + 1));
    }
    return state;
}

bool read_file(const std::string &path, std::string &text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

} // namespace

void Board::configure_from_environment() {
    configured_ = true;
    from_environment_ = true;
    // Nobody in a host process reads the call list; it would only grow.
    record_calls_ = false;
    std::vector<std::string> problems;

    ClockMode mode = ClockMode::Real;
    if (const char *text = std::getenv("SI468X_SIM_CLOCK"); text != nullptr && *text != '\0') {
        const std::string value = text;
        if (value == "virtual") {
            mode = ClockMode::Virtual;
        } else if (value != "real") {
            problems.push_back("SI468X_SIM_CLOCK=\"" + value + "\": expected virtual or real");
        }
    }
    clock_.set_mode(mode);

    if (const char *text = std::getenv("SI468X_SIM_FAULTS"); text != nullptr) {
        std::string message;
        if (!faults_.parse(text, &message)) {
            problems.push_back("SI468X_SIM_FAULTS=\"" + std::string(text) + "\": " + message);
        }
    }
    if (const char *text = std::getenv("SI468X_SIM_BAND"); text != nullptr && *text != '\0') {
        std::string message;
        if (!chip_->receiver().load_band_file(text, &message)) {
            problems.push_back("SI468X_SIM_BAND=\"" + std::string(text) + "\": " + message);
        }
    }

    if (const char *text = std::getenv("SI468X_SIM_TIMING"); text != nullptr) {
        std::string message;
        if (!parse_timing(text, &chip_->receiver().timing(), &message)) {
            problems.push_back("SI468X_SIM_TIMING=\"" + std::string(text) + "\": " + message);
        }
    }

    PiModel model = PiModel::Pi4;
    if (const char *text = std::getenv("SI468X_SIM_PI"); text != nullptr && *text != '\0') {
        const std::string value = text;
        if (value == "3") {
            model = PiModel::Pi3;
        } else if (value == "5") {
            model = PiModel::Pi5;
        } else if (value == "unknown") {
            model = PiModel::Unknown;
        } else if (value == "none") {
            model = PiModel::NoDeviceTree;
        } else if (value != "4") {
            problems.push_back("SI468X_SIM_PI=\"" + value +
                               "\": expected 3, 4, 5, unknown or none");
        }
    }

    const char *board = std::getenv("SI468X_SIM_BOARD");
    open_directory(board != nullptr && *board != '\0' ? board : temp_root() + "/si468x-sim-board");
    clock_at_start_ns_ = clock_.now_ns();
    set_pi_model(model);

    for (const auto &problem : problems) {
        report_error(problem + "; the board behaves as absent");
    }
    broken_ = !problems.empty();

    if (const char *calls = std::getenv("SI468X_SIM_CALLS"); calls != nullptr && *calls != '\0') {
        calls_file_ = std::fopen(calls, "a");
        if (calls_file_ == nullptr) {
            report_error("SI468X_SIM_CALLS=\"" + std::string(calls) + "\": cannot be opened");
        }
    }
    if (const char *trace = std::getenv("SI468X_SIM_TRACE"); trace != nullptr && *trace != '\0') {
        if (!trace_.open(trace)) {
            report_error("SI468X_SIM_TRACE=\"" + std::string(trace) + "\": cannot be opened");
        }
    }
}

void Board::open_directory(const std::string &directory) {
    make_directories(directory);
    directory_ = directory;
    if (!exit_hook_) {
        exit_hook_ = true;
        std::atexit(&Board::at_exit);
    }
    if (file_exists(directory_ + "/" + state_file)) {
        load_state();
        return;
    }
    // A fresh board comes with its device node; a node deleted later stays
    // deleted, since the board is no longer fresh.
    touch(directory_ + "/" + node_file);
    write_state(snapshot());
}

void Board::use_directory(const std::string &directory) {
    open_directory(directory);
}

std::map<std::string, std::string> Board::snapshot() const {
    std::map<std::string, std::string> state;
    state["reset_line"] = reset_released_ ? "1" : "0";
    gpio_.save(state);
    chip_->save(state);
    return state;
}

void Board::write_state(const std::map<std::string, std::string> &snapshot) {
    last_written_ = snapshot;
    auto state = snapshot;
    state["clock_ns"] = std::to_string(clock_.now_ns());
    const std::string text = serialise(state);
    if (directory_.empty()) {
        saved_in_memory_ = text;
        return;
    }
    // Written beside and renamed, so a reader never sees half a state.
    const std::string path = directory_ + "/" + state_file;
    const std::string temporary = path + ".new";
    std::FILE *file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        return;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) == 0 && written) {
        std::rename(temporary.c_str(), path.c_str());
    }
}

void Board::save_state() {
    write_state(snapshot());
}

void Board::persist_if_changed() {
    if (directory_.empty()) {
        return;
    }
    auto now = snapshot();
    if (now != last_written_) {
        write_state(now);
    }
}

void Board::load_state() {
    std::string text;
    if (directory_.empty()) {
        text = saved_in_memory_;
    } else if (!read_file(directory_ + "/" + state_file, text)) {
        return;
    }
    if (text.empty()) {
        return;
    }
    apply_state(parse_state(text));
}

void Board::apply_state(const std::map<std::string, std::string> &state) {
    // Time goes on from where the last process left it, never back.
    if (const auto found = state.find("clock_ns"); found != state.end()) {
        const auto saved = saved_number(found->second);
        if (saved && *saved > clock_.now_ns()) {
            clock_.set_now_ns(*saved);
        }
    }
    // A new process: the peripherals are not mapped and SPI0 not claimed;
    // the pins and the chip stay as the hardware was left.
    peripherals_open_ = false;
    spi_ = SpiBus{};
    forget_kernel_handles();
    gpio_.load(state);
    if (faults_.has(Fault::HostExitResetsChip)) {
        // As if the host's exit had handed the pins back as booted: the
        // reset line is an input, and the board's pull-down holds the chip.
        gpio_.reset();
    }
    chip_->load(state);
    reset_released_ = gpio_.reset_released();
    if (!reset_released_) {
        chip_->set_reset_released(false);
    } else if (chip_->state() == ChipState::Reset) {
        chip_->set_reset_released(true);
    }
    last_written_ = snapshot();
}

std::string Board::scratch_directory() {
    const long pid = static_cast<long>(::getpid());
    if (scratch_directory_.empty() || scratch_owner_pid_ != pid) {
        std::string pattern = temp_root() + "/si468x-sim-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            pattern = temp_root();
        }
        scratch_directory_ = pattern;
        scratch_owner_pid_ = pid;
        if (!exit_hook_) {
            exit_hook_ = true;
            std::atexit(&Board::at_exit);
        }
    }
    return scratch_directory_;
}

std::string Board::spidev_path() {
    return (directory_.empty() ? scratch_directory() : directory_) + "/" + node_file;
}

void Board::set_spidev_present(bool present) {
    spidev_present_ = present;
    const std::string path = spidev_path();
    if (present) {
        touch(path);
    } else {
        ::unlink(path.c_str());
    }
}

const char *Board::device_node() {
    const std::string base = directory_.empty() ? scratch_directory() : directory_;
    // The fault names a node that cannot exist, and leaves the real one alone.
    node_path_ =
        faults_.has(Fault::NoSpidev) ? base + "/no-spidev/" + node_file : base + "/" + node_file;
    return node_path_.c_str();
}

std::string Board::errors_path() {
    return (directory_.empty() ? scratch_directory() : directory_) + "/errors";
}

void Board::report_error(const std::string &message) {
    if (std::FILE *file = std::fopen(errors_path().c_str(), "a")) {
        std::fprintf(file, "si468x-sim: %s\n", message.c_str());
        std::fclose(file);
    }
}

void Board::write_stats() const {
    if (directory_.empty()) {
        return;
    }
    std::map<std::string, std::string> stats;
    const uint64_t now = clock_.now_ns();
    stats["clock_ns"] = std::to_string(now);
    stats["elapsed_ns"] = std::to_string(now >= clock_at_start_ns_ ? now - clock_at_start_ns_ : 0);
    stats["frames"] = std::to_string(stats_.frames);
    stats["bytes"] = std::to_string(stats_.bytes);
    stats["host_load_image_bytes"] = std::to_string(stats_.host_load_image_bytes);
    stats["resets"] = std::to_string(stats_.resets);
    stats["reset_releases"] = std::to_string(stats_.reset_releases);
    stats["delay_calls"] = std::to_string(stats_.delay_calls);
    stats["delay_ns"] = std::to_string(stats_.delay_ns);
    stats["busy_ns"] = std::to_string(stats_.busy_ns);
    stats["syscalls"] = std::to_string(stats_.syscalls);
    stats["chunk_ioctls"] = std::to_string(stats_.chunk_ioctls);
    for (int opcode = 0; opcode < 256; ++opcode) {
        if (stats_.commands[opcode] != 0) {
            char key[24];
            std::snprintf(key, sizeof key, "command.0x%02X", opcode);
            stats[key] = std::to_string(stats_.commands[opcode]);
        }
    }
    if (std::FILE *file = std::fopen((directory_ + "/stats").c_str(), "w")) {
        const std::string text = serialise(stats);
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

void Board::at_exit() {
    Board &board = instance();
    // A process refused the chip touched nothing: the board's state and
    // stats are those of the program that holds it, still running.
    if (!board.lock_refused_) {
        board.write_stats();
    }
    // A host process leaves its final time behind, so the next one goes on
    // from there. (A test process leaves the directory to whoever used it last.)
    if (board.from_environment_ && !board.directory_.empty() && !board.lock_refused_) {
        board.write_state(board.snapshot());
    }
    board.trace_.close();
    if (!board.scratch_directory_.empty() &&
        board.scratch_owner_pid_ == static_cast<long>(::getpid())) {
        ::unlink((board.scratch_directory_ + "/" + node_file).c_str());
        ::unlink((board.scratch_directory_ + "/errors").c_str());
        ::unlink((board.scratch_directory_ + "/device-tree/compatible").c_str());
        ::rmdir((board.scratch_directory_ + "/device-tree").c_str());
        ::rmdir(board.scratch_directory_.c_str());
    }
}

} // namespace sim
