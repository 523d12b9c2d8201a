#include "bus_commands.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "common/address_list.h"
#include "ctl_output.h"
#include "link/bus_schedule.h"
#include "protocol/command_frame.h"
#include "protocol/status_frame.h"

namespace {

using Clock = EventWait::Clock;

int fail(CtlContext& context, ExitCode code, const std::string& message) {
  context.host.tell(exit_status(code), message, context.options.json);
  return exit_status(code);
}

// The port's receive events go to `handler` while it lives, to nobody after.
class ReceiveHandler {
 public:
  ReceiveHandler(SerialPort& port, std::function<void(int)> handler) : port_(port) {
    port_.set_receive_handler(std::move(handler));
  }
  ~ReceiveHandler() { port_.set_receive_handler({}); }
  ReceiveHandler(const ReceiveHandler&) = delete;
  ReceiveHandler& operator=(const ReceiveHandler&) = delete;

 private:
  SerialPort& port_;
};

// A bus schedule on relayctl's event wait: step() when the time it named has come and
// right after each receive event, as every host drives it.
class BusDriver : public BusObserver {
 public:
  BusDriver(CtlContext& context, const std::vector<std::uint8_t>& addresses)
      : context_(context),
        bus_(context.core.port(), addresses, *this),
        receive_(context.core.port(), [this](int code) {
          bus_.on_receive(code, context_.wait.now());
          received_ = true;
        }) {}

  // Whether `done` held before the deadline.
  bool run_until(const std::function<bool()>& done, Clock::time_point deadline) {
    while (!done()) {
      const auto now = context_.wait.now();
      if (now >= deadline) return false;
      const auto next = std::min(bus_.step(now), deadline);
      if (done()) break;
      received_ = false;
      context_.wait.wait_until([&] { return received_ || done(); }, next);
    }
    return true;
  }

  std::function<void(std::uint8_t, std::uint16_t)> answered;
  std::function<void(std::uint8_t)> lost;

 private:
  void board_answered(std::uint8_t address, std::uint16_t opened) override {
    if (answered) answered(address, opened);
  }
  void board_lost(std::uint8_t address) override {
    if (lost) lost(address);
  }

  CtlContext& context_;
  BusSchedule bus_;
  ReceiveHandler receive_;
  bool received_ = false;
};

// Long enough for every board of the list to miss its answers in turn until it counts
// as lost, with room for a loaded machine.
Clock::duration time_to_lose(std::size_t boards) {
  return static_cast<int>(boards) * BusSchedule::misses_until_unknown *
             (PollCycle::period + BusSchedule::answer_timeout) +
         std::chrono::seconds(2);
}

// The names of `address` from the name file, as the panel reads them; none without one.
std::optional<RelayNames> names_of(CtlContext& context, std::uint8_t address) {
  std::error_code error;
  if (!std::filesystem::exists(context.core.name_file().path(), error)) return std::nullopt;
  context.core.name_file().load_names(std::to_string(address));
  return context.host.names();
}

std::string board_status_text(std::uint8_t address, std::optional<RelayMask> opened) {
  std::string line = "address " + std::to_string(address) + ":";
  if (!opened) return line + " no answer\n";
  for (int relay = 1; relay <= relay_count; ++relay) {
    const auto state =
        (*opened & relay_bit(relay)) != 0 ? IndicatorState::Opened : IndicatorState::Closed;
    line += ' ' + std::string(state_word(state));
  }
  return line + '\n';
}

std::array<IndicatorState, relay_count> shown_states(std::optional<RelayMask> opened) {
  std::array<IndicatorState, relay_count> shown;
  for (int relay = 1; relay <= relay_count; ++relay) {
    shown[static_cast<std::size_t>(relay - 1)] = !opened ? IndicatorState::Unknown
                                                 : (*opened & relay_bit(relay)) != 0
                                                     ? IndicatorState::Opened
                                                     : IndicatorState::Closed;
  }
  return shown;
}

}  // namespace

