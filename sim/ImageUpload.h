// SPDX-License-Identifier: GPL-3.0-or-later
// What the boot loader received since POWER_UP: one image per LOAD_INIT, fed
// by HOST_LOAD chunks (or named by FLASH_LOAD), checked at BOOT against the
// stand-in image format (StandinFirmware.h). The bytes are checked as they
// stream in; nothing of the half-megabyte image is kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One image as it arrives.
class ImageUpload {
public:
    void feed(const uint8_t *data, std::size_t length);
    // The image was to come from a flash memory; the board has none, so it
    // can never be valid.
    void mark_from_flash() { from_flash_ = true; }
    uint64_t bytes() const { return count_; }

    struct Check {
        bool valid = false;
        uint8_t image_code = 0;
        std::array<uint8_t, 3> revision{}; // ext, branch, int
        std::string problem;               // why it is not valid
    };
    Check check() const;

private:
    uint64_t count_ = 0;
    std::array<uint8_t, 12> header_{};
    // The last four bytes received may be the CRC, so each byte enters the
    // CRC only once four newer ones have arrived.
    std::array<uint8_t, 4> tail_{};
    uint32_t crc_ = 0xFFFFFFFFU;
    bool from_flash_ = false;
};

// The images since POWER_UP, in order.
class UploadSequence {
public:
    void clear() { images_.clear(); }
    void start_image();
    bool image_open() const { return !images_.empty(); }
    // Index of the image being loaded (0: the first since POWER_UP).
    std::size_t current_index() const { return images_.size() - 1; }
    ImageUpload &current() { return images_.back(); }

    // BOOT needs exactly the ROM patch and then one radio image, both whole.
    struct Bootable {
        bool ok = false;
        uint8_t image_code = 0;
        std::array<uint8_t, 3> revision{};
        std::string problem;
    };
    Bootable bootable() const;

private:
    std::vector<ImageUpload> images_;
};

} // namespace sim
