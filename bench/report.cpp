// SPDX-License-Identifier: GPL-3.0-or-later
// The benchmark's table: simulated time against the floor, the floor's parts,
// and the SPI traffic of each path.
#include <cstdarg>
#include <cstdio>
#include <string>

#include "Bench.h"

namespace bench {

namespace {

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

double ms(uint64_t ns) {
    return static_cast<double>(ns) / 1e6;
}
double ms_signed(uint64_t a, uint64_t b) {
    return (static_cast<double>(a) - static_cast<double>(b)) / 1e6;
}

// A row of cells, as Markdown or as fixed-width text.
class Table {
public:
    Table(bool markdown, std::vector<int> widths)
        : markdown_(markdown), widths_(std::move(widths)) {}

    void row(const std::vector<std::string> &cells) {
        std::string line = markdown_ ? "|" : "";
        for (std::size_t k = 0; k < cells.size(); ++k) {
            const int width = k < widths_.size() ? widths_[k] : 10;
            if (markdown_) {
                line += " " + cells[k] + " |";
            } else if (k == 0) {
                line += format("%-*s", width, cells[k].c_str());
            } else {
                line += format(" %*s", width, cells[k].c_str());
            }
        }
        text_ += line + "\n";
        if (markdown_ && !header_done_) {
            std::string rule = "|";
            for (std::size_t k = 0; k < cells.size(); ++k) {
                rule += k == 0 ? "---|" : "---:|";
            }
            text_ += rule + "\n";
        }
        header_done_ = true;
    }
    const std::string &text() const { return text_; }

private:
    bool markdown_;
    std::vector<int> widths_;
    bool header_done_ = false;
    std::string text_;
};

} // namespace

std::string format_table(const BenchRun &run, bool markdown) {
    std::string out = "board: " + run.board + "\n\n";
    Table time(markdown, {50, 10, 10, 7, 9, 9, 9, 9, 9});
    time.row({"path", "measured s", "floor s", "ratio", "fixed ms", "wire ms", "chip ms",
              "polls ms", "over ms"});
    for (const PathResult &path : run.paths) {
        time.row({path.name, format("%.6f", path.measured_ns / 1e9),
                  format("%.6f", path.floor.total() / 1e9), format("%.5f", path.ratio()),
                  format("%.3f", ms(path.floor.fixed_ns)), format("%.3f", ms(path.floor.wire_ns)),
                  format("%.3f", ms(path.floor.chip_ns)), format("%.3f", ms(path.floor.polling_ns)),
                  format("%.3f", ms_signed(path.measured_ns, path.floor.total()))});
    }
    out += time.text();
    out += "\n";

    Table traffic(markdown, {50, 9, 9, 10, 10, 10, 11, 11});
    traffic.row(
        {"path", "frames", "floor fr.", "bytes", "floor B", "wire ms", "busy ms", "floor busy"});
    for (const PathResult &path : run.paths) {
        traffic.row({path.name, std::to_string(path.traffic.frames),
                     std::to_string(path.floor_traffic.frames), std::to_string(path.traffic.bytes),
                     std::to_string(path.floor_traffic.bytes),
                     format("%.3f", ms(path.traffic.bytes * BYTE_NS)),
                     format("%.3f", ms(path.busy_ns)), format("%.3f", ms(path.floor_busy_ns))});
    }
    out += traffic.text();
    out += "\n";

    if (!run.paths.empty()) {
        const PathResult &first = run.paths.front();
        const uint64_t image = first.image_bytes;
        out += format("firmware upload: %llu image bytes in %llu HOST_LOAD bytes (headers "
                      "included, %.4f s on the wire); every byte from the first LOAD_INIT to "
                      "BOOT: %llu (%.4f s)\n",
                      static_cast<unsigned long long>(image),
                      static_cast<unsigned long long>(run.upload_chunk_bytes),
                      run.upload_chunk_bytes * BYTE_NS / 1e9,
                      static_cast<unsigned long long>(run.upload_phase_bytes),
                      run.upload_phase_bytes * BYTE_NS / 1e9);
        out += format("image bytes' share of the upload's wire time: %.2f %%; of the whole first "
                      "start's wire time (%.4f s): %.2f %%\n",
                      run.upload_phase_bytes ? 100.0 * image / run.upload_phase_bytes : 0.0,
                      run.first_start_wire_ns / 1e9,
                      run.first_start_wire_ns ? 100.0 * (image * BYTE_NS) / run.first_start_wire_ns
                                              : 0.0);
    }
    if (run.first_start_syscalls > 0) {
        out += format("system calls: %llu upload chunks went out in %llu SPI_IOC_MESSAGE ioctls "
                      "(%.2f a chunk); the first start made %llu system calls for %llu frames "
                      "(%.3f a frame, the open's included)\n",
                      static_cast<unsigned long long>(run.upload_chunks),
                      static_cast<unsigned long long>(run.chunk_ioctls),
                      run.upload_chunks ? static_cast<double>(run.chunk_ioctls) / run.upload_chunks
                                        : 0.0,
                      static_cast<unsigned long long>(run.first_start_syscalls),
                      static_cast<unsigned long long>(run.first_start_frames),
                      run.first_start_frames
                          ? static_cast<double>(run.first_start_syscalls) / run.first_start_frames
                          : 0.0);
    }
    bool all_ok = true;
    for (const PathResult &path : run.paths) {
        if (!path.check.empty()) {
            out += "CHECK FAILED: " + path.name + ": " + path.check + "\n";
            all_ok = false;
        }
    }
    if (all_ok) {
        out += "every path reached its end state (menu, ensembles stored, service playing)\n";
    }
    return out;
}

} // namespace bench
