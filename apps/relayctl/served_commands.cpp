#include "served_commands.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <span>

#include "common/duration_text.h"
#include "ctl_output.h"
#include "exit_code.h"
#include "mqtt/served_line.h"
#include "mqtt/served_lines.h"
#include "schedule_command.h"
#include "text/json_text.h"
#include "text/shown_text.h"
#include "text/utf8.h"

namespace {

using Clock = EventWait::Clock;
using std::chrono::milliseconds;

struct Run {
  const CtlOptions& options;
  BrokerConnection& broker;
  EventWait& wait;
  const std::function<bool()>& interrupted;
  std::ostream& out;
  std::ostream& err;

  int fail(ExitCode code, const std::string& message) {
    err << error_line(message, exit_status(code), options.json);
    return exit_status(code);
  }
  bool wait_for(const std::function<bool()>& done, Clock::duration span) {
    return wait.wait_until([&] { return done() || interrupted(); }, wait.now() + span) && done();
  }
  std::string where() const {
    return options.broker_host + ":" + std::to_string(options.broker_port);
  }
  // A broker answers within moments; a board's switch takes a poll or two of the bridge.
  Clock::duration answer_wait() const {
    return std::max<Clock::duration>(std::chrono::seconds(3), options.timeout * 3);
  }
};

std::string presence_word(Presence presence) {
  return presence == Presence::online ? "online" : presence == Presence::offline ? "offline" : "?";
}

int list_lines(Run& run) {
  ServedLines lines(run.broker, *run.options.prefix);
  run.broker.on_subscribed = [&](const std::string& p, bool granted) {
    lines.subscribed(p, granted);
  };
  run.broker.on_message = [&](const MqttMessage& m) { lines.received(m); };
  lines.subscribe();
  if (!run.wait_for([&] { return lines.synced(); }, run.answer_wait())) {
    return run.fail(ExitCode::PortNotOpened, "broker " + run.where() + " did not answer");
  }
  if (lines.refused_subscription()) {
    return run.fail(
        ExitCode::PortNotOpened,
        "not allowed: the broker refused to let this client read " + *lines.refused_subscription());
  }
  for (const auto& [name, line] : lines.lines()) {
    if (run.options.json) {
      Json boards = Json::object();
      for (const auto& [address, presence] : line.boards) {
        boards[std::to_string(address)] = presence_word(presence);
      }
      run.out << json_text({{"line", name},
                            {"status", presence_word(line.bridge)},
                            {"boards", std::move(boards)}})
              << '\n';
      continue;
    }
    // A line's name is a topic level that any client may publish: shown, never obeyed.
    std::string text = shown_text(name) + " " + presence_word(line.bridge) + ":";
    for (const auto& [address, presence] : line.boards) {
      text += ' ' + std::to_string(address) + ' ' + presence_word(presence);
    }
    run.out << text << '\n';
  }
  run.out << std::flush;
  return exit_status(ExitCode::Done);
}

std::optional<RelayNames> relay_names(const ServedLine& line) {
  if (!line.names()) return std::nullopt;
  RelayNames names;
  std::copy(line.names()->relays.begin(), line.names()->relays.end(), names.begin());
  return names;
}

// Waits for what the command sent; its exit status.
int settle(Run& run, ServedLine& line, Clock::duration span, ExitCode failed, const char* doing) {
  run.wait_for([&] { return line.outcome().kind != ServedOutcome::Kind::waiting; }, span);
  const ServedOutcome& outcome = line.outcome();
  switch (outcome.kind) {
    case ServedOutcome::Kind::done:
      return exit_status(ExitCode::Done);
    case ServedOutcome::Kind::not_allowed:
      return run.fail(ExitCode::PortNotOpened, std::string("not allowed: the broker refused the ") +
                                                   doing + " (" + outcome.reason + ")");
    case ServedOutcome::Kind::failed:
      // What the bridge refuses (its rules, a bad command) ends as on a local line.
      return run.fail(outcome.result == "refused" ? ExitCode::Usage : failed,
                      std::string("the ") + doing + " was " + outcome.result +
                          (outcome.reason.empty() ? "" : ": " + outcome.reason));
    case ServedOutcome::Kind::waiting:
      break;
  }
  if (run.interrupted())
    return run.fail(ExitCode::Interrupted, std::string("the ") + doing + " was cut short");
  return run.fail(ExitCode::NoAnswer,
                  std::string("the ") + doing + " was not confirmed within " +
                      std::to_string(std::chrono::duration_cast<milliseconds>(span).count()) +
                      " ms");
}

// A pulse is seen through once each of its relays has been reported opened and closed
// again. The bridge, its board or the broker gone, the deadline passed or the wait cut
// short leave the relays not yet seen closed as they may be: on.
int settle_pulse(Run& run, ServedLine& line, RelayMask relays, Clock::duration span) {
  const auto gone = [&] {
    return !run.broker.connected() || line.bridge() == Presence::offline ||
           line.board() == Presence::offline;
  };
  run.wait_for([&] { return line.outcome().kind != ServedOutcome::Kind::waiting || gone(); }, span);
  const ServedOutcome& outcome = line.outcome();
  const std::string served = " of line " + *run.options.line;
  RelayMask unsure = line.missing();
  std::string why;
  if (outcome.kind == ServedOutcome::Kind::failed && outcome.result == "not done") {
    // Taken and then lost on the way: only an answering board's report of a relay
    // closed tells that the pulse left it so.
    const auto states = line.states();
    unsure = line.board() == Presence::online && states ? relays & *states : relays;
    why = "the pulse was not done (" + outcome.reason + ")";
  } else if (outcome.kind != ServedOutcome::Kind::waiting) {
    unsure = 0;
  } else if (!run.broker.connected()) {
    why = "the connection to broker " + run.where() + " was lost";
  } else if (line.bridge() == Presence::offline) {
    why = "the bridge" + served + " went offline";
  } else if (line.board() == Presence::offline) {
    why = "board " + run.options.address_text + served + " went offline";
  } else if (run.interrupted()) {
    why = "the wait for the pulse's end was cut short (the bridge still ends it)";
  } else {
    why = "the pulse's end was not confirmed within " +
          std::to_string(std::chrono::duration_cast<milliseconds>(span).count()) + " ms";
  }
  if (unsure == 0) return settle(run, line, Clock::duration::zero(), ExitCode::NotReached, "pulse");
  return run.fail(ExitCode::MayBeLeftOn, relay_list(unsure) + " may be left on: " + why);
}

int watch(Run& run, ServedLine& line) {
  ChangeLines lines;
  std::array<IndicatorState, relay_count> shown{};
  const auto print = [&] {
    const auto states = line.states();
    for (int r = 1; r <= relay_count; ++r) {
      shown[static_cast<std::size_t>(r - 1)] =
          !states || line.board() != Presence::online || line.bridge() != Presence::online
              ? IndicatorState::Unknown
          : (*states & relay_bit(r)) ? IndicatorState::Opened
                                     : IndicatorState::Closed;
    }
    const std::string changed =
        lines.take(shown, run.options.json, std::chrono::system_clock::now());
    if (!changed.empty()) run.out << changed << std::flush;
    return !run.out || run.interrupted();
  };
  run.wait.wait_until(print, Clock::time_point::max());
  return exit_status(ExitCode::Done);
}

// The timetable the bridge keeps retained, with its entries' next runs. A subscription's
// retained messages come after its acknowledgement and before the next one's: the
// third subscription's acknowledgement says that the first two's have come.
int show_served_schedule(Run& run) {
  const std::string line_topic = *run.options.prefix + "/" + *run.options.line;
  std::optional<std::string> timetable;
  std::optional<std::string> status;
  std::size_t acknowledged = 0;
  const std::string barrier = line_topic + "/+/result";
  std::optional<std::string> refused;
  run.broker.on_subscribed = [&](const std::string& pattern, bool granted) {
    ++acknowledged;
    if (!granted && !refused && pattern != barrier) refused = pattern;
  };
  run.broker.on_message = [&](const MqttMessage& m) {
    if (m.topic == line_topic + "/schedule" && !m.payload.empty()) timetable = m.payload;
    if (m.topic == line_topic + "/status") status = m.payload;
  };
  run.broker.subscribe(line_topic + "/schedule");
  run.broker.subscribe(line_topic + "/status");
  run.broker.subscribe(barrier);
  if (!run.wait_for([&] { return acknowledged == 3; }, run.answer_wait())) {
    return run.fail(ExitCode::PortNotOpened, "broker " + run.where() + " did not answer");
  }
  if (refused) {
    return run.fail(ExitCode::PortNotOpened,
                    "not allowed: the broker refused to let this client read " + *refused);
  }
  if (status != "online") {
    return run.fail(
        ExitCode::PortNotOpened,
        status ? "line " + *run.options.line + " is served by no bridge now: its bridge is offline"
               : "no bridge serves line " + *run.options.line + " on broker " + run.where());
  }
  // A bridge without a timetable publishes none.
  const auto runs = published_runs(timetable.value_or("{\"entries\":[]}"));
  if (!runs) {
    return run.fail(ExitCode::NoAnswer,
                    "the timetable of line " + *run.options.line + " cannot be read");
  }
  print_runs(*runs, run.options.json, run.out);
  return exit_status(ExitCode::Done);
}

}  // namespace

