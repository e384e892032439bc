// SPDX-License-Identifier: GPL-3.0-or-later
// What a child process hands to execve, built whole before the fork. A child
// forked from a threaded program (the test framework, a sanitizer's helper
// threads) may only make async-signal-safe calls until it has exec'd: another
// thread may have held the allocator's or the environment's lock at the fork,
// so malloc, setenv or a std::string in the child can hang or corrupt it. The
// child only reads what this class prepared. Header-only, shared by the test
// programs and the benchmark.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

extern char **environ;

namespace tunelark::test {

// The child's environment, described from the parent's.
struct ChildEnvironment {
    // Start from this process's environment; false: only `set`.
    bool inherit = true;
    // Inherited entries that start with one of these are left out ("LC_"
    // drops every locale category, "TMPDIR=" exactly that variable).
    std::vector<std::string> prefixes_removed;
    // Added last; an inherited entry of the same name is left out.
    std::vector<std::pair<std::string, std::string>> set;

    // The entries, "NAME=value", in the order the child gets them.
    std::vector<std::string> entries() const {
        std::vector<std::string> words;
        if (inherit) {
            for (char **entry = environ; *entry != nullptr; ++entry) {
                const std::string_view text(*entry);
                const bool removed = std::any_of(
                    prefixes_removed.begin(), prefixes_removed.end(),
                    [&](const std::string &prefix) { return text.starts_with(prefix); });
                const bool replaced = std::any_of(set.begin(), set.end(), [&](const auto &pair) {
                    return text.starts_with(pair.first + "=");
                });
                if (!removed && !replaced) {
                    words.emplace_back(text);
                }
            }
        }
        for (const auto &[name, value] : set) {
            words.push_back(name + "=" + value);
        }
        return words;
    }
};

// The program's path as execvp would find it, looked up in the parent (the
// search builds strings, which the child may not). A name with a slash is
// taken as it is; a name found nowhere is returned unchanged, so the exec
// fails in the child as it would have.
inline std::string find_in_path(const std::string &name) {
    if (name.find('/') != std::string::npos) {
        return name;
    }
    const char *path = std::getenv("PATH");
    std::string_view dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const auto colon = dirs.find(':');
        const std::string_view dir = dirs.substr(0, colon);
        const std::string candidate =
            (dir.empty() ? std::string(".") : std::string(dir)) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return name;
        }
        dirs.remove_prefix(colon + 1);
    }
}

class ExecImage {
public:
    // argv[0] is `argv0` when given, the program's path otherwise.
    ExecImage(std::string program, const std::vector<std::string> &args,
              const ChildEnvironment &environment, std::optional<std::string> argv0 = {})
        : program_(std::move(program)), env_words_(environment.entries()) {
        words_.push_back(argv0.value_or(program_));
        words_.insert(words_.end(), args.begin(), args.end());
        for (auto &word : words_) {
            argv_.push_back(word.data());
        }
        argv_.push_back(nullptr);
        for (auto &word : env_words_) {
            envp_.push_back(word.data());
        }
        envp_.push_back(nullptr);
    }
    // argv_ and envp_ point into the strings: the image stays where it was built.
    ExecImage(const ExecImage &) = delete;
    ExecImage &operator=(const ExecImage &) = delete;

    const std::string &program() const { return program_; }
    const std::vector<std::string> &environment() const { return env_words_; }

    // In the child: becomes the program. Returns only when execve failed.
    void exec() const noexcept { execve(program_.c_str(), argv_.data(), envp_.data()); }

private:
    std::string program_;
    std::vector<std::string> words_;
    std::vector<std::string> env_words_;
    std::vector<char *> argv_;
    std::vector<char *> envp_;
};

} // namespace tunelark::test
