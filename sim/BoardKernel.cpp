// SPDX-License-Identifier: GPL-3.0-or-later
// The board as the kernel shows it to a program that does not map the SoC's
// registers: the device tree's compatible node, spidev0.0 on SPI0 with CE0,
// and the GPIO chips with their named lines. The kernel path's system calls
// land here; they move the same pins and frames as the bcm2835 calls do.
#include <fcntl.h>
#include <linux/gpio.h>
#include <linux/spi/spidev.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Board.h"
#include "ChipProtocol.h"

namespace sim {

namespace {

// The chip's SPI clock limit: faster, it no longer reads what is sent.
constexpr uint32_t CHIP_MAX_SPI_HZ = 10'000'000;
// The SPI controller divides 250 MHz by an even number, rounding the asked
// speed down, as the Pis' controllers do (the Pi 5's is modelled alike).
constexpr uint64_t SPI_CORE_HZ = 250'000'000;
// spidev's buffer: module parameter bufsiz, 4096 by default.
constexpr uint32_t SPIDEV_BUFSIZ = 4096;
constexpr uint8_t PIN_RSTB = 23;

struct ChipLayout {
    const char *name;
    uint32_t lines;
    bool header; // offsets are the header's GPIO numbers, lines named "GPIO<n>" to 27
};

struct ModelLayout {
    const char *compatible; // NUL-separated, as the node holds it
    std::size_t compatible_length;
    std::array<ChipLayout, 5> chips;
    unsigned chip_count;
};

template <std::size_t N> constexpr std::size_t text_length(const char (&)[N]) {
    return N - 1;
}

constexpr char pi3_compatible[] = "raspberrypi,3-model-b\0brcm,bcm2837";
constexpr char pi4_compatible[] = "raspberrypi,4-model-b\0brcm,bcm2711";
constexpr char pi5_compatible[] = "raspberrypi,5-model-b\0brcm,bcm2712";
constexpr char unknown_compatible[] = "example,single-board\0example,soc";

// The header's pins on the Pi 3 and 4 are on the SoC's first GPIO chip; on
// the Pi 5 they are on the RP1's, after four chips of the SoC's own. Without
// a device tree no line has a name.
const ModelLayout &layout(PiModel model) {
    static const ModelLayout pi3{
        pi3_compatible,
        text_length(pi3_compatible) + 1,
        {{{"pinctrl-bcm2835", 54, true}, {"raspberrypi-exp-gpio", 8, false}}},
        2};
    static const ModelLayout pi4{
        pi4_compatible,
        text_length(pi4_compatible) + 1,
        {{{"pinctrl-bcm2711", 58, true}, {"raspberrypi-exp-gpio", 8, false}}},
        2};
    static const ModelLayout pi5{pi5_compatible,
                                 text_length(pi5_compatible) + 1,
                                 {{{"gpio-brcmstb@107d508500", 32, false},
                                   {"gpio-brcmstb@107d508520", 4, false},
                                   {"gpio-brcmstb@107d517c00", 17, false},
                                   {"gpio-brcmstb@107d517c20", 6, false},
                                   {"pinctrl-rp1", 54, true}}},
                                 5};
    static const ModelLayout unknown{
        unknown_compatible,
        text_length(unknown_compatible) + 1,
        {{{"gpio-example-soc", 16, false}, {"gpio-example-header", 28, true}}},
        2};
    static const ModelLayout none{nullptr, 0, {{{"gpio-unnamed", 58, false}}}, 1};
    switch (model) {
    case PiModel::Pi3:
        return pi3;
    case PiModel::Pi4:
        return pi4;
    case PiModel::Pi5:
        return pi5;
    case PiModel::Unknown:
        return unknown;
    default:
        return none;
    }
}

std::string line_name(const ChipLayout &chip, uint32_t offset) {
    return chip.header && offset <= 27 ? "GPIO" + std::to_string(offset) : "";
}

std::string request_name(unsigned long request) {
    switch (request) {
    case SPI_IOC_WR_MODE:
        return "SPI_IOC_WR_MODE";
    case SPI_IOC_WR_LSB_FIRST:
        return "SPI_IOC_WR_LSB_FIRST";
    case SPI_IOC_WR_BITS_PER_WORD:
        return "SPI_IOC_WR_BITS_PER_WORD";
    case SPI_IOC_WR_MAX_SPEED_HZ:
        return "SPI_IOC_WR_MAX_SPEED_HZ";
    case SPI_IOC_MESSAGE(1):
        return "SPI_IOC_MESSAGE";
    case GPIO_GET_CHIPINFO_IOCTL:
        return "GPIO_GET_CHIPINFO";
    case GPIO_V2_GET_LINEINFO_IOCTL:
        return "GPIO_V2_GET_LINEINFO";
    case GPIO_V2_GET_LINE_IOCTL:
        return "GPIO_V2_GET_LINE";
    case GPIO_V2_LINE_GET_VALUES_IOCTL:
        return "GPIO_V2_LINE_GET_VALUES";
    case GPIO_V2_LINE_SET_VALUES_IOCTL:
        return "GPIO_V2_LINE_SET_VALUES";
    case GPIO_V2_LINE_SET_CONFIG_IOCTL:
        return "GPIO_V2_LINE_SET_CONFIG";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "0x%lx", request);
        return text;
    }
    }
}

