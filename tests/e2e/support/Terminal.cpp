// SPDX-License-Identifier: GPL-3.0-or-later
#include "Terminal.h"

#include "exec_image.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

void appendUtf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int colourIndex(const VTermColor &colour, bool foreground) {
    if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&colour) : VTERM_COLOR_IS_DEFAULT_BG(&colour)) {
        return kDefaultColour;
    }
    if (VTERM_COLOR_IS_INDEXED(&colour)) {
        return colour.indexed.idx;
    }
    return kRgbColour;
}

Millis remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
    return left.count() > 0 ? left : Millis(0);
}

} // namespace

Terminal::Terminal(const Launch &launch) : rows_(launch.rows), cols_(launch.cols) {
    // The whole environment is the launch's: nothing is inherited.
    tunelark::test::ChildEnvironment environment{false, {}, {}};
    environment.set.assign(launch.environment.begin(), launch.environment.end());
    const tunelark::test::ExecImage image(launch.program, launch.args, environment);

    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows_);
    size.ws_col = static_cast<unsigned short>(cols_);
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ < 0) {
        throw std::runtime_error(std::string("forkpty: ") + std::strerror(errno));
    }
    if (pid_ == 0) {
        if (!launch.directory.empty() && chdir(launch.directory.c_str()) != 0) {
            static const char message[] = "e2e: cannot enter the working directory\n";
            (void)!write(STDOUT_FILENO, message, sizeof message - 1);
            _exit(126);
        }
        image.exec();
        static const char message[] = "e2e: cannot run the program\n";
        (void)!write(STDOUT_FILENO, message, sizeof message - 1);
        _exit(127);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);

    vt_ = vterm_new(rows_, cols_);
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, &Terminal::writeBack, this);
    screen_ = vterm_obtain_screen(vt_);
    callbacks_.damage = &Terminal::damaged;
    vterm_screen_set_callbacks(screen_, &callbacks_, this);
    vterm_screen_enable_altscreen(screen_, 1);
    vterm_screen_reset(screen_, 1);
}

Terminal::~Terminal() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) {
        close(master_);
    }
    if (vt_ != nullptr) {
        vterm_free(vt_);
    }
}

void Terminal::resize(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    vterm_set_size(vt_, rows_, cols_);
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows_);
    size.ws_col = static_cast<unsigned short>(cols_);
    if (ioctl(master_, TIOCSWINSZ, &size) != 0) {
        throw std::runtime_error(std::string("TIOCSWINSZ: ") + std::strerror(errno));
    }
}

// The terminal's answers (device attributes, cursor reports) and the emulated
// keyboard go back to the program as if typed.
void Terminal::writeBack(const char *bytes, std::size_t length, void *self) {
    static_cast<Terminal *>(self)->send(std::string_view(bytes, length));
}

void Terminal::send(std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(master_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd fd{master_, POLLOUT, 0};
            poll(&fd, 1, 50);
        } else {
            return; // the program is gone; nothing reads the keys any more
        }
    }
}

int Terminal::damaged(VTermRect, void *self) {
    ++static_cast<Terminal *>(self)->changes_;
    return 1;
}

void Terminal::key(VTermKey key) {
    vterm_keyboard_key(vt_, key, VTERM_MOD_NONE);
}

void Terminal::feed(const char *bytes, std::size_t length) {
    output_.append(bytes, length);
    vterm_input_write(vt_, bytes, length);
}

bool Terminal::pump(Millis wait) {
    if (closed_) {
        return false;
    }
    pollfd fd{master_, POLLIN, 0};
    int ready = poll(&fd, 1, static_cast<int>(wait.count()));
    if (ready <= 0) {
        return true;
    }
    char buffer[4096];
    for (;;) {
        ssize_t got = read(master_, buffer, sizeof buffer);
        if (got > 0) {
            feed(buffer, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EAGAIN) {
            break;
        }
        // EIO: every holder of the program's side has closed it.
        closed_ = true;
        break;
    }
    vterm_screen_flush_damage(screen_);
    return !closed_;
}

Cell Terminal::cell(int row, int col) const {
    VTermScreenCell raw{};
    vterm_screen_get_cell(screen_, VTermPos{row, col}, &raw);
    Cell cell;
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && raw.chars[i] != 0; ++i) {
        if (raw.chars[i] != static_cast<uint32_t>(-1)) {
            appendUtf8(cell.text, raw.chars[i]);
        }
    }
    if (cell.text.empty()) {
        cell.text = " ";
    }
    cell.bold = raw.attrs.bold != 0;
    cell.reverse = raw.attrs.reverse != 0;
    cell.fg = colourIndex(raw.fg, true);
    cell.bg = colourIndex(raw.bg, false);
    return cell;
}

