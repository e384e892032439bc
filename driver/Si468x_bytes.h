// SPDX-License-Identifier: GPL-3.0-or-later
// Little-endian fields of chip commands and replies.
#pragma once

#include <cstdint>

constexpr uint16_t Si468x_get_u16(const uint8_t *bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

constexpr uint32_t Si468x_get_u32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

constexpr void Si468x_put_u16(uint8_t *bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void Si468x_put_u32(uint8_t *bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

// A flag bit of a reply byte as a 0 or 1 field.
constexpr uint8_t Si468x_flag(uint8_t byte, uint8_t mask) {
    return (byte & mask) != 0 ? 1 : 0;
}
