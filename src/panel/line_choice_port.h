#pragma once

#include <filesystem>

#include "serial/serial_port.h"
#include "panel/line_names.h"
#include "panel/line_refusals.h"
#include "mqtt/served_port.h"

// The panel's port: a port number that the state folder's lines.conf maps to a served
// line opens that line, any other the serial device as before. The file is read at
// each open, so that a mapping written while the panel runs counts at the next click.
// While a served line is open, the names are the bridge's.
class LineChoicePort : public SerialPort, public LineNames, public LineRefusals {
 public:
  LineChoicePort(SerialPort& serial, ServedPort& served, std::filesystem::path folder);

  bool is_open() const override { return active_->is_open(); }
  void discard_input() override { active_->discard_input(); }
  void write(std::span<const std::uint8_t> bytes) override { active_->write(bytes); }
  void select_port(std::int16_t number) override;
  void select_device(std::string path) override;
  // A lines.conf that cannot be read fails every open: a mapping the operator wrote must
  // not quietly give way to a device of the same number.
  OpenResult open() override;
  void set_receive_threshold(int bytes) override;
  void set_receive_handler(std::function<void()> handler) override;
  std::size_t bytes_waiting() const override { return active_->bytes_waiting(); }
  bool takes_input_as_it_comes() const override { return active_->takes_input_as_it_comes(); }
  std::optional<std::uint8_t> read_byte() override { return active_->read_byte(); }
  void close() override;

  // LineNames
  bool owns_names() const override { return active_ == &served_ && served_.is_open(); }
  std::optional<BoardNames> board_names(std::uint8_t address) override;
  void set_names_handler(std::function<void()> handler) override {
    names_handler_ = std::move(handler);
  }
  void rename(std::uint8_t address, int relay, const std::string& name,
              std::function<void(const LineRenameAnswer&)> done) override;

  // LineRefusals
  void set_refusal_handler(std::function<void(const LineRefusal&)> handler) override;

 private:
  void names_changed() {
    if (names_handler_) names_handler_();
  }

  SerialPort& serial_;
  ServedPort& served_;
  std::filesystem::path folder_;
  std::int16_t number_ = 0;
  bool device_named_ = false;
  SerialPort* active_ = &serial_;
  std::function<void()> names_handler_;
  std::function<void(const LineRefusal&)> refusal_handler_;
};
