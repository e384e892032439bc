// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the fuzz targets: a scratch directory for the files the
// code under test writes, console output kept off the fuzzer's own output,
// and a check that stops the fuzzer with a message.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "scratch_dir.h"

namespace fuzz {

// The directory is made once per process and removed when the fuzzer exits
// (a crash leaves it, with the input that caused it beside the fuzzer's own
// artefact); each input reuses the same few names in it.
inline const std::string &scratch_directory() {
    static const tunelark::test::ScratchDir directory{"tunelark-fuzz"};
    return directory.path();
}

// The code under test prints progress and error lines; they are not what
// the fuzzer looks at.
inline void silence_stdout() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
}

inline void write_file(const std::string &path, const uint8_t *data, std::size_t size) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

// A property that every input must keep.
inline void require(bool holds, const char *what) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

} // namespace fuzz
