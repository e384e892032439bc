// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageUpload.h"

#include "StandinFirmware.h"

namespace sim {

void ImageUpload::feed(const uint8_t *data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (count_ < header_.size()) {
            header_[count_] = data[i];
        }
        const std::size_t slot = count_ % tail_.size();
        if (count_ >= tail_.size()) {
            crc_ = standin::crc_update(crc_, tail_[slot]);
        }
        tail_[slot] = data[i];
        ++count_;
    }
}

ImageUpload::Check ImageUpload::check() const {
    Check result;
    if (from_flash_) {
        result.problem = "image named in a flash memory, and the board has none";
        return result;
    }
    if (count_ < standin::header_size + 4) {
        result.problem = "image of " + std::to_string(count_) + " bytes is too short";
        return result;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        if (header_[i] != standin::magic[i]) {
            result.problem = "image does not start with the image magic";
            return result;
        }
    }
    const uint32_t size =
        static_cast<uint32_t>(header_[8]) | static_cast<uint32_t>(header_[9]) << 8 |
        static_cast<uint32_t>(header_[10]) << 16 | static_cast<uint32_t>(header_[11]) << 24;
    if (size != count_) {
        result.problem = "image announces " + std::to_string(size) + " bytes, " +
                         std::to_string(count_) + " arrived";
        return result;
    }
    uint32_t stored = 0;
    for (std::size_t k = 0; k < tail_.size(); ++k) {
        // Oldest of the last four bytes first: the CRC's low byte.
        const std::size_t slot = (count_ + k) % tail_.size();
        stored |= static_cast<uint32_t>(tail_[slot]) << (8 * k);
    }
    if (standin::crc_final(crc_) != stored) {
        result.problem = "image CRC does not match its bytes";
        return result;
    }
    result.valid = true;
    result.image_code = header_[4];
    result.revision = {header_[5], header_[6], header_[7]};
    return result;
}

void UploadSequence::start_image() {
    images_.emplace_back();
}

UploadSequence::Bootable UploadSequence::bootable() const {
    Bootable result;
    if (images_.size() != 2) {
        result.problem = std::to_string(images_.size()) + " images since POWER_UP, 2 needed";
        return result;
    }
    const auto patch = images_[0].check();
    if (!patch.valid) {
        result.problem = "ROM patch: " + patch.problem;
        return result;
    }
    if (patch.image_code != standin::image_patch) {
        result.problem = "first image is not the ROM patch";
        return result;
    }
    const auto radio = images_[1].check();
    if (!radio.valid) {
        result.problem = "radio image: " + radio.problem;
        return result;
    }
    if (radio.image_code == standin::image_patch || radio.image_code == 0) {
        result.problem = "second image is not a radio image";
        return result;
    }
    result.ok = true;
    result.image_code = radio.image_code;
    result.revision = radio.revision;
    return result;
}

} // namespace sim