std::string Terminal::row(int row) const {
    std::string text;
    if (row < 0 || row >= rows_) {
        return text;
    }
    for (int col = 0; col < cols_; ++col) {
        text += cell(row, col).text;
    }
    return text;
}

std::string Terminal::trimmed(int row) const {
    std::string text = this->row(row);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string Terminal::dump() const {
    std::ostringstream out;
    for (int r = 0; r < rows_; ++r) {
        char number[16];
        std::snprintf(number, sizeof number, "%2d|", r);
        out << number << trimmed(r) << "\n";
    }
    return out.str();
}

int Terminal::find(std::string_view text) const {
    for (int r = 0; r < rows_; ++r) {
        if (row(r).find(text) != std::string::npos) {
            return r;
        }
    }
    return -1;
}

int Terminal::cursorRow() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.row;
}

int Terminal::cursorCol() const {
    VTermPos pos{};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.col;
}

bool Terminal::waitUntil(const std::function<bool()> &condition, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (closed_ || Clock::now() >= deadline) {
            return false;
        }
        pump(std::min(remaining(deadline), Millis(50)));
    }
}

bool Terminal::waitForText(std::string_view text, Millis timeout) {
    return waitUntil([&] { return find(text) >= 0; }, timeout);
}

bool Terminal::waitForRow(int r, std::string_view text, Millis timeout) {
    return waitUntil([&] { return row(r).find(text) != std::string::npos; }, timeout);
}

bool Terminal::waitForOutput(std::string_view text, std::size_t from, Millis timeout) {
    return waitUntil(
        [&] { return from <= output_.size() && output_.find(text, from) != std::string::npos; },
        timeout);
}

void Terminal::settle(Millis quiet, Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    auto lastChange = Clock::now();
    uint64_t seen = changes_;
    while (!closed_ && Clock::now() < deadline && Clock::now() - lastChange < quiet) {
        pump(Millis(20));
        if (changes_ != seen) {
            seen = changes_;
            lastChange = Clock::now();
        }
    }
}

void Terminal::reap(int options) {
    if (reaped_) {
        return;
    }
    int status = 0;
    pid_t got = waitpid(pid_, &status, options);
    if (got == pid_) {
        reaped_ = true;
        waitStatus_ = status;
    }
}

bool Terminal::running() {
    reap(WNOHANG);
    return !reaped_;
}

ExitStatus Terminal::waitExit(Millis timeout) {
    const auto deadline = Clock::now() + timeout;
    // The output is read while waiting: a program blocked on a full terminal
    // would otherwise never end.
    while (running() && Clock::now() < deadline) {
        if (!pump(std::min(remaining(deadline), Millis(20)))) {
            // Its side is closed; the exit follows within moments.
            usleep(5000);
        }
    }
    ExitStatus status;
    if (!reaped_) {
        return status;
    }
    while (pump(Millis(50))) {
        // what it wrote last, up to the close of its side
        if (Clock::now() >= deadline + Millis(2000)) {
            break;
        }
    }
    status.finished = true;
    if (WIFEXITED(waitStatus_)) {
        status.exited = true;
        status.code = WEXITSTATUS(waitStatus_);
    } else if (WIFSIGNALED(waitStatus_)) {
        status.signaled = true;
        status.signal = WTERMSIG(waitStatus_);
    }
    return status;
}

std::optional<uint64_t> Terminal::cpuTicks() const {
    std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    if (!std::getline(file, line)) {
        return std::nullopt;
    }
    // The command name in parentheses may hold blanks: count fields after it.
    std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(close + 1));
    std::vector<std::string> words;
    for (std::string word; fields >> word;) {
        words.push_back(word);
    }
    // Fields 14 and 15 of the line (utime, stime); the state is field 3.
    if (words.size() < 13) {
        return std::nullopt;
    }
    return std::stoull(words[11]) + std::stoull(words[12]);
}

termios Terminal::modes() const {
    termios modes{};
    tcgetattr(master_, &modes);
    return modes;
}

std::string describe(const ExitStatus &status) {
    if (!status.finished) {
        return "still running";
    }
    if (status.exited) {
        return "exit " + std::to_string(status.code);
    }
    if (status.signaled) {
        return std::string("signal ") + strsignal(status.signal);
    }
    return "stopped";
}

} // namespace e2e
