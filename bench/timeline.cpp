// SPDX-License-Identifier: GPL-3.0-or-later
// The first start's timeline, rebuilt from what the board recorded: the
// bcm2835 calls in order (every transfer and every delay) and the frames with
// their times. Virtual time moves only with bytes and delays, so each row's
// time is exactly its wire time plus the delays taken in it.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "Band.h"
#include "Bench.h"
#include "DABUtils.h"
#include "Si468x_bytes.h"
#include "Si468x_commands.h"
#include "SimBoard.h"

namespace bench {

namespace {

// Band III channel names in the order of the 41 centre frequencies.
constexpr std::string_view BAND_III_CHANNELS[] = {
    "5A",  "5B",  "5C",  "5D",  "6A",  "6B",  "6C",  "6D",  "7A",  "7B",  "7C",
    "7D",  "8A",  "8B",  "8C",  "8D",  "9A",  "9B",  "9C",  "9D",  "10A", "10N",
    "10B", "10C", "10D", "11A", "11N", "11B", "11C", "11D", "12A", "12N", "12B",
    "12C", "12D", "13A", "13B", "13C", "13D", "13E", "13F"};

enum class Phase {
    Start,
    Reset,
    PowerUp,
    Patch,
    Image,
    Boot,
    Properties,
    FreqList,
    Frequency,
    Volume,
};

struct Call {
    std::string name;
    unsigned long long arg = 0;
};

// The board's call log names the bcm2835 calls with their argument, and the
// kernel path's system calls with the device and request first: a transfer
// there, "ioctl(spidev0.0,SPI_IOC_MESSAGE,7)", counts as the frame it is.
// Other system calls take no time on the board.
Call parse_call(const std::string &text) {
    Call call;
    const auto open = text.find('(');
    call.name = text.substr(0, open);
    constexpr const char *message = "ioctl(spidev0.0,SPI_IOC_MESSAGE,";
    if (text.rfind(message, 0) == 0) {
        call.name = "bcm2835_spi_transfern";
        call.arg = std::stoull(text.substr(std::strlen(message)));
        return call;
    }
    if (call.name.rfind("bcm2835_", 0) != 0) {
        return Call{};
    }
    if (open != std::string::npos && open + 1 < text.size() && text[open + 1] != ')') {
        call.arg = std::stoull(text.substr(open + 1));
    }
    return call;
}

std::string frequency_label(const sim::Band &band, uint8_t index) {
    if (index >= band.frequencies.size()) {
        return "index " + std::to_string(index);
    }
    const uint32_t khz = band.frequencies[index];
    char text[80];
    const bool band_iii = band.frequencies == sim::band_iii_frequencies();
    std::snprintf(text, sizeof text, "%s %.3f MHz",
                  band_iii ? std::string(BAND_III_CHANNELS[index]).c_str() : "", khz / 1000.0);
    std::string label = text;
    if (const sim::Ensemble *ensemble = band.on_frequency(khz)) {
        std::string name(ensemble->label.begin(), ensemble->label.end());
        name.erase(name.find_last_not_of(' ') + 1);
        label += ": " + name;
    }
    return label;
}

class Builder {
public:
    Builder(uint64_t start_ns, const sim::Band &band) : band_(band), now_ns_(start_ns) {
        open(Phase::Start, "link set-up, running-chip test");
    }

