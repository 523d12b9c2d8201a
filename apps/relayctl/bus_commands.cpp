#include "bus_commands.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "common/address_list.h"
#include "common/text_number.h"
#include "ctl_output.h"
#include "line_driver.h"
#include "link/verified_switch.h"
#include "panel_core/poll_cycle.h"

namespace {

using Clock = EventWait::Clock;

int fail(CtlContext& context, ExitCode code, const std::string& message) {
  context.host.tell(exit_status(code), message, context.options.json);
  return exit_status(code);
}

// Long enough for every board of the list to miss its answers in turn until it counts
// as lost, with room for a loaded machine.
Clock::duration time_to_lose(std::size_t boards) {
  return static_cast<int>(boards) * LineEngine::misses_until_unknown *
             (PollCycle::period + LineEngine::answer_timeout) +
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
  // Nothing is polled: the scan's own queries are all that goes on the line, and a late
  // answer is never credited to the next address.
  LineDriver line(context.core.port(), context.wait, {},
                  LineTiming{options.timeout, late_limit(options.timeout)});
  bool answered = false;
  bool missed = false;
  line.answered = [&](std::uint8_t, std::uint16_t) { answered = true; };
  line.missed = [&](std::uint8_t) { missed = true; };

  std::vector<std::uint8_t> found;
  const int count = options.scan_to - options.scan_from + 1;
  int address = options.scan_from;
  for (; address <= options.scan_to && !context.interrupted(); ++address) {
    if (context.progress) {
      context.err << "\rscanning address " << address << " (" << address - options.scan_from + 1
                  << " of " << count << "), " << found.size() << " found" << std::flush;
    }
    answered = false;
    missed = false;
    if (line.bus().queue_switch(static_cast<std::uint8_t>(address), BoardCommand::QueryStatus, 0x00,
                                0x00)) {
      break;
    }
    line.run_until([&] { return answered || missed || context.interrupted(); },
                   context.wait.now() + options.timeout + late_limit(options.timeout));
    if (answered) found.push_back(static_cast<std::uint8_t>(address));
  }
  // The last late answer goes to nobody else either.
  line.run_until([&] { return !line.bus().busy(); },
                 context.wait.now() + late_limit(options.timeout));
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
  LineDriver driver(context.core.port(), context.wait, addresses);
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
  const CtlOptions& options = context.options;
  // One board's lines do not name it.
  const bool one_board = options.addresses.empty();
  const std::vector<std::uint8_t> addresses =
      one_board
          ? std::vector{static_cast<std::uint8_t>(text_to_int16(options.address_text).value_or(0))}
          : options.addresses;
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
  LineDriver driver(context.core.port(), context.wait, addresses, timing);
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
                                std::to_string(first_within.count()) + " ms"
                          : "no board answered at addresses " + address_list_text(addresses));
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
