// SPDX-License-Identifier: GPL-3.0-or-later
// Stand-in firmware images for the simulated board. They have the exact sizes
// of the chip maker's images, so the upload sends the same chunks, and they
// carry what the chip model needs to check that the upload arrived whole and
// in order:
//
//   bytes 0..3    magic "TLFW"
//   byte  4       image code as GET_SYS_STATE reports it (0xFF: ROM patch)
//   bytes 5..7    firmware revision (ext, branch, int)
//   bytes 8..11   image size, little-endian
//   bytes 12..n-5 pseudo-random filler, seeded by the image code and revision
//   bytes n-4..   CRC-32 (IEEE 802.3) of bytes 0..n-5, little-endian
//
// A lost, doubled or reordered chunk changes the size or the CRC.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace sim::standin {

constexpr uint8_t magic[4] = {'T', 'L', 'F', 'W'};
constexpr uint8_t image_patch = 0xFF;
constexpr std::size_t header_size = 12;

struct StandinImage {
    const char *file_name;
    uint32_t size;
    uint8_t image_code;
    uint8_t rev_ext, rev_branch, rev_int;
};

// The six images the radio carries, under the file names the build expects.
constexpr std::array<StandinImage, 6> images{{
    {"rom00_patch.016.bin", 5796, image_patch, 0, 1, 6},
    {"dab_radio_6_0_6.bin", 496940, 2, 6, 0, 6},
    {"dab_radio_4_0_5.bif", 517524, 2, 4, 0, 5},
    {"dab_radio_5_0_5.bin", 521448, 2, 5, 0, 5},
    {"fmhd_radio_5_0_4.bin", 530180, 1, 5, 0, 4},
    {"fmhd_radio_5_1_3.bin", 531300, 1, 5, 1, 3},
}};

constexpr std::array<uint32_t, 256> make_crc_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> crc_table = make_crc_table();

// Running CRC-32: start with crc_init, feed bytes, finish with crc_final.
constexpr uint32_t crc_init = 0xFFFFFFFFU;
constexpr uint32_t crc_update(uint32_t crc, uint8_t byte) {
    return crc_table[(crc ^ byte) & 0xFFU] ^ (crc >> 8);
}
constexpr uint32_t crc_final(uint32_t crc) {
    return crc ^ 0xFFFFFFFFU;
}

} // namespace sim::standin
