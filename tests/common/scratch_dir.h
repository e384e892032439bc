// SPDX-License-Identifier: GPL-3.0-or-later
// A scratch directory of the test's own under the temporary directory
// ($TMPDIR or /tmp), removed with everything in it at the end, and the whole-
// file reads and writes the tests do in it. Header-only, for the test programs.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include <stdlib.h>

namespace tunelark::test {

class ScratchDir {
public:
    // The name starts with `tag`, so a directory left by a killed test says
    // whose it was.
    explicit ScratchDir(const std::string &tag = "tunelark") {
        std::string pattern = (std::filesystem::temp_directory_path() / (tag + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot make a scratch directory for " + tag);
        }
        path_ = pattern;
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    const std::string &path() const { return path_; }
    // A name inside the directory (nothing is created).
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    std::filesystem::path operator/(const std::string &name) const {
        return std::filesystem::path(path_) / name;
    }

private:
    std::string path_;
};

// The file's bytes; empty when it cannot be read.
inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace tunelark::test
