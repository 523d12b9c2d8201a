#pragma once

#include <filesystem>

#include "serial/serial_port.h"
#include "line/board_line.h"
#include "panel/line_names.h"
#include "mqtt/session_served_port.h"

// The panel's port: a port number that the state folder's lines.conf maps to a served
// line opens that line, any other the serial device as before. The file is read at
// each open, so that a mapping written while the panel runs counts at the next click.
// While a served line is open, the names are the bridge's, it is a board-level line, and
// as a serial port it takes no frames and gives no bytes.
class LineChoicePort : public SerialPort, public LineNames, public FollowedLine {
 public:
  LineChoicePort(SerialPort& serial, SessionServedPort& served, std::filesystem::path folder);

  bool is_open() const override { return served_active() || serial_.is_open(); }
  void discard_input() override {
    if (!served_active()) serial_.discard_input();
  }
  void write(std::span<const std::uint8_t> bytes) override {
    if (!served_active()) serial_.write(bytes);
  }
  void select_port(std::int16_t number) override;
  void select_device(std::string path) override;
  // A lines.conf that cannot be read fails every open: a mapping the operator wrote must
  // not quietly give way to a device of the same number.
  OpenResult open() override;
  void set_receive_threshold(int bytes) override;
  void set_receive_handler(std::function<void()> handler) override;
  std::size_t bytes_waiting() const override {
    return served_active() ? 0 : serial_.bytes_waiting();
  }
  bool takes_input_as_it_comes() const override { return serial_.takes_input_as_it_comes(); }
  std::optional<std::uint8_t> read_byte() override {
    return served_active() ? std::nullopt : serial_.read_byte();
  }
  void close() override;

  // LineNames
  bool owns_names() const override { return served_active(); }
  std::optional<BoardNames> board_names(std::uint8_t address) override;
  void set_names_handler(std::function<void()> handler) override {
    names_handler_ = std::move(handler);
  }
  void rename(std::uint8_t address, int relay, const std::string& name,
              std::function<void(const LineRenameAnswer&)> done) override;

  // FollowedLine
  bool board_level() const override { return served_active(); }
  void follow(std::uint8_t address) override;
  void switch_relays(std::uint8_t address, int relay, bool on) override;
  void set_states_handler(StatesHandler handler) override { states_handler_ = std::move(handler); }
  void set_refusal_handler(std::function<void(const LineRefusal&)> handler) override;

 private:
  bool served_active() const { return served_chosen_ && served_.is_open(); }
  void names_changed() {
    if (names_handler_) names_handler_();
  }

  SerialPort& serial_;
  SessionServedPort& served_;
  std::filesystem::path folder_;
  std::int16_t number_ = 0;
  bool device_named_ = false;
  bool served_chosen_ = false;  // the last open chose the served line
  std::function<void()> names_handler_;
  StatesHandler states_handler_;
  std::function<void(const LineRefusal&)> refusal_handler_;
};