std::string ioctl_text(const std::string &name, unsigned long request, const std::string &value) {
    return "ioctl(" + name + "," + request_name(request) + (value.empty() ? "" : "," + value) + ")";
}

} // namespace

// ---- nodes ----------------------------------------------------------------------

std::string Board::device_tree_path() {
    return (directory_.empty() ? scratch_directory() : directory_) + "/device-tree/compatible";
}

const char *Board::device_tree_node() {
    device_tree_path_ = device_tree_path();
    return device_tree_path_.c_str();
}

const char *Board::gpiochip_node(unsigned index) {
    gpiochip_path_ = (directory_.empty() ? scratch_directory() : directory_) + "/gpiochip" +
                     std::to_string(index);
    return gpiochip_path_.c_str();
}

void Board::set_pi_model(PiModel model) {
    pi_model_ = model;
    write_device_tree();
}

void Board::write_device_tree() {
    const std::string path = device_tree_path();
    const std::string directory = path.substr(0, path.rfind('/'));
    const ModelLayout &model = layout(pi_model_);
    if (model.compatible == nullptr) {
        ::unlink(path.c_str());
        return;
    }
    ::mkdir(directory.c_str(), 0755);
    if (std::FILE *file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(model.compatible, 1, model.compatible_length, file);
        std::fclose(file);
    }
}

void Board::forget_kernel_handles() {
    handles_.clear();
    spidev_ = SpidevSettings{};
}

bool Board::reset_line_requested() const {
    for (const auto &[fd, handle] : handles_) {
        if (handle.kind == KernelHandle::Kind::Line && line_drives_reset(handle)) {
            return true;
        }
    }
    return false;
}

bool Board::line_drives_reset(const KernelHandle &handle) const {
    const ModelLayout &model = layout(pi_model_);
    return handle.chip < model.chip_count && model.chips[handle.chip].header &&
           handle.offset == PIN_RSTB;
}

// ---- the chip lock ----------------------------------------------------------------

int Board::sys_lock(const char *path) {
    const std::string text = path != nullptr ? path : "";
    const std::string call = "lock(" + text.substr(text.rfind('/') + 1) + ")";
    const int fd = ::open(text.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return kernel_fail(call, errno);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        lock_refused_ = error == EWOULDBLOCK;
        return kernel_fail(call, error);
    }
    // A lock taken is not listed: the calls of an open stay those that
    // reach the pins and the bus.
    lock_fd_ = fd;
    return fd;
}

int Board::sys_unlock(int fd) {
    if (fd == lock_fd_) {
        lock_fd_ = -1;
    }
    return ::close(fd);
}

const char *Board::locks_node() {
    // The kernel's own table: the holder is a real process. Hidden, it is
    // a path that cannot exist.
    return faults_.has(Fault::LocksHidden) ? "/proc/no-such-locks" : "/proc/locks";
}

// ---- system calls ---------------------------------------------------------------

int Board::kernel_fail(const std::string &call, int error) {
    record(call + "=-1");
    errno = error;
    return -1;
}

