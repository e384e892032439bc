// SPDX-License-Identifier: GPL-3.0-or-later
// Declarative faults of the simulated board: a list of `name` or `name=value`
// entries, as in SI468X_SIM_FAULTS ("absent,busy=0x09,tune-timeout=3").
// A name may appear more than once ("tune-timeout=3,tune-timeout=17").
//
// The list is parsed once into typed entries; every lookup names a `Fault`
// enumerator, so a misspelt fault does not compile. The names, and whether a
// fault takes a value, live in one table (`fault_table`).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One enumerator per fault the board knows; sim/README.md and
// sim/README-receiver.md describe each.
enum class Fault : uint8_t {
    // The board and the link.
    Absent,
    NoSpidev,
    InitFail,
    SpiFail,
    TransferFail,
    LineReleaseInput,
    SpidevVanishes,
    LocksHidden,
    // The chip core.
    Busy,
    ErrCmd,
    Status3,
    NoCtsAfterReset,
    PowerupFail,
    PatchFail,
    FirmwareFail,
    BootFail,
    PropertyMismatch,
    RunningError,
    Garbage,
    ReplyOverflow,
    Slow,
    // The receiver.
    TuneTimeout,
    ListUnstable,
    ListUnannounced,
    ListSize,
    NoTime,
    NoSignal,
    DataOverflow,
    DataNotReady,
    DataLength,
    DataNoCts,
    StartFail,
    UaLength,
    UaOverrun,
    UaPad,
    // The opposites of what the radio relies on (sim/README.md, "What the
    // radio relies on").
    StcintSticky,
    FicQualityLate,
    OverflowSticky,
    PacketNeedsAck,
    TakeoverDefaults,
    HostExitResetsChip,
    // A chip that stops answering in the middle of a run.
    HangAfter,
};

struct FaultInfo {
    Fault fault;
    const char *name;
    bool takes_value;
};

// Every fault with its name, in enumerator order.
inline constexpr std::array<FaultInfo, 42> fault_table{{
    {Fault::Absent, "absent", false},
    {Fault::NoSpidev, "no-spidev", false},
    {Fault::InitFail, "init-fail", false},
    {Fault::SpiFail, "spi-fail", false},
    {Fault::TransferFail, "transfer-fail", true},
    {Fault::LineReleaseInput, "line-release-input", false},
    {Fault::SpidevVanishes, "spidev-vanishes", false},
    {Fault::LocksHidden, "locks-hidden", false},
    {Fault::Busy, "busy", true},
    {Fault::ErrCmd, "errcmd", true},
    {Fault::Status3, "status3", true},
    {Fault::NoCtsAfterReset, "no-cts-after-reset", true},
    {Fault::PowerupFail, "powerup-fail", true},
    {Fault::PatchFail, "patch-fail", true},
    {Fault::FirmwareFail, "firmware-fail", true},
    {Fault::BootFail, "boot-fail", true},
    {Fault::PropertyMismatch, "property-mismatch", true},
    {Fault::RunningError, "running-error", false},
    {Fault::Garbage, "garbage", true},
    {Fault::ReplyOverflow, "reply-overflow", true},
    {Fault::Slow, "slow", true},
    {Fault::TuneTimeout, "tune-timeout", true},
    {Fault::ListUnstable, "list-unstable", true},
    {Fault::ListUnannounced, "list-unannounced", true},
    {Fault::ListSize, "list-size", true},
    {Fault::NoTime, "no-time", true},
    {Fault::NoSignal, "no-signal", true},
    {Fault::DataOverflow, "data-overflow", false},
    {Fault::DataNotReady, "data-not-ready", false},
    {Fault::DataLength, "data-length", true},
    {Fault::DataNoCts, "data-no-cts", false},
    {Fault::StartFail, "start-fail", false},
    {Fault::UaLength, "ua-length", true},
    {Fault::UaOverrun, "ua-overrun", false},
    {Fault::UaPad, "ua-pad", false},
    {Fault::StcintSticky, "stcint-sticky", false},
    {Fault::FicQualityLate, "fic-quality-late", false},
    {Fault::OverflowSticky, "overflow-sticky", false},
    {Fault::PacketNeedsAck, "packet-needs-ack", false},
    {Fault::TakeoverDefaults, "takeover-defaults", false},
    {Fault::HostExitResetsChip, "host-exit-resets-chip", false},
    {Fault::HangAfter, "hang-after", true},
}};

namespace detail {
constexpr bool table_in_enum_order() {
    for (std::size_t k = 0; k < fault_table.size(); ++k) {
        if (static_cast<std::size_t>(fault_table[k].fault) != k) {
            return false;
        }
    }
    return true;
}
} // namespace detail
static_assert(detail::table_in_enum_order(), "fault_table must list every Fault in order");

constexpr const FaultInfo &fault_info(Fault fault) {
    return fault_table[static_cast<std::size_t>(fault)];
}
constexpr const char *fault_name(Fault fault) {
    return fault_info(fault).name;
}
// The fault of that name, if the board knows one.
std::optional<Fault> fault_named(std::string_view name);

class Faults {
public:
    // Replaces the active faults by the list. An unknown name or a malformed
    // value fails: *error says which, and the active faults are left empty.
    bool parse(const std::string &list, std::string *error);
    // Adds one fault given by name and value as written; the same checks as parse.
    bool add(const std::string &name, const std::string &value, std::string *error);
    // Adds one fault; `value` is -1 for "always" and ignored for a fault
    // without a value.
    void add(Fault fault, long value = 0);
    void clear();

    bool has(Fault fault) const;
    // The value of the first entry of that fault: -1 for "always".
    std::optional<long> number(Fault fault) const;
    // True when some entry of that fault has the given value.
    bool matches(Fault fault, long number) const;
    // Every value given for that fault, in list order.
    std::vector<long> numbers(Fault fault) const;

    // Parses a fault value: "0x1F", "31" or "always" (-1).
    static std::optional<long> parse_number(const std::string &text);

private:
    struct Entry {
        Fault fault;
        long value; // 0 for a fault without a value
    };
    std::vector<Entry> entries_;
};

} // namespace sim
