// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board's clock. In virtual mode time moves only when the host
// sleeps (bcm2835 delays) or clocks bytes over the bus, so a 2 s wait costs no
// real time and every test run sees the same times. In real mode delays sleep
// and time is the host's monotonic clock.
#pragma once

#include <cstdint>

namespace sim {

enum class ClockMode { Virtual, Real };

class Clock {
public:
    ClockMode mode() const { return mode_; }
    void set_mode(ClockMode mode);
    // Nanoseconds since the board was set up (or reset for a test).
    uint64_t now_ns() const;
    // A host sleep: virtual mode advances, real mode really sleeps.
    void sleep_ns(uint64_t ns);
    // Time that passes without the host sleeping (bytes on the wire): virtual
    // mode advances, real mode lets the host's own time stand for it.
    void pass_ns(uint64_t ns);
    void restart();
    // Continues the board's time from a value an earlier process left, so
    // that times the board saved stay in the past.
    void set_now_ns(uint64_t ns);

private:
    ClockMode mode_ = ClockMode::Real;
    uint64_t virtual_ns_ = 0;
    uint64_t real_origin_ns_ = 0;
};

} // namespace sim
