// SPDX-License-Identifier: GPL-3.0-or-later
// Placeholder entry until the application lands.
#include <cstdio>

int main() {
    std::printf("Starting...Corvane Software %s\n", "v0.16.5");
    return 0;
}
