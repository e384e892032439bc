// SPDX-License-Identifier: GPL-3.0-or-later
// Board link over the kernel's own drivers, for every board the bcm2835
// library does not know (the Pi 5 among them): SPI0 with CE0 through spidev
// (/dev/spidev0.0), the reset line through the GPIO character device's v2
// interface (linux/gpio.h). The v2 ioctls are used directly rather than
// through libgpiod, whose two incompatible major versions (the v1 API in
// bookworm's libgpiod2, the v2 API in trixie's libgpiod3) would tie one
// package to one release; the ioctls are the same on both kernels (5.10 on).
//
// CE1 (GPIO 7) belongs to the kernel's SPI controller on this path and is
// left to it.
#include <fcntl.h>
#include <linux/gpio.h>
#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>

#include "Si468x_SPI.h"
#include "Si468x_SPI_paths.h"
#include "Si468x_SPI_sys.h"

namespace {

// SPI0 settings applied on every claim of the bus. The kernel rounds the
// clock down to what its controller can make; 7.8125 MHz is 250 MHz / 32 on
// the Pis whose controller runs from that clock.
constexpr uint8_t SI468X_SPI_KERNEL_MODE = SPI_MODE_0; // CPOL 0, CPHA 0, CE0 active low
constexpr uint8_t SI468X_SPI_KERNEL_LSB_FIRST = 0;     // MSB first
constexpr uint8_t SI468X_SPI_KERNEL_BITS = 8;
constexpr uint32_t SI468X_SPI_KERNEL_SPEED_HZ = 7'812'500;
// spidev moves at most its buffer (module parameter bufsiz, 4096 bytes by
// default) in one message. That holds every command and upload chunk. The
// one longer transfer, the data-service read of 4121 bytes, keeps its first
// 4096 bytes in one chip-select frame; the bytes after them read as zeros,
// as bytes past the end of a reply do. Only a packet of more than 4071 data
// bytes, longer than any text a station sends, arrives cut short.
constexpr uint16_t SI468X_SPI_KERNEL_FRAME_MAX = 4096;

// The reset line is found by its name, on whichever GPIO chip carries it
// (the Pi 5's header pins sit on the RP1's chip, numbered after the SoC's own).
constexpr const char SI468X_SPI_RSTB_LINE_NAME[] = "GPIO23";
constexpr unsigned SI468X_SPI_GPIOCHIP_MAX = 16;
constexpr const char SI468X_SPI_CONSUMER[] = "tunelark-reset";

// The spidev node, open while the bus is claimed; the reset line's request,
// open from a successful open to the close.
int Si468x_SPI_Spidev = -1;
int Si468x_SPI_ResetLine = -1;

// The errno of the last failed transfer, kept for Si468x_SPI_last_error.
int Si468x_SPI_TransferError = 0;

int Si468x_SPI_kernel_open_spidev(void) {
    Si468x_SPI_Spidev = Si468x_SPI_sys_open(Si468x_SPI_device_node(), O_RDWR | O_CLOEXEC);
    return Si468x_SPI_Spidev < 0 ? -1 : 0;
}

int Si468x_SPI_kernel_apply_settings(void) {
    uint8_t mode = SI468X_SPI_KERNEL_MODE;
    uint8_t lsb_first = SI468X_SPI_KERNEL_LSB_FIRST;
    uint8_t bits = SI468X_SPI_KERNEL_BITS;
    uint32_t speed = SI468X_SPI_KERNEL_SPEED_HZ;
    if (Si468x_SPI_sys_ioctl(Si468x_SPI_Spidev, SPI_IOC_WR_MODE, &mode) < 0 ||
        Si468x_SPI_sys_ioctl(Si468x_SPI_Spidev, SPI_IOC_WR_LSB_FIRST, &lsb_first) < 0 ||
        Si468x_SPI_sys_ioctl(Si468x_SPI_Spidev, SPI_IOC_WR_BITS_PER_WORD, &bits) < 0 ||
        Si468x_SPI_sys_ioctl(Si468x_SPI_Spidev, SPI_IOC_WR_MAX_SPEED_HZ, &speed) < 0) {
        Si468x_SPI_kernel_disable();
        return -1;
    }
    return 0;
}

// The offset of the reset line on the chip open as `chip`, or -1.
long Si468x_SPI_kernel_find_line(int chip) {
    gpiochip_info info{};
    if (Si468x_SPI_sys_ioctl(chip, GPIO_GET_CHIPINFO_IOCTL, &info) < 0) {
        return -1;
    }
    for (uint32_t offset = 0; offset < info.lines; ++offset) {
        gpio_v2_line_info line{};
        line.offset = offset;
        if (Si468x_SPI_sys_ioctl(chip, GPIO_V2_GET_LINEINFO_IOCTL, &line) == 0 &&
            std::strncmp(line.name, SI468X_SPI_RSTB_LINE_NAME, sizeof line.name) == 0) {
            return offset;
        }
    }
    return -1;
}

// Requests the reset line "as is": a request that names neither input nor
// output leaves the pin alone. The level it shows is then made the level it
// drives, so a chip that an earlier run left running keeps running, and one
// held in reset by the board's pull-down stays held.
int Si468x_SPI_kernel_request_line(int chip, uint32_t offset) {
    gpio_v2_line_request request{};
    request.offsets[0] = offset;
    request.num_lines = 1;
    static_assert(sizeof SI468X_SPI_CONSUMER <= sizeof request.consumer);
    std::memcpy(request.consumer, SI468X_SPI_CONSUMER, sizeof SI468X_SPI_CONSUMER);
    if (Si468x_SPI_sys_ioctl(chip, GPIO_V2_GET_LINE_IOCTL, &request) < 0 || request.fd < 0) {
        return -1;
    }
    Si468x_SPI_ResetLine = request.fd;
    gpio_v2_line_values values{};
    values.mask = 1;
    gpio_v2_line_config config{};
    config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    config.num_attrs = 1;
    config.attrs[0].mask = 1;
    config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    if (Si468x_SPI_sys_ioctl(Si468x_SPI_ResetLine, GPIO_V2_LINE_GET_VALUES_IOCTL, &values) < 0) {
        return -1;
    }
    config.attrs[0].attr.values = values.bits & 1U;
    if (Si468x_SPI_sys_ioctl(Si468x_SPI_ResetLine, GPIO_V2_LINE_SET_CONFIG_IOCTL, &config) < 0) {
        return -1;
    }
    return 0;
}

int Si468x_SPI_kernel_claim_reset_line(void) {
    for (unsigned index = 0; index < SI468X_SPI_GPIOCHIP_MAX; ++index) {
        const int chip = Si468x_SPI_sys_open(Si468x_SPI_gpiochip_node(index), O_RDWR | O_CLOEXEC);
        if (chip < 0) {
            continue;
        }
        const long offset = Si468x_SPI_kernel_find_line(chip);
        int result = -1;
        if (offset >= 0) {
            result = Si468x_SPI_kernel_request_line(chip, static_cast<uint32_t>(offset));
        }
        // The line request lives on without the chip's descriptor.
        Si468x_SPI_sys_close(chip);
        if (offset >= 0) {
            return result;
        }
    }
    return -1;
}

void Si468x_SPI_kernel_release_reset_line(void) {
    if (Si468x_SPI_ResetLine >= 0) {
        Si468x_SPI_sys_close(Si468x_SPI_ResetLine);
        Si468x_SPI_ResetLine = -1;
    }
}

} // namespace

