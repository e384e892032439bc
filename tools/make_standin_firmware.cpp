// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the stand-in firmware images (see sim/StandinFirmware.h) into a
// directory. Runs on the build host at configure time.
#include <cstdio>
#include <string>
#include <vector>

#include "StandinFirmware.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    for (const auto &image_layout : sim::standin::images) {
        std::vector<uint8_t> image(image_layout.size);
        for (std::size_t i = 0; i < 4; ++i) {
            image[i] = sim::standin::magic[i];
        }
        image[4] = image_layout.image_code;
        image[5] = image_layout.rev_ext;
        image[6] = image_layout.rev_branch;
        image[7] = image_layout.rev_int;
        for (int i = 0; i < 4; ++i) {
            image[8 + i] = static_cast<uint8_t>(image_layout.size >> (8 * i));
        }
        uint32_t state = 0x9E3779B9U ^ (static_cast<uint32_t>(image_layout.image_code) << 24) ^
                         (static_cast<uint32_t>(image_layout.rev_ext) << 16) ^
                         (static_cast<uint32_t>(image_layout.rev_branch) << 8) ^
                         image_layout.rev_int;
        for (std::size_t i = sim::standin::header_size; i + 4 < image.size(); ++i) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            image[i] = static_cast<uint8_t>(state >> 24);
        }
        uint32_t crc = sim::standin::crc_init;
        for (std::size_t i = 0; i + 4 < image.size(); ++i) {
            crc = sim::standin::crc_update(crc, image[i]);
        }
        crc = sim::standin::crc_final(crc);
        for (int i = 0; i < 4; ++i) {
            image[image.size() - 4 + static_cast<std::size_t>(i)] =
                static_cast<uint8_t>(crc >> (8 * i));
        }
        const std::string path = std::string(argv[1]) + "/" + image_layout.file_name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(image.data(), 1, image.size(), file) != image.size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