    void frame(const sim::Frame &frame) {
        const uint8_t opcode = frame.out.empty() ? 0 : frame.out[0];
        switch (opcode) {
        case LOAD_INIT:
            if (phase_ == Phase::PowerUp) {
                open(Phase::Patch, "ROM patch upload (+" +
                                       std::to_string(DAB_BRINGUP_PATCH_TO_IMAGE_MS) + " ms wait)");
            } else if (phase_ == Phase::Patch) {
                open(Phase::Image, "DAB image upload (+" +
                                       std::to_string(DAB_BRINGUP_IMAGE_TO_BOOT_MS) + " ms wait)");
            }
            break;
        case BOOT:
            open(Phase::Boot, "boot");
            break;
        case GET_PART_INFO:
            if (phase_ == Phase::Boot) {
                open(Phase::Properties, "chip information, receiver properties");
            }
            break;
        case DAB_GET_FREQ_LIST:
            if (phase_ == Phase::Properties) {
                open(Phase::FreqList, "frequency list, scan properties");
            }
            break;
        case DAB_TUNE_FREQ:
            if (frame.out.size() > DAB_TUNE_FREQ_INDEX) {
                open(Phase::Frequency, frequency_label(band_, frame.out[DAB_TUNE_FREQ_INDEX]));
            }
            break;
        case SET_PROPERTY:
            if (phase_ == Phase::Frequency && frame.out.size() >= PROPERTY_ID + sizeof(uint16_t) &&
                Si468x_get_u16(frame.out.data() + PROPERTY_ID) == AUDIO_ANALOG_VOLUME) {
                open(Phase::Volume, "station list saved, volume");
            }
            break;
        default:
            if (phase_ == Phase::Reset) {
                open(Phase::PowerUp, "power-up, chip information");
            }
            break;
        }
        rows_.back().wire_ns += frame.end_ns - frame.start_ns;
        now_ns_ = frame.end_ns;
    }

    void delay_ms(unsigned long long ms) {
        if (phase_ == Phase::Start) {
            open(Phase::Reset, "reset pulse");
        }
        const uint64_t ns = ms * 1'000'000;
        TimelineRow &row = rows_.back();
        if (phase_ != Phase::Frequency) {
            row.fixed_ns += ns;
        } else if (ms == TUNE_POLL_WAIT_MS) {
            row.tune_poll_ns += ns;
        } else if (ms == DAB_LIST_POLL_WAIT_MS) {
            row.event_poll_ns += ns;
        } else if (ms == DAB_TIME_WAIT_MS) {
            row.fixed_ns += ns;
        } else {
            row.other_wait_ns += ns;
        }
        now_ns_ += ns;
    }

    void delay_us(unsigned long long us) {
        rows_.back().cts_ns += us * 1000;
        now_ns_ += us * 1000;
    }

    std::vector<TimelineRow> take() { return std::move(rows_); }

private:
    void open(Phase phase, const std::string &label) {
        phase_ = phase;
        TimelineRow row;
        row.label = label;
        row.start_ns = now_ns_;
        rows_.push_back(row);
    }

    const sim::Band &band_;
    uint64_t now_ns_;
    Phase phase_ = Phase::Start;
    std::vector<TimelineRow> rows_;
};

} // namespace

std::vector<TimelineRow> build_timeline(uint64_t start_ns) {
    const sim::Band band = sim::default_band();
    Builder builder(start_ns, band);
    const auto &frames = sim::frames();
    std::size_t next_frame = 0;
    for (const std::string &text : sim::calls()) {
        const Call call = parse_call(text);
        if (call.name == "bcm2835_spi_transfern") {
            // A transfer on a closed board leaves no frame.
            if (next_frame < frames.size() && frames[next_frame].out.size() == call.arg) {
                builder.frame(frames[next_frame++]);
            }
        } else if (call.name == "bcm2835_delay") {
            builder.delay_ms(call.arg);
        } else if (call.name == "bcm2835_delayMicroseconds") {
            builder.delay_us(call.arg);
        }
    }
    return builder.take();
}

bool write_timeline(const std::vector<TimelineRow> &rows, const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    std::fprintf(file, "# first start on the simulated board, virtual time in seconds\n"
                       "# row label start wire fixed cts_polls tune_polls event_polls other "
                       "total\n");
    int row_number = 0;
    for (const TimelineRow &row : rows) {
        auto s = [](uint64_t ns) { return static_cast<double>(ns) / 1e9; };
        std::fprintf(file, "%d \"%s\" %.6f %.6f %.6f %.6f %.6f %.6f %.6f %.6f\n", row_number++,
                     row.label.c_str(), s(row.start_ns), s(row.wire_ns), s(row.fixed_ns),
                     s(row.cts_ns), s(row.tune_poll_ns), s(row.event_poll_ns), s(row.other_wait_ns),
                     s(row.end_ns() - row.start_ns));
    }
    return std::fclose(file) == 0;
}

} // namespace bench
