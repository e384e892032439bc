// SPDX-License-Identifier: GPL-3.0-or-later
// tunelarkd: the chip thread, the web remote, and a clean stop on SIGTERM or
// SIGINT that leaves the chip as it is.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

#include "ChipThread.h"
#include "HttpServer.h"
#include "Options.h"
#include "Pairing.h"
#include "StateDir.h"
#include "mpd/Server.h"
#include "mqtt/Bridge.h"

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
    std::unique_ptr<mpd::Server> mpd_server;
    std::unique_ptr<mqtt::Bridge> mqtt_bridge;
    try {
        if (options->mpd) {
            const ListenAddress &address = *options->mpd;
            const std::string where = (address.ipv6 ? "[" + address.host + "]" : address.host) +
                                      ":" + std::to_string(address.port);
            const std::string pairing_token = *token;
            mpd_server = std::make_unique<mpd::Server>(
                chip,
                [pairing_token](std::string_view given) {
                    return equal_in_constant_time(given, pairing_token);
                },
                where);
            std::printf("MPD clients on %s\n", where.c_str());
        }
        if (options->mqtt_host) {
            mqtt::Options mqtt_options;
            mqtt_options.host = *options->mqtt_host;
            mqtt_options.port = static_cast<int>(options->mqtt_port);
            mqtt_options.user = options->mqtt_user.value_or("");
            if (options->mqtt_password_file)
                mqtt_options.password = mqtt::read_password_file(*options->mqtt_password_file);
            const std::string host = host_name();
            mqtt_options.prefix =
                options->mqtt_prefix.empty() ? "tunelark/" + host : options->mqtt_prefix;
            mqtt_options.node_id = mqtt::node_id_from(host);
            mqtt_options.device_name = "Tunelark on " + host;
            mqtt_options.version = TUNELARK_VERSION;
            mqtt_bridge = std::make_unique<mqtt::Bridge>(chip, mqtt_options);
        }
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        _exit(1);
    }

    int received = 0;
    sigwait(&signals, &received);
    std::thread([] {
        std::this_thread::sleep_for(STOP_GRACE);
        // A chip sequence still running is left: the chip keeps playing.
        _exit(0);
    }).detach();
    mqtt_bridge.reset();
    mpd_server.reset();
    http.stop();
    chip.stop();
    return 0;
}