int Board::sys_open(const char *path, int flags) {
    ++stats_.syscalls;
    const std::string text = path != nullptr ? path : "";
    const std::string name = text.substr(text.rfind('/') + 1);
    const std::string call = "open(" + name + ")";
    if ((flags & O_ACCMODE) != O_RDWR) {
        return kernel_fail(call, EINVAL);
    }
    KernelHandle handle;
    handle.name = name;
    if (text == spidev_path()) {
        if (::access(path, F_OK) != 0) {
            return kernel_fail(call, ENOENT);
        }
        if (faults_.has(Fault::SpiFail)) {
            return kernel_fail(call, ENXIO);
        }
        handle.kind = KernelHandle::Kind::Spidev;
    } else {
        const ModelLayout &model = layout(pi_model_);
        bool found = false;
        for (unsigned index = 0; index < model.chip_count && !found; ++index) {
            if (text == gpiochip_node(index)) {
                handle.kind = KernelHandle::Kind::Chip;
                handle.chip = index;
                found = true;
            }
        }
        if (!found) {
            return kernel_fail(call, ENOENT);
        }
    }
    const int fd = next_fd_++;
    handles_[fd] = handle;
    record(call);
    return fd;
}

int Board::sys_close(int fd) {
    ++stats_.syscalls;
    const auto found = handles_.find(fd);
    if (found == handles_.end()) {
        return kernel_fail("close(" + std::to_string(fd) + ")", EBADF);
    }
    const KernelHandle handle = found->second;
    handles_.erase(found);
    record("close(" + handle.name + ")");
    // What a released line does is the pin controller's choice. The Pi 5's
    // keeps a released output driving its level; a controller that returns
    // the pin to an input leaves RSTB to the board's pull-down.
    if (handle.kind == KernelHandle::Kind::Line && line_drives_reset(handle) &&
        faults_.has(Fault::LineReleaseInput)) {
        gpio_.fsel(PIN_RSTB, Gpio::FSEL_INPUT);
        reset_line_changed();
        persist_if_changed();
    }
    return 0;
}

int Board::sys_ioctl(int fd, unsigned long request, void *argument) {
    ++stats_.syscalls;
    const auto found = handles_.find(fd);
    if (found == handles_.end()) {
        return kernel_fail(ioctl_text(std::to_string(fd), request, ""), EBADF);
    }
    if (argument == nullptr) {
        return kernel_fail(ioctl_text(found->second.name, request, ""), EFAULT);
    }
    const KernelHandle handle = found->second;
    switch (handle.kind) {
    case KernelHandle::Kind::Spidev:
        return spidev_ioctl(handle, request, argument);
    case KernelHandle::Kind::Chip:
        return chip_ioctl(handle, request, argument);
    default:
        return line_ioctl(handle, request, argument);
    }
}

