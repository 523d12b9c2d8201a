#include "panel/line_choice_port.h"

#include <variant>

LineChoicePort::LineChoicePort(SerialPort& serial, SessionServedPort& served,
                               std::filesystem::path folder)
    : serial_(serial), served_(served), folder_(std::move(folder)) {
  served_.on_names = [this] { names_changed(); };
  served_.on_states = [this](std::uint8_t address, std::optional<std::uint16_t> opened) {
    if (states_handler_) states_handler_(address, opened);
  };
  served_.on_switch_refused = [this](const ServedBoard::SwitchRefusal& refused) {
    if (!refusal_handler_) return;
    refusal_handler_(
        {refused.relay, refused.on,
         refused.not_allowed ? "not allowed (" + refused.reason + ")" : refused.reason});
  };
}

void LineChoicePort::set_refusal_handler(std::function<void(const LineRefusal&)> handler) {
  refusal_handler_ = std::move(handler);
}

void LineChoicePort::select_port(std::int16_t number) {
  number_ = number;
  device_named_ = false;
  serial_.select_port(number);
}

void LineChoicePort::select_device(std::string path) {
  device_named_ = true;
  serial_.select_device(std::move(path));
}

void LineChoicePort::follow(std::uint8_t address) {
  if (ServedBoard* board = served_active() ? served_.board() : nullptr) board->follow(address);
}

void LineChoicePort::switch_relays(std::uint8_t address, int relay, bool on) {
  if (ServedBoard* board = served_active() ? served_.board() : nullptr) {
    board->switch_relays(address, relay, on);
  }
}

OpenResult LineChoicePort::open() {
  close();
  served_chosen_ = false;
  if (device_named_) return serial_.open();
  const auto map = read_line_map(folder_);
  // A file whose fault names no port may map this one: it stays closed, told by the file.
  if (const auto* why = std::get_if<std::string>(&map)) {
    return {false, std::string(line_map_file_name), *why};
  }
  const auto& lines = std::get<LineMap>(map);
  const auto line = lines.find(number_);
  if (line == lines.end()) return serial_.open();
  // A mapping that cannot be used keeps its own port closed, told by the line it names.
  if (const ServedLineAddress& mapped = line->second; !mapped.fault.empty()) {
    const std::string named = !mapped.host.empty()      ? line_url(mapped)
                              : !mapped.written.empty() ? mapped.written
                                                        : std::string(line_map_file_name);
    return {false, named, mapped.fault};
  }
  served_.select_line(line->second);
  served_chosen_ = true;
  OpenResult result = served_.open();
  if (result.ok) names_changed();
  return result;
}

void LineChoicePort::close() {
  const bool names = owns_names();
  if (served_chosen_) {
    served_.close();
  } else {
    serial_.close();
  }
  if (names) names_changed();
}

void LineChoicePort::set_receive_threshold(int bytes) {
  serial_.set_receive_threshold(bytes);
}

void LineChoicePort::set_receive_handler(std::function<void()> handler) {
  serial_.set_receive_handler(std::move(handler));
}

std::optional<BoardNames> LineChoicePort::board_names(std::uint8_t address) {
  ServedBoard* board = owns_names() ? served_.board() : nullptr;
  if (!board) return std::nullopt;
  board->follow(address);
  const auto names = board->names(address);
  if (!names) return std::nullopt;
  return BoardNames{names->title, names->relays};
}

void LineChoicePort::rename(std::uint8_t address, int relay, const std::string& name,
                            std::function<void(const LineRenameAnswer&)> done) {
  ServedBoard* board = owns_names() ? served_.board() : nullptr;
  if (!board) {
    done({LineRenameAnswer::Kind::failed, "the served line is closed"});
    return;
  }
  board->rename(address, relay, name, [done = std::move(done)](const ServedOutcome& outcome) {
    using Kind = ServedOutcome::Kind;
    if (outcome.kind == Kind::done) {
      done({LineRenameAnswer::Kind::stored, {}});
    } else if (outcome.kind == Kind::not_allowed) {
      done({LineRenameAnswer::Kind::failed, "not allowed (" + outcome.reason + ")"});
    } else if (outcome.result == "refused") {
      done({LineRenameAnswer::Kind::refused, outcome.reason});
    } else {
      done({LineRenameAnswer::Kind::failed, outcome.reason});
    }
  });
}
