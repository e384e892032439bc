// SPDX-License-Identifier: GPL-3.0-or-later
// si468x-diag: entry, global options, the subcommand table and --help.
#include <array>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <utility>

#include "Diag.h"

namespace {

struct Subcommand {
    const char *name;
    const char *synopsis;
    const char *summary;
    int (*run)(diag::Session &, diag::Arguments &);
};

constexpr std::array<Subcommand, 10> subcommands{{
    {"status", "status", "read the status bytes, without reset or bring-up", diag::cmd_status},
    {"info", "info", "print the chip information", diag::cmd_info},
    {"freqs", "freqs [--write-band3]", "print the frequency list, or write Band III first",
     diag::cmd_freqs},
    {"tune", "tune <index>", "tune, print reception and event status", diag::cmd_tune},
    {"services", "services <index>", "tune, print the stable service list", diag::cmd_services},
    {"component", "component <index> <sid> <cid>", "tune, print the component information",
     diag::cmd_component},
    {"search", "search <ua type> [--index N | --count N]",
     "find components carrying a user-application type", diag::cmd_search},
    {"log", "log <index> <sid> <cid> <packets> <file> [--time-limit S]",
     "log component and packets", diag::cmd_log},
    {"upload", "upload <patch file> <image file>", "bring up from image files, print chip info",
     diag::cmd_upload},
    {"flash-load", "flash-load <address>", "bring up from flash, print chip info",
     diag::cmd_flash_load},
}};

void print_help(std::FILE *out) {
    std::fprintf(out,
                 "Usage: %s [--help] [--power-down] <subcommand> [arguments]\n"
                 "Brings the Si468x up as the radio does (or takes over a chip left running),\n"
                 "runs one operation and leaves the chip running for the radio.\n"
                 "\n"
                 "Subcommands:\n",
                 diag::program_name);
    for (const auto &subcommand : subcommands) {
        std::fprintf(out, "  %-42s %s\n", subcommand.synopsis, subcommand.summary);
    }
    std::fprintf(out, "\n"
                      "Options:\n"
                      "  --power-down  hold the chip in reset at the end, also after a failure\n"
                      "  --help        show this text\n"
                      "\n"
                      "<index> indexes the chip's frequency list; <sid> and <cid> are service and\n"
                      "component ids. Numbers are decimal or hex with 0x. Must run as root.\n"
                      "Exit status: 0 success, 1 failure (with the driver's status and location\n"
                      "code in the message), 2 bad command line.\n");
}

} // namespace

int main(int argc, char **argv) {
    // Decoded labels are written in the terminal's own character set.
    std::setlocale(LC_ALL, "");
    bool power_down = false;
    const char *name = nullptr;
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print_help(stdout);
            return diag::exit_ok;
        }
        if (std::strcmp(argv[i], "--power-down") == 0) {
            power_down = true;
        } else if (name == nullptr && argv[i][0] != '-') {
            name = argv[i];
        } else if (name == nullptr) {
            return diag::usage_error(std::string("unknown option ") + argv[i]);
        } else {
            words.emplace_back(argv[i]);
        }
    }
    if (name == nullptr) {
        print_help(stderr);
        return diag::exit_usage;
    }
    for (const auto &subcommand : subcommands) {
        if (std::strcmp(name, subcommand.name) == 0) {
            diag::Arguments args(name, std::move(words));
            diag::Session session(power_down);
            const int result = subcommand.run(session, args);
            return result == diag::exit_chip_held ? diag::exit_ok : result;
        }
    }
    std::fprintf(stderr, "%s: unknown subcommand '%s'\n\n", diag::program_name, name);
    print_help(stderr);
    return diag::exit_usage;
}
