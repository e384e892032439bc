// SPDX-License-Identifier: GPL-3.0-or-later
// The test API: thin calls into the one board.
#include "SimBoard.h"

#include "Board.h"

namespace sim {

void reset_for_test() {
    Board::test().reset_for_test();
}

void use_directory(const std::string &directory) {
    Board::test().use_directory(directory);
}

std::string directory() {
    return Board::test().directory();
}

void save_state() {
    Board::test().save_state();
}

void load_state() {
    Board::test().load_state();
}

Clock &clock() {
    return Board::test().clock();
}

uint64_t now_ns() {
    return Board::test().clock().now_ns();
}

double now_ms() {
    return static_cast<double>(now_ns()) / 1e6;
}

bool set_faults(const std::string &list, std::string *error) {
    return Board::test().set_faults(list, error);
}

void clear_faults() {
    Board::test().clear_faults();
}

std::string errors_path() {
    return Board::test().errors_path();
}

Pin pin(uint8_t gpio) {
    return Board::test().gpio().pin(gpio);
}

SpiSettings spi() {
    return Board::test().spi().settings();
}

bool peripherals_open() {
    return Board::test().peripherals_open();
}

void set_spidev_present(bool present) {
    Board::test().set_spidev_present(present);
}

std::string spidev_path() {
    return Board::test().spidev_path();
}

void set_pi_model(PiModel model) {
    Board::test().set_pi_model(model);
}

PiModel pi_model() {
    return Board::test().pi_model();
}

std::string device_tree_path() {
    return Board::test().device_tree_path();
}

std::size_t open_descriptors() {
    return Board::test().open_descriptors();
}

bool reset_line_requested() {
    return Board::test().reset_line_requested();
}

SpidevSettings spidev_settings() {
    return Board::test().spidev_settings();
}

const std::vector<std::string> &calls() {
    return Board::test().calls();
}

void clear_calls() {
    Board::test().clear_calls();
}

void record_calls(bool on) {
    Board::test().record_calls(on);
}

void record_frames(bool on) {
    Board::test().record_frames(on);
}

const std::vector<Frame> &frames() {
    return Board::test().frames();
}

void clear_frames() {
    Board::test().clear_frames();
}

void trace_to(const std::string &path) {
    Board::test().trace_to(path);
}

const Stats &stats() {
    return Board::test().stats();
}

ChipState chip_state() {
    return Board::test().chip().state();
}

int running_image() {
    return Board::test().chip().running_image();
}

void set_chip_running() {
    Board::test().set_chip_running();
}

void set_identity(const ChipIdentity &identity) {
    Board &board = Board::test();
    board.chip().set_identity(identity);
    board.persist_if_changed();
}

void set_busy_ns(uint8_t opcode, uint64_t ns) {
    Board::test().chip().set_busy_ns(opcode, ns);
}

std::optional<uint16_t> property(uint16_t id) {
    return Board::test().chip().property(id);
}

void set_property(uint16_t id, uint16_t value) {
    Board &board = Board::test();
    board.chip().set_property(id, value);
    board.persist_if_changed();
}

const std::vector<std::pair<uint16_t, uint16_t>> &property_writes() {
    return Board::test().chip().property_writes();
}

void script_reply(uint8_t opcode, std::vector<uint8_t> bytes) {
    Board::test().chip().script_reply(opcode, std::move(bytes));
}

void script_reads(uint8_t opcode, std::vector<std::vector<uint8_t>> reads) {
    Board::test().chip().script_reads(opcode, std::move(reads));
}

void clear_scripts() {
    Board::test().chip().clear_scripts();
}

std::string boot_problem() {
    return Board::test().chip().boot_problem();
}

void use_default_band() {
    Board::test().chip().receiver().use_default_band();
}

bool load_band_json(const std::string &json, std::string *error) {
    return Board::test().chip().receiver().load_band_json(json, error);
}

bool load_band_file(const std::string &path, std::string *error) {
    return Board::test().chip().receiver().load_band_file(path, error);
}

DabRadio::Timing &receiver_timing() {
    return Board::test().chip().receiver().timing();
}

int tuned_index() {
    return Board::test().chip().receiver().tuned_index();
}

bool service_started(uint32_t *service_id, uint32_t *component_id) {
    return Board::test().chip().receiver().service_started(service_id, component_id);
}

} // namespace sim