int run_served(const CtlOptions& options, BrokerConnection& broker, EventWait& wait,
               const std::function<bool()>& interrupted, std::ostream& out, std::ostream& err) {
  Run run{options, broker, wait, interrupted, out, err};
  if (const auto refusal = broker.start()) return run.fail(ExitCode::PortNotOpened, *refusal);
  if (!run.wait_for([&] { return broker.connected(); }, run.answer_wait())) {
    return run.fail(ExitCode::PortNotOpened,
                    "broker " + run.where() + " not reached" +
                        (broker.failure().empty() ? "" : " (" + broker.failure() + ")"));
  }
  if (options.command == CtlCommand::Lines) return list_lines(run);
  if (options.command == CtlCommand::Schedule) return show_served_schedule(run);

  const auto address = static_cast<std::uint8_t>(std::stoi(options.address_text));
  ServedLine line(broker, *options.prefix, *options.line, address);
  broker.on_subscribed = [&](const std::string& p, bool granted) { line.subscribed(p, granted); };
  broker.on_publish_refused = [&](const std::string& t, const std::string& why) {
    line.publish_refused(t, why);
  };
  broker.on_message = [&](const MqttMessage& m) { line.received(m); };
  line.subscribe();
  if (!run.wait_for([&] { return line.synced(); }, run.answer_wait())) {
    return run.fail(ExitCode::PortNotOpened, "broker " + run.where() + " did not answer");
  }
  if (line.refused_subscription()) {
    return run.fail(
        ExitCode::PortNotOpened,
        "not allowed: the broker refused to let this client read " + *line.refused_subscription());
  }
  if (line.bridge() != Presence::online) {
    return run.fail(
        ExitCode::PortNotOpened,
        line.bridge() == Presence::offline
            ? "line " + *options.line + " is served by no bridge now: its bridge is offline"
            : "no bridge serves line " + *options.line + " on broker " + run.where());
  }
  auto names = relay_names(line);
  if (options.command == CtlCommand::Names) {
    if (!names)
      return run.fail(ExitCode::Usage, "the bridge of line " + *options.line +
                                           " publishes no names for board " + options.address_text);
    out << (options.json ? names_json(address, *names) : names_text(*names)) << std::flush;
    return exit_status(ExitCode::Done);
  }
  const RelayNames* shown_names = names ? &*names : nullptr;
  RelayMask relays = 0;
  if (options.command == CtlCommand::Open || options.command == CtlCommand::Close ||
      options.command == CtlCommand::Pulse || options.command == CtlCommand::Rename) {
    const std::size_t words =
        options.command == CtlCommand::Open || options.command == CtlCommand::Close
            ? options.arguments.size()
            : 1;
    const auto selected = select_relays(std::span(options.arguments).first(words), shown_names);
    if (const auto* message = std::get_if<std::string>(&selected))
      return run.fail(ExitCode::Usage, *message);
    relays = std::get<RelayMask>(selected);
  }
  if (options.command == CtlCommand::Rename) {
    const std::string& name = options.arguments[1];
    if (!is_valid_utf8(name))
      return run.fail(ExitCode::Usage, "The name was not stored: it is not UTF-8 text.");
    if (std::popcount(relays) != 1) return run.fail(ExitCode::Usage, "rename takes one relay");
    line.rename(std::countr_zero(relays) + 1, name);
    return settle(run, line, run.answer_wait(), ExitCode::Usage, "rename");
  }
  if (options.command == CtlCommand::Watch) return watch(run, line);
  if (line.board() != Presence::online) {
    // No status at all: the bridge does not serve that address.
    return run.fail(
        ExitCode::NoAnswer,
        "board " + options.address_text + " of line " + *options.line +
            (line.board() == Presence::unknown ? " is not served by its bridge" : " is offline"));
  }
  if (!run.wait_for([&] { return line.states().has_value(); }, run.answer_wait())) {
    return run.fail(ExitCode::NoAnswer,
                    "the bridge has not reported board " + options.address_text + "'s states");
  }
  switch (options.command) {
    case CtlCommand::Status:
      out << (options.json ? status_json(address, *line.states(), shown_names)
                           : status_text(*line.states(), shown_names))
          << std::flush;
      return exit_status(ExitCode::Done);
    case CtlCommand::Open:
    case CtlCommand::Close:
      line.drive(relays, options.command == CtlCommand::Open);
      return settle(run, line, run.answer_wait(), ExitCode::NotReached, "switch");
    case CtlCommand::Pulse: {
      const auto hold = *parse_duration(options.arguments[1]);
      line.pulse(relays, options.arguments[1]);
      return settle_pulse(run, line, relays, hold + run.answer_wait());
    }
    default:
      break;
  }
  return exit_status(ExitCode::Done);
}
