// SPDX-License-Identifier: GPL-3.0-or-later
// tunelarkd: the chip thread, the web remote, and a clean stop on SIGTERM or
// SIGINT that leaves the chip as it is.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "ChipThread.h"
#include "HttpServer.h"
#include "Options.h"
#include "Pairing.h"
#include "StateDir.h"

namespace {

// Long enough for the threads to end; the service is gone within a second
// even when a chip sequence is still running.
constexpr auto STOP_GRACE = std::chrono::milliseconds(800);

std::string host_name() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

} // namespace

int main(int argc, char **argv) {
    using namespace tunelark;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string error;
    const auto options = parse_options(argc, argv, &error);
    if (!options) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (options->version) {
        std::printf("tunelarkd %s\n", TUNELARK_VERSION);
        return 0;
    }

    const StateDir state_dir(options->state_dir);
    if (!state_dir.ensure(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const auto token = state_dir.token(&error);
    if (!token) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    if (options->pair) {
        const auto urls = pairing_urls(options->listen, *token);
        std::puts("Open this address on the phone or computer to pair it with the radio:");
        for (const std::string &url : urls) {
            std::printf("  %s\n", url.c_str());
        }
        if (!urls.empty()) {
            std::printf("\n%s", qr_code_text(urls.front()).c_str());
        }
        return 0;
    }

    // The signals are taken by a thread of their own; every other thread has
    // them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ChipThread chip(state_dir);
    if (!chip.take_chip(&error)) {
        std::printf("%s\n", error.c_str());
        return 1;
    }
    chip.start();
    HttpServer http(chip, *token, host_name());
    if (!http.start(options->listen, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        _exit(1);
    }
    for (const ListenAddress &address : options->listen) {
        std::printf("Listening on %s%s%s:%u\n", address.ipv6 ? "[" : "", address.host.c_str(),
                    address.ipv6 ? "]" : "", address.port);
    }

    int received = 0;
    sigwait(&signals, &received);
    std::thread([] {
        std::this_thread::sleep_for(STOP_GRACE);
        // A chip sequence still running is left: the chip keeps playing.
        _exit(0);
    }).detach();
    http.stop();
    chip.stop();
    return 0;
}
