// SPDX-License-Identifier: GPL-3.0-or-later
// Firmware upload: LOAD_INIT, HOST_LOAD chunks from memory or from a file,
// and FLASH_LOAD for an image in the chip's flash.
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Si468x.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"

namespace {

// Each transfer overwrites the command buffer, so the header is written anew
// in front of every chunk.
void Si468x_host_load_header(uint8_t *buffer) {
    buffer[0] = HOST_LOAD;
    buffer[1] = 0x00;
    buffer[2] = 0x00;
    buffer[3] = 0x00;
}

// An image file is read only when it is a regular file (or a link to one),
// and its open never blocks: a named pipe or a device at the path counts as
// a file that cannot be opened.
std::FILE *Si468x_open_image(const char *path) {
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) {
        return nullptr;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE *file = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        file = fdopen(fd, "rb");
    }
    if (file == nullptr) {
        close(fd);
    }
    return file;
}

} // namespace

int16_t Si468x_load_init(void) {
    uint8_t command[LOAD_INIT_LENGTH] = {LOAD_INIT, 0x00};
    return Si468x_send_cmd(command, nullptr, LOAD_INIT_LENGTH, 0);
}

int16_t Si468x_load_firmware_static(const uint8_t *image, uint32_t size) {
    if (size == 0) {
        return Si468x_failure(-6, 8);
    }
    uint8_t buffer[HOST_LOAD_BUFFER_LENGTH];
    uint32_t position = 0;
    while (position < size) {
        const uint32_t remaining = size - position;
        const uint16_t chunk =
            remaining < HOST_LOAD_CHUNK ? static_cast<uint16_t>(remaining) : HOST_LOAD_CHUNK;
        Si468x_host_load_header(buffer);
        Si468x_byte_array_copy(buffer + HOST_LOAD_HEADER_LENGTH, image + position, chunk);
        const int16_t status = Si468x_send_cmd(
            buffer, nullptr, static_cast<uint16_t>(HOST_LOAD_HEADER_LENGTH + chunk), 0);
        if (status != 0) {
            return Si468x_failure(status, 108);
        }
        position += chunk;
    }
    return 0;
}

int16_t Si468x_load_firmware(const char *path) {
    std::FILE *file = Si468x_open_image(path);
    if (file == nullptr) {
        return Si468x_failure(-6, 7);
    }
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        size = std::ftell(file);
    }
    std::rewind(file);
    if (size <= 0) {
        std::fclose(file);
        return Si468x_failure(-6, 107);
    }

    uint8_t buffer[HOST_LOAD_BUFFER_LENGTH];
    unsigned long remaining = static_cast<unsigned long>(size);
    for (int32_t k = 0; remaining > 0; ++k) {
        const uint16_t chunk =
            remaining < HOST_LOAD_CHUNK ? static_cast<uint16_t>(remaining) : HOST_LOAD_CHUNK;
        if (std::fread(buffer + HOST_LOAD_HEADER_LENGTH, 1, chunk, file) != chunk) {
            std::fclose(file);
            return Si468x_failure(-6, 1007 + 100 * k);
        }
        Si468x_host_load_header(buffer);
        const int16_t status = Si468x_send_cmd(
            buffer, nullptr, static_cast<uint16_t>(HOST_LOAD_HEADER_LENGTH + chunk), 0);
        if (status < 0) {
            std::fclose(file);
            return Si468x_failure(status, 207);
        }
        remaining -= chunk;
    }
    std::fclose(file);
    return 0;
}

// Written only: the chip loads from its flash on its own, and the caller
// decides when to look at it again.
int16_t Si468x_load_firmware_flash(uint32_t flash_address) {
    uint8_t command[FLASH_LOAD_LENGTH] = {FLASH_LOAD, 0x00, 0x00, 0x00};
    Si468x_put_u32(command + FLASH_LOAD_ADDRESS, flash_address);
    const int16_t status = Si468x_send_cmd_simple(command, FLASH_LOAD_LENGTH);
    if (status != 0) {
        return Si468x_failure(status, 9);
    }
    return 0;
}
