#include "bus_commands.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "common/address_list.h"
#include "common/text_number.h"
#include "ctl_output.h"
#include "line/verified_switch.h"
#include "line_driver.h"
#include "panel/poll_cycle.h"
#include "text/json_text.h"

namespace {

using Clock = EventWait::Clock;

int fail(CtlContext& context, ExitCode code, const std::string& message) {
  context.messages.tell(exit_status(code), message, context.options.json);
  return exit_status(code);
}

// " on <line>" for a line where nobody answered: the device may be the wrong one.
std::string on_line(const CtlContext& context) {
  return context.opened_line && !context.opened_line->empty() ? " on " + *context.opened_line : "";
}

// Long enough for every board of the list to miss its answers in turn until it counts
// as lost, each awaited as long as a late answer may come, with room for a loaded machine.
Clock::duration time_to_lose(std::size_t boards) {
  return static_cast<int>(boards) * LineEngine::misses_until_unknown *
             (PollCycle::period + LineTiming{}.late_limit) +
         std::chrono::seconds(2);
}

// The names of `address` from the name file, as the panel reads them; none without one.
std::optional<RelayNames> names_of(CtlContext& context, std::uint8_t address) {
  std::error_code error;
  if (!std::filesystem::exists(context.name_file.path(), error)) return std::nullopt;
  context.name_file.load_names(std::to_string(address));
  return context.messages.names();
}

// A board's line: "address 5: 1 closed, 2 opened, ..., 16 closed", each state with its
// relay's number.
std::string board_status_text(std::uint8_t address, std::optional<RelayMask> opened) {
  std::string line = "address " + std::to_string(address) + ":";
  if (!opened) return line + " no answer\n";
  for (int relay = 1; relay <= relay_count; ++relay) {
    const auto state =
        (*opened & relay_bit(relay)) != 0 ? IndicatorState::Opened : IndicatorState::Closed;
    line +=
        (relay == 1 ? " " : ", ") + std::to_string(relay) + ' ' + std::string(state_word(state));
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

// How long a scan waits for each address unless --timeout says otherwise. A status
// query and its answer are 16 bytes, 16.7 ms at 9600 baud; a board turns round in about
// a millisecond; a USB adapter passes bytes on at the next 1 ms USB frame each way
// (CH340, PL2303, CP210x, or an FTDI chip with its latency timer at 1 ms): an answer is
// in within about 21 ms, and 25 ms leaves the rest as slack. An FTDI chip at its
// 16 ms latency timer hands the answer over at about 35 ms: the check below still finds
// that board, and --timeout 50 makes the first pass wait for it.
constexpr std::chrono::milliseconds scan_window{25};

// A pass of the scan's own queries on the run's line, nothing polled, each awaited as
// `timing` says.
class ScanLine {
 public:
  ScanLine(CtlContext& context, LineTiming timing)
      : context_(context), timing_(timing), line_(context.line) {
    line_.line().engine().set_timing(timing);
    line_.answered = [this](std::uint8_t, std::uint16_t) { answered_ = true; };
    line_.missed = [this](std::uint8_t) { missed_ = true; };
    line_.late = [this](std::uint8_t, Clock::duration) { late_ = true; };
  }
  // The last late answer goes to nobody else either: not to the next pass, nor to the
  // next program on the port.
  ~ScanLine() {
    line_.settle();
    line_.answered = {};
    line_.missed = {};
    line_.late = {};
  }
  ScanLine(const ScanLine&) = delete;
  ScanLine& operator=(const ScanLine&) = delete;
  enum class Heard { answer, late_answer, nothing, refused };
  Heard ask(std::uint8_t address) {
    answered_ = missed_ = late_ = false;
    if (line_.line().command({{{address, BoardCommand::QueryStatus, 0x00, 0x00}}},
                             context_.wait.now())) {
      return Heard::refused;
    }
    line_.run_until(
        [&] {
          return answered_ || (missed_ && !line_.line().engine().busy()) || late_ ||
                 context_.interrupted();
        },
        context_.wait.now() + timing_.answer_timeout + timing_.late_limit);
    return answered_ ? Heard::answer : late_ ? Heard::late_answer : Heard::nothing;
  }

 private:
  CtlContext& context_;
  LineTiming timing_;
  LineDriver& line_;
  bool answered_ = false;
  bool missed_ = false;
  bool late_ = false;
};

// A quick pass may credit a board slower than its window to the next address, or hear
// a board only late: each address heard is asked again with the whole timeout, and
// where it stays silent the one before it, whose answer it may have been.
std::vector<std::uint8_t> confirmed(CtlContext& context, const std::vector<std::uint8_t>& heard,
                                    LineTiming timing) {
  ScanLine line(context, timing);
  std::vector<std::uint8_t> found;
  for (const std::uint8_t address : heard) {
    if (context.interrupted()) break;
    if (line.ask(address) == ScanLine::Heard::answer) {
      found.push_back(address);
    } else if (address > context.options.scan_from &&
               (found.empty() || found.back() != address - 1) &&
               line.ask(static_cast<std::uint8_t>(address - 1)) == ScanLine::Heard::answer) {
      found.push_back(static_cast<std::uint8_t>(address - 1));
    }
  }
  return found;
}

}  // namespace

std::vector<std::uint8_t> polled_addresses(const CtlOptions& options) {
  if (options.command == CtlCommand::Watch && options.addresses.empty()) {
    return {static_cast<std::uint8_t>(text_to_int16(options.address_text).value_or(0))};
  }
  if (options.command == CtlCommand::Watch || options.command == CtlCommand::Status) {
    return options.addresses;
  }
  return {};
}

int scan_boards(CtlContext& context) {
  const CtlOptions& options = context.options;
  const LineTiming asked =
      LineTiming::with_answer_timeout(options.timeout, LineTiming::Asking::once);
  // By default each address gets the line's own window, and nothing is awaited beyond
  // it; with --timeout, the late-answer rule keeps a slow board from the next address.
  const bool quick = !options.timeout_given;
  std::vector<std::uint8_t> heard;
  const int count = options.scan_to - options.scan_from + 1;
  int address = options.scan_from;
  {
    ScanLine line(context, quick ? LineTiming{scan_window, scan_window} : asked);
    for (; address <= options.scan_to && !context.interrupted(); ++address) {
      if (context.progress) {
        context.err << "\rscanning address " << address << " (" << address - options.scan_from + 1
                    << " of " << count << "), " << heard.size() << " found" << std::flush;
      }
      const auto answer = line.ask(static_cast<std::uint8_t>(address));
      if (answer == ScanLine::Heard::refused) break;
      if (answer == ScanLine::Heard::answer || (quick && answer == ScanLine::Heard::late_answer)) {
        heard.push_back(static_cast<std::uint8_t>(address));
      }
    }
  }
  const std::vector<std::uint8_t> found =
      quick && !heard.empty() && !context.interrupted() ? confirmed(context, heard, asked) : heard;
  // The progress line goes as it came: a terminal's next line starts clean.
  if (context.progress) context.err << "\r" << std::string(60, ' ') << "\r" << std::flush;

  if (options.json) {
    context.out << json_text({{"addresses", found}}) << '\n';
  } else {
    for (const std::uint8_t board : found) context.out << int(board) << '\n';
  }
  context.out << std::flush;
  if (address <= options.scan_to) {
    return fail(context, ExitCode::Interrupted,
                "the scan was cut short before address " + std::to_string(address));
  }
  if (context.interrupted()) {
    return fail(context, ExitCode::Interrupted,
                "the scan was cut short while it asked the boards heard once more");
  }
  if (found.empty()) {
    return fail(context, ExitCode::NoAnswer,
                "no board answered at addresses " + std::to_string(options.scan_from) + " to " +
                    std::to_string(options.scan_to) + on_line(context));
  }
  return exit_status(ExitCode::Done);
}

int bus_status(CtlContext& context) {
  const auto& addresses = context.options.addresses;
  std::map<std::uint8_t, RelayMask> answers;
  std::vector<std::uint8_t> silent;
  LineDriver& driver = context.line;
  driver.answered = [&](std::uint8_t address, std::uint16_t opened) {
    answers.emplace(address, opened);
  };
  driver.lost = [&](std::uint8_t address) {
    if (answers.count(address) == 0) silent.push_back(address);
  };
  driver.run_until([&] { return answers.size() + silent.size() >= addresses.size(); },
                   context.wait.now() + time_to_lose(addresses.size()));
  driver.settle();

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
      context.out << json_text({{"address", address}, {"error", "no answer"}}) << '\n';
    }
  }
  context.out << std::flush;
  if (silent.empty()) return exit_status(ExitCode::Done);
  return fail(context, ExitCode::NoAnswer,
              std::string(silent.size() == 1 ? "board " : "boards ") + address_list_text(silent) +
                  " did not answer" + (silent.size() == addresses.size() ? on_line(context) : ""));
}

