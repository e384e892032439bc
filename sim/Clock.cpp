// SPDX-License-Identifier: GPL-3.0-or-later
#include "Clock.h"

#include <ctime>

namespace sim {

namespace {

uint64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000ULL + static_cast<uint64_t>(ts.tv_nsec);
}

} // namespace

void Clock::set_mode(ClockMode mode) {
    mode_ = mode;
    restart();
}

void Clock::restart() {
    virtual_ns_ = 0;
    real_origin_ns_ = monotonic_ns();
}

void Clock::set_now_ns(uint64_t ns) {
    virtual_ns_ = ns;
    // Real mode counts from an origin; one before the host's own clock began
    // (a long earlier run) wraps, and the difference taken in now_ns()
    // unwraps it.
    real_origin_ns_ = monotonic_ns() - ns;
}

uint64_t Clock::now_ns() const {
    if (mode_ == ClockMode::Virtual) {
        return virtual_ns_;
    }
    return monotonic_ns() - real_origin_ns_;
}

void Clock::sleep_ns(uint64_t ns) {
    if (mode_ == ClockMode::Virtual) {
        virtual_ns_ += ns;
        return;
    }
    timespec request{static_cast<time_t>(ns / 1000000000ULL),
                     static_cast<long>(ns % 1000000000ULL)};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0) {
        request = remaining;
    }
}

void Clock::pass_ns(uint64_t ns) {
    if (mode_ == ClockMode::Virtual) {
        virtual_ns_ += ns;
    }
}

} // namespace sim
