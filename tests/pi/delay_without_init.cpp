// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel path never starts the bcm2835 library, yet the driver keeps
// calling its two delays. Without bcm2835_init they must still wait at least
// as long as asked (by sleeping on the system clock) and touch no register.
#ifndef BCM2835_NO_DELAY_COMPATIBILITY
#define BCM2835_NO_DELAY_COMPATIBILITY
#endif
#include <bcm2835.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <initializer_list>

namespace {

uint64_t now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1'000'000U + static_cast<uint64_t>(t.tv_nsec) / 1000U;
}

} // namespace

int main() {
    int failures = 0;
    // Below and above the library's busy-wait threshold of about 450 us.
    for (const uint64_t micros : {100U, 1'000U, 20'000U}) {
        const uint64_t start = now_us();
        bcm2835_delayMicroseconds(micros);
        const uint64_t waited = now_us() - start;
        if (waited < micros) {
            std::printf("FAIL: bcm2835_delayMicroseconds(%llu) returned after %llu us\n",
                        static_cast<unsigned long long>(micros),
                        static_cast<unsigned long long>(waited));
            ++failures;
        }
    }
    const uint64_t start = now_us();
    bcm2835_delay(30);
    const uint64_t waited = now_us() - start;
    if (waited < 30'000U) {
        std::printf("FAIL: bcm2835_delay(30) returned after %llu us\n",
                    static_cast<unsigned long long>(waited));
        ++failures;
    }
    if (failures == 0) {
        std::printf("the bcm2835 delays wait as asked without bcm2835_init\n");
    }
    return failures == 0 ? 0 : 1;
}