int Si468x_SPI_kernel_setup(void) {
    // An open without a close before it starts afresh rather than holding
    // the line twice.
    Si468x_SPI_kernel_shutdown();
    // The device node first: without SPI enabled no pin is touched.
    if (Si468x_SPI_kernel_open_spidev() != 0) {
        return -1;
    }
    if (Si468x_SPI_kernel_claim_reset_line() != 0) {
        Si468x_SPI_kernel_release_reset_line();
        Si468x_SPI_kernel_disable();
        return -1;
    }
    return Si468x_SPI_kernel_apply_settings();
}

int Si468x_SPI_kernel_enable(void) {
    if (Si468x_SPI_ResetLine < 0) {
        return -1;
    }
    if (Si468x_SPI_Spidev < 0 && Si468x_SPI_kernel_open_spidev() != 0) {
        return -1;
    }
    return Si468x_SPI_kernel_apply_settings();
}

void Si468x_SPI_kernel_disable(void) {
    if (Si468x_SPI_Spidev >= 0) {
        Si468x_SPI_sys_close(Si468x_SPI_Spidev);
        Si468x_SPI_Spidev = -1;
    }
}

// The line request ends here (or at the latest when the process ends). The
// pin keeps driving the level last written: the Pi 5's pin controller leaves
// a released output as it is, so a chip started with -S plays on after the
// program ends, and one powered down stays in reset.
void Si468x_SPI_kernel_shutdown(void) {
    Si468x_SPI_kernel_disable();
    Si468x_SPI_kernel_release_reset_line();
}

void Si468x_SPI_kernel_RSTB(uint8_t level) {
    if (Si468x_SPI_ResetLine < 0) {
        return;
    }
    gpio_v2_line_values values{};
    values.bits = level != 0 ? 1U : 0U;
    values.mask = 1;
    Si468x_SPI_sys_ioctl(Si468x_SPI_ResetLine, GPIO_V2_LINE_SET_VALUES_IOCTL, &values);
}

// One message of one transfer: chip select held from the first byte to the
// last, the received bytes written over the sent ones.
int Si468x_SPI_kernel_RW_data(uint8_t *data, uint16_t length) {
    if (Si468x_SPI_Spidev < 0) {
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    const uint16_t framed =
        length < SI468X_SPI_KERNEL_FRAME_MAX ? length : SI468X_SPI_KERNEL_FRAME_MAX;
    spi_ioc_transfer transfer{};
    transfer.tx_buf = reinterpret_cast<uintptr_t>(data);
    transfer.rx_buf = reinterpret_cast<uintptr_t>(data);
    transfer.len = framed;
    // The device's settings are shared with every other opener; the
    // transfer's own speed and word size hold whatever they did.
    transfer.speed_hz = SI468X_SPI_KERNEL_SPEED_HZ;
    transfer.bits_per_word = SI468X_SPI_KERNEL_BITS;
    if (Si468x_SPI_sys_ioctl(Si468x_SPI_Spidev, SPI_IOC_MESSAGE(1), &transfer) < 0) {
        // An ioctl that fails without saying why still failed on the wire.
        Si468x_SPI_TransferError = errno != 0 ? errno : EIO;
        return -1;
    }
    std::memset(data + framed, 0, length - framed);
    return 0;
}

int Si468x_SPI_last_error(void) {
    return Si468x_SPI_TransferError;
}

void Si468x_SPI_clear_error(void) {
    Si468x_SPI_TransferError = 0;
}
