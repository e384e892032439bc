// SPDX-License-Identifier: GPL-3.0-or-later
// Captures what the code under test writes to standard output (through stdio
// or the descriptor), and feeds its standard input from a string. The one
// capture of the test programs.
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace tunelark::test {

class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        char name[] = "/tmp/tunelark_stdout_XXXXXX";
        file_ = mkstemp(name);
        if (file_ < 0) {
            throw std::runtime_error("mkstemp failed");
        }
        unlink(name);
        saved_ = dup(1);
        dup2(file_, 1);
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;
    ~StdoutCapture() { restore(); }

    // Ends the capture and gives everything written.
    std::string take() {
        restore();
        std::string text;
        char buffer[4096];
        lseek(file_, 0, SEEK_SET);
        for (ssize_t n; (n = read(file_, buffer, sizeof(buffer))) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        return text;
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            saved_ = -1;
        }
    }
    int file_ = -1;
    int saved_ = -1;
};

// What `call` writes to standard output.
template <typename Call> std::string captured_stdout(Call &&call) {
    StdoutCapture capture;
    call();
    return capture.take();
}

// Standard input replaced by a pipe holding `text`, closed after it unless
// `keep_open`; restored (with stdin's stdio state cleared) at the end.
class StdinFeed {
public:
    explicit StdinFeed(const std::string &text, bool keep_open = false) {
        int fds[2];
        if (pipe(fds) != 0) {
            throw std::runtime_error("pipe failed");
        }
        if (write(fds[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("short write");
        }
        if (keep_open) {
            writer_ = fds[1];
        } else {
            close(fds[1]);
        }
        saved_ = dup(0);
        dup2(fds[0], 0);
        close(fds[0]);
        std::clearerr(stdin);
    }
    StdinFeed(const StdinFeed &) = delete;
    StdinFeed &operator=(const StdinFeed &) = delete;
    ~StdinFeed() {
        if (writer_ >= 0) {
            close(writer_);
        }
        dup2(saved_, 0);
        close(saved_);
        std::clearerr(stdin);
    }

    // What is left in the pipe, read from the descriptor itself (O_NONBLOCK).
    std::string unread() {
        const int flags = fcntl(0, F_GETFL);
        fcntl(0, F_SETFL, flags | O_NONBLOCK);
        std::string text;
        char buffer[256];
        for (ssize_t n; (n = read(0, buffer, sizeof(buffer))) > 0;) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
        fcntl(0, F_SETFL, flags);
        return text;
    }

private:
    int saved_ = -1;
    int writer_ = -1;
};

} // namespace tunelark::test