int Board::spidev_ioctl(const KernelHandle &handle, unsigned long request, void *argument) {
    switch (request) {
    case SPI_IOC_WR_MODE:
    case SPI_IOC_WR_LSB_FIRST:
    case SPI_IOC_WR_BITS_PER_WORD: {
        const uint8_t value = *static_cast<const uint8_t *>(argument);
        record(ioctl_text(handle.name, request, std::to_string(value)));
        if (request == SPI_IOC_WR_MODE) {
            spidev_.mode = value;
        } else if (request == SPI_IOC_WR_LSB_FIRST) {
            spidev_.lsb_first = value;
        } else if (value == 0 || value > 32) {
            return kernel_fail(ioctl_text(handle.name, request, std::to_string(value)), EINVAL);
        } else {
            spidev_.bits_per_word = value;
        }
        return 0;
    }
    case SPI_IOC_WR_MAX_SPEED_HZ: {
        const uint32_t value = *static_cast<const uint32_t *>(argument);
        record(ioctl_text(handle.name, request, std::to_string(value)));
        if (value == 0) {
            return kernel_fail(ioctl_text(handle.name, request, "0"), EINVAL);
        }
        spidev_.max_speed_hz = value;
        return 0;
    }
    case SPI_IOC_MESSAGE(1): {
        auto *transfer = static_cast<spi_ioc_transfer *>(argument);
        const uint32_t length = transfer->len;
        const std::string call = ioctl_text(handle.name, request, std::to_string(length));
        if (length > SPIDEV_BUFSIZ) {
            return kernel_fail(call, EMSGSIZE);
        }
        if (length == 0) {
            record(call);
            return 0;
        }
        std::vector<uint8_t> bytes(length, 0);
        if (transfer->tx_buf != 0) {
            std::memcpy(bytes.data(), reinterpret_cast<const void *>(transfer->tx_buf), length);
        }
        if (faults_.matches(Fault::TransferFail, bytes[0])) {
            return kernel_fail(call, EIO);
        }
        record(call);
        if (bytes[0] == si468x::HOST_LOAD) {
            ++stats_.chunk_ioctls;
        }
        const uint32_t speed = transfer->speed_hz != 0 ? transfer->speed_hz : spidev_.max_speed_hz;
        const uint8_t bits =
            transfer->bits_per_word != 0 ? transfer->bits_per_word : spidev_.bits_per_word;
        // The controller's divider: the smallest even one not faster than asked.
        uint64_t divider = (SPI_CORE_HZ + speed - 1) / speed;
        divider += divider % 2;
        const uint64_t actual_hz = SPI_CORE_HZ / divider;
        const bool mode_ok = (spidev_.mode & (SPI_CPHA | SPI_CPOL | SPI_CS_HIGH | SPI_LSB_FIRST |
                                              SPI_3WIRE | SPI_NO_CS)) == 0;
        const bool reaches = mode_ok && spidev_.lsb_first == 0 && bits == 8 &&
                             actual_hz <= CHIP_MAX_SPI_HZ && !absent() &&
                             chip_->state() != ChipState::Reset;
        move_frame(bytes.data(), length, reaches, 8U * divider * 4U);
        if (transfer->rx_buf != 0) {
            std::memcpy(reinterpret_cast<void *>(transfer->rx_buf), bytes.data(), length);
        }
        return static_cast<int>(length);
    }
    default:
        return kernel_fail(ioctl_text(handle.name, request, ""), ENOTTY);
    }
}

int Board::chip_ioctl(const KernelHandle &handle, unsigned long request, void *argument) {
    const ChipLayout &chip = layout(pi_model_).chips[handle.chip];
    switch (request) {
    case GPIO_GET_CHIPINFO_IOCTL: {
        auto *info = static_cast<gpiochip_info *>(argument);
        *info = gpiochip_info{};
        std::snprintf(info->name, sizeof info->name, "gpiochip%u", handle.chip);
        std::snprintf(info->label, sizeof info->label, "%s", chip.name);
        info->lines = chip.lines;
        record(ioctl_text(handle.name, request, ""));
        return 0;
    }
    case GPIO_V2_GET_LINEINFO_IOCTL: {
        auto *info = static_cast<gpio_v2_line_info *>(argument);
        const uint32_t offset = info->offset;
        // Calls that only look are many at open; they are not recorded.
        if (offset >= chip.lines) {
            return kernel_fail(ioctl_text(handle.name, request, std::to_string(offset)), EINVAL);
        }
        *info = gpio_v2_line_info{};
        info->offset = offset;
        std::snprintf(info->name, sizeof info->name, "%s", line_name(chip, offset).c_str());
        if (chip.header && offset < Gpio::pin_count) {
            info->flags = gpio_.function(static_cast<uint8_t>(offset)) == Gpio::FSEL_OUTPUT
                              ? GPIO_V2_LINE_FLAG_OUTPUT
                              : GPIO_V2_LINE_FLAG_INPUT;
        }
        for (const auto &[fd, other] : handles_) {
            if (other.kind == KernelHandle::Kind::Line && other.chip == handle.chip &&
                other.offset == offset) {
                info->flags |= GPIO_V2_LINE_FLAG_USED;
            }
        }
        return 0;
    }
    case GPIO_V2_GET_LINE_IOCTL: {
        auto *request_in = static_cast<gpio_v2_line_request *>(argument);
        const std::string call =
            ioctl_text(handle.name, request, std::to_string(request_in->offsets[0]));
        if (request_in->num_lines != 1 || request_in->offsets[0] >= chip.lines) {
            return kernel_fail(call, EINVAL);
        }
        KernelHandle line;
        line.kind = KernelHandle::Kind::Line;
        line.chip = handle.chip;
        line.offset = request_in->offsets[0];
        line.name = "line";
        for (const auto &[fd, other] : handles_) {
            if (other.kind == KernelHandle::Kind::Line && other.chip == line.chip &&
                other.offset == line.offset) {
                return kernel_fail(call, EBUSY);
            }
        }
        // Another driver holding the line looks the same to the requester.
        if (faults_.has(Fault::InitFail)) {
            return kernel_fail(call, EBUSY);
        }
        record(call);
        const int fd = next_fd_++;
        handles_[fd] = line;
        request_in->fd = fd;
        const gpio_v2_line_config &config = request_in->config;
        bool high = false;
        for (uint32_t i = 0; i < config.num_attrs && i < GPIO_V2_LINE_NUM_ATTRS_MAX; ++i) {
            if (config.attrs[i].attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES) {
                high = (config.attrs[i].attr.values & config.attrs[i].mask & 1U) != 0;
            }
        }
        apply_line_flags(line, config.flags, high);
        return 0;
    }
    default:
        return kernel_fail(ioctl_text(handle.name, request, ""), ENOTTY);
    }
}