int bus_watch(CtlContext& context) {
  const CtlOptions& options = context.options;
  // One board's lines do not name it.
  const bool one_board = options.addresses.empty();
  const std::vector<std::uint8_t> addresses = polled_addresses(options);
  std::map<std::uint8_t, std::optional<RelayMask>> states;
  std::map<std::uint8_t, ChangeLines> lines;
  for (const std::uint8_t address : addresses) {
    lines.emplace(address, ChangeLines(one_board ? -1 : address));
  }
  bool any_answer = false;
  // One board is watched as the panel watches it: polled every period, silent or not,
  // and unknown after the poll cycle's watchdog ticks and the one that finds it silent.
  LineTiming timing;
  if (one_board) {
    timing.longest_poll_interval = PollCycle::period;
    timing.misses_until_unknown = PollCycle::watchdog_ticks + 1;
  }
  LineDriver& driver = context.line;
  driver.line().engine().set_timing(timing);
  driver.answered = [&](std::uint8_t address, std::uint16_t opened) {
    states[address] = opened;
    any_answer = true;
  };
  driver.lost = [&](std::uint8_t address) { states[address].reset(); };
  // The first answer starts the output; a line on which every board is silent is none.
  const auto first_within = VerifiedSwitch::query_attempts * options.timeout;
  if (!driver.run_until(
          [&] { return any_answer || context.interrupted(); },
          context.wait.now() + (one_board ? first_within : time_to_lose(addresses.size()))) ||
      (!any_answer && !context.interrupted())) {
    return fail(context, ExitCode::NoAnswer,
                one_board ? "the board did not answer within " +
                                std::to_string(first_within.count()) + " ms" + on_line(context)
                          : "no board answered at addresses " + address_list_text(addresses) +
                                on_line(context));
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
  driver.settle();
  return exit_status(ExitCode::Done);
}