int scan_boards(CtlContext& context) {
  const CtlOptions& options = context.options;
  SerialPort& port = context.core.port();
  bool answered = false;
  const ReceiveHandler receive(port, [&](int code) {
    // A whole answer or nothing, as the poll cycle reads it.
    if (code != comm_event_receive || port.bytes_waiting() < frame_size) return;
    StatusFrame frame;
    for (std::size_t i = 0; i < frame_size; ++i) frame.bytes[i] = port.read_byte().value_or(0);
    if (frame.is_valid()) answered = true;
  });

  std::vector<std::uint8_t> found;
  const int count = options.scan_to - options.scan_from + 1;
  int address = options.scan_from;
  for (; address <= options.scan_to && !context.interrupted(); ++address) {
    if (context.progress) {
      context.err << "\rscanning address " << address << " (" << address - options.scan_from + 1
                  << " of " << count << "), " << found.size() << " found" << std::flush;
    }
    answered = false;
    const auto query = CommandFrame::build(static_cast<std::uint8_t>(address),
                                           BoardCommand::QueryStatus, 0x00, 0x00);
    // What a late board sends after its timeout must not pass for this one's answer.
    port.discard_input();
    port.write(query.bytes);
    context.wait.wait_until([&] { return answered || context.interrupted(); },
                            context.wait.now() + options.timeout);
    if (answered) found.push_back(static_cast<std::uint8_t>(address));
  }
  // The progress line goes as it came: a terminal's next line starts clean.
  if (context.progress) context.err << "\r" << std::string(60, ' ') << "\r" << std::flush;

  if (options.json) {
    std::string json = "{\"addresses\":[";
    for (std::size_t i = 0; i < found.size(); ++i) {
      if (i > 0) json += ',';
      json += std::to_string(found[i]);
    }
    context.out << json << "]}\n";
  } else {
    for (const std::uint8_t board : found) context.out << int(board) << '\n';
  }
  context.out << std::flush;
  if (address <= options.scan_to) {
    return fail(context, ExitCode::Interrupted,
                "the scan was cut short before address " + std::to_string(address));
  }
  if (found.empty()) {
    return fail(context, ExitCode::NoAnswer,
                "no board answered at addresses " + std::to_string(options.scan_from) + " to " +
                    std::to_string(options.scan_to));
  }
  return exit_status(ExitCode::Done);
}

int bus_status(CtlContext& context) {
  const auto& addresses = context.options.addresses;
  std::map<std::uint8_t, RelayMask> answers;
  std::vector<std::uint8_t> silent;
  BusDriver driver(context, addresses);
  driver.answered = [&](std::uint8_t address, std::uint16_t opened) {
    answers.emplace(address, opened);
  };
  driver.lost = [&](std::uint8_t address) {
    if (answers.count(address) == 0) silent.push_back(address);
  };
  driver.run_until([&] { return answers.size() + silent.size() >= addresses.size(); },
                   context.wait.now() + time_to_lose(addresses.size()));

  silent.clear();
  for (const std::uint8_t address : addresses) {
    const auto answer = answers.find(address);
    const auto opened =
        answer == answers.end() ? std::nullopt : std::optional<RelayMask>(answer->second);
    if (!opened) silent.push_back(address);
    if (!context.options.json) {
      context.out << board_status_text(address, opened);
    } else if (opened) {
      const auto names = names_of(context, address);
      context.out << status_json(address, *opened, names ? &*names : nullptr);
    } else {
      context.out << "{\"address\":" << int(address) << ",\"error\":\"no answer\"}\n";
    }
  }
  context.out << std::flush;
  if (silent.empty()) return exit_status(ExitCode::Done);
  return fail(context, ExitCode::NoAnswer,
              std::string(silent.size() == 1 ? "board " : "boards ") + address_list_text(silent) +
                  " did not answer");
}

int bus_watch(CtlContext& context) {
  const auto& addresses = context.options.addresses;
  std::map<std::uint8_t, std::optional<RelayMask>> states;
  std::map<std::uint8_t, ChangeLines> lines;
  for (const std::uint8_t address : addresses) lines.emplace(address, ChangeLines(address));
  bool any_answer = false;
  BusDriver driver(context, addresses);
  driver.answered = [&](std::uint8_t address, std::uint16_t opened) {
    states[address] = opened;
    any_answer = true;
  };
  driver.lost = [&](std::uint8_t address) { states[address].reset(); };
  // The first answer starts the output; a line on which every board is silent is none.
  if (!driver.run_until([&] { return any_answer || context.interrupted(); },
                        context.wait.now() + time_to_lose(addresses.size())) ||
      (!any_answer && !context.interrupted())) {
    return fail(context, ExitCode::NoAnswer,
                "no board answered at addresses " + address_list_text(addresses));
  }
  const auto print_changes = [&] {
    std::string changed;
    const auto now = std::chrono::system_clock::now();
    for (auto& [address, board_lines] : lines) {
      changed += board_lines.take(shown_states(states[address]), context.options.json, now);
    }
    if (!changed.empty()) context.out << changed << std::flush;
    // A write fails once the reader has gone: the watch is over.
    return !context.out || context.interrupted();
  };
  driver.run_until(print_changes, Clock::time_point::max());
  return exit_status(ExitCode::Done);
}