// Output or input as the flags say; neither leaves the pin as it is.
void Board::apply_line_flags(const KernelHandle &handle, uint64_t flags, bool high) {
    const ChipLayout &chip = layout(pi_model_).chips[handle.chip];
    if (!chip.header || handle.offset >= Gpio::pin_count) {
        return;
    }
    const auto pin = static_cast<uint8_t>(handle.offset);
    if ((flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0) {
        gpio_.write(pin, high);
        gpio_.fsel(pin, Gpio::FSEL_OUTPUT);
    } else if ((flags & GPIO_V2_LINE_FLAG_INPUT) != 0) {
        gpio_.fsel(pin, Gpio::FSEL_INPUT);
    } else {
        return;
    }
    reset_line_changed();
    persist_if_changed();
}

int Board::line_ioctl(const KernelHandle &handle, unsigned long request, void *argument) {
    const ChipLayout &chip = layout(pi_model_).chips[handle.chip];
    const bool wired = chip.header && handle.offset < Gpio::pin_count;
    const auto pin = static_cast<uint8_t>(handle.offset);
    switch (request) {
    case GPIO_V2_LINE_GET_VALUES_IOCTL: {
        auto *values = static_cast<gpio_v2_line_values *>(argument);
        const bool high = wired && gpio_.level(pin);
        values->bits = high ? (values->mask & 1U) : 0U;
        record(ioctl_text(handle.name, request, high ? "1" : "0"));
        return 0;
    }
    case GPIO_V2_LINE_SET_VALUES_IOCTL: {
        const auto *values = static_cast<const gpio_v2_line_values *>(argument);
        const bool high = (values->bits & values->mask & 1U) != 0;
        const std::string call = ioctl_text(handle.name, request, high ? "1" : "0");
        // The kernel refuses to set a line not configured as an output.
        if (wired && gpio_.function(pin) != Gpio::FSEL_OUTPUT) {
            return kernel_fail(call, EPERM);
        }
        record(call);
        if ((values->mask & 1U) != 0 && wired) {
            gpio_.write(pin, high);
            reset_line_changed();
            persist_if_changed();
        }
        return 0;
    }
    case GPIO_V2_LINE_SET_CONFIG_IOCTL: {
        const auto *config = static_cast<const gpio_v2_line_config *>(argument);
        bool high = false;
        for (uint32_t i = 0; i < config->num_attrs && i < GPIO_V2_LINE_NUM_ATTRS_MAX; ++i) {
            if (config->attrs[i].attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES) {
                high = (config->attrs[i].attr.values & config->attrs[i].mask & 1U) != 0;
            }
        }
        const bool output = (config->flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0;
        record(ioctl_text(handle.name, request, output ? (high ? "out=1" : "out=0") : "in"));
        apply_line_flags(handle, config->flags, high);
        return 0;
    }
    default:
        return kernel_fail(ioctl_text(handle.name, request, ""), ENOTTY);
    }
}

} // namespace sim
