#include "board_session.h"

#include <algorithm>
#include <bit>

#include "ctl_output.h"
#include "line/interlock.h"

using std::chrono::milliseconds;

namespace {

std::string ms_text(EventWait::Clock::duration duration) {
  return std::to_string(std::chrono::ceil<milliseconds>(duration).count()) + " ms";
}

Event::Time wall_now() {
  return std::chrono::time_point_cast<milliseconds>(std::chrono::system_clock::now());
}

}  // namespace

BoardSession::BoardSession(LineDriver& line, std::uint8_t address, milliseconds timeout,
                           std::function<bool()> interrupted)
    : line_(line),
      wait_(line.wait()),
      address_(address),
      timeout_(timeout),
      interrupted_(std::move(interrupted)) {
  line_.line().engine().set_timing(
      LineTiming::with_answer_timeout(timeout, LineTiming::Asking::once));
  line_.answered = [this](std::uint8_t address, std::uint16_t opened) {
    outcome_ = opened;
    if (recorder_) recorder_->reported(address, opened, wall_now());
  };
  line_.missed = [this](std::uint8_t) { outcome_ = std::optional<RelayMask>(); };
  line_.late = [this](std::uint8_t, EventWait::Clock::duration waited) {
    latest_ = std::max(latest_, waited);
  };
}

BoardSession::~BoardSession() {
  line_.answered = {};
  line_.missed = {};
  line_.late = {};
}

std::optional<RelayMask> BoardSession::read_states() {
  std::optional<RelayMask> opened;
  const QueuedSwitch query{address_, BoardCommand::QueryStatus, 0x00, 0x00};
  for (int attempt = 0; attempt < VerifiedSwitch::query_attempts && !opened && !interrupted();
       ++attempt) {
    opened = exchange(query, true, who_);
  }
  // A late answer still on its way would reach whoever asks next: the next program to
  // open the port.
  settle();
  return opened;
}

Outcome BoardSession::drive(RelayMask relays, bool opened) {
  VerifiedSwitch driven(address_, relays, opened);
  return run(driven);
}

Outcome BoardSession::pulse(RelayMask relays, milliseconds hold, bool inverse) {
  // A pulse longer than a relay may stay on is refused before anything goes on the line.
  if (!inverse) {
    if (const auto refusal = line_.line().engine().pulse_refusal(address_, relays, hold)) {
      refused_ = refusal->reason;
      if (recorder_) {
        for (int relay = 1; relay <= relay_count; ++relay) {
          if (relays & relay_bit(relay))
            recorder_->refused(address_, relay, who_, *refused_, wall_now());
        }
      }
      return {ExitCode::Usage, "not switched: " + *refused_};
    }
  }
  VerifiedSwitch pulsed(address_, relays, !inverse, hold);
  switching_ = false;
  Outcome outcome = run(pulsed);
  // Silence once switching has begun leaves the pulse's end unknown: the relays may
  // still be as the pulse put them, and nothing here will put them back.
  if (outcome.code == ExitCode::NoAnswer && switching_) {
    // A silent board's message names the line already; a late one's does not.
    const bool late = latest_ > EventWait::Clock::duration::zero();
    std::string why = pulsed.cut_short() ? "the pulse was cut short, and " : "";
    why += outcome.message + (late ? on_line() : "");
    return {ExitCode::MayBeLeftOn,
            relay_list(relays) + " may be left " + (inverse ? "off" : "on") + ": " + why};
  }
  if (!pulsed.cut_short()) return outcome;
  if (outcome.code != ExitCode::Done) {
    outcome.message = "the pulse was cut short, and " + outcome.message;
    return outcome;
  }
  return {ExitCode::Interrupted, "the pulse was cut short after " + ms_text(pulsed.held()) +
                                     " of " + ms_text(hold) + ": " + relay_list(relays) +
                                     (std::popcount(relays) > 1 ? " are " : " is ") +
                                     (inverse ? "opened" : "closed") + " again"};
}

Outcome BoardSession::run(VerifiedSwitch& run) {
  while (true) {
    if (interrupted()) run.interrupt(wait_.now());
    const VerifiedSwitch::Step step = run.next(wait_.now());
    if (step.request) {
      if (step.request->command != BoardCommand::QueryStatus) switching_ = true;
      // A phase's switches are one command: nothing of it goes when any part is refused.
      if (!step.command.empty() && refuses({step.command})) break;
      // A pulse's end is the pulse's doing, as the bridge records it too.
      const SwitchSource end{"pulse", who_.who, run.cut_short() ? "cut short" : ""};
      const auto opened =
          exchange(*step.request, !run.switching(), run.switching_back() ? end : who_);
      // What the rules refuse is not tried again: the command ends with their words.
      if (refused_) break;
      // Interrupted before the first switch, it switches nothing, whatever the answer.
      if (interrupted()) run.interrupt(wait_.now());
      run.answered(opened, wait_.now());
    } else if (step.wait_until) {
      wait_.wait_until([&] { return interrupted(); }, *step.wait_until);
    } else {
      break;
    }
  }
  settle();
  if (refused_) return {ExitCode::Usage, "not switched: " + *refused_};
  switch (run.result()) {
    case VerifiedSwitch::Result::done:
      return {};
    case VerifiedSwitch::Result::no_answer:
      return no_answer();
    case VerifiedSwitch::Result::not_switched:
      return {ExitCode::Interrupted, "interrupted before any relay was switched"};
    case VerifiedSwitch::Result::not_reached:
      break;
  }
  const bool opened = run.missed_opened();
  return {ExitCode::NotReached, relay_list(run.missed()) + " did not " +
                                    (opened ? "open" : "close") + " (the board still reports " +
                                    (opened ? "closed" : "opened") + ")"};
}

bool BoardSession::refuses(const SwitchCommand& command) {
  const auto refusal = line_.line().engine().against_rules(command);
  if (!refusal) return false;
  refused_ = refusal->reason;
  if (recorder_) {
    for (const QueuedSwitch& frame : command.frames) {
      recorder_->refused(frame.address,
                         frame.command == BoardCommand::SetAllRelays ? 0 : frame.data2, who_,
                         refusal->reason, wall_now());
    }
  }
  return true;
}

std::optional<RelayMask> BoardSession::exchange(const QueuedSwitch& request, bool may_stop,
                                                const SwitchSource& by) {
  outcome_.reset();
  const LineEngine& engine = line_.line().engine();
  if (const auto refusal = line_.line().command({{request}}, wait_.now())) {
    if (refusal->why == SwitchRefusal::Why::against_rules) {
      refused_ = refusal->reason;
      if (recorder_) {
        recorder_->refused(request.address,
                           request.command == BoardCommand::SetAllRelays ? 0 : request.data2, who_,
                           refusal->reason, wall_now());
      }
    }
    return std::nullopt;
  }
  if (recorder_ && request.command != BoardCommand::QueryStatus) {
    const auto relays = request.command == BoardCommand::SetAllRelays
                            ? std::uint16_t{0xFFFF}
                            : static_cast<std::uint16_t>(1u << ((request.data2 - 1) & 15));
    recorder_->commanded(request.address, relays,
                         opened_after(request.command, request.data1, request.data2, 0), by,
                         wall_now());
  }
  // The request waits at most for the last one's late answer, then for its own.
  const auto deadline = wait_.now() + engine.timing().late_limit + engine.timing().answer_timeout;
  line_.run_until([&] { return outcome_.has_value() || (may_stop && interrupted()); }, deadline);
  return outcome_ ? *outcome_ : std::nullopt;
}

void BoardSession::settle() {
  const LineEngine& engine = line_.line().engine();
  line_.run_until([&] { return !engine.busy() && engine.queued() == 0; },
                  wait_.now() + engine.timing().late_limit + engine.timing().answer_timeout);
}

Outcome BoardSession::no_answer() const {
  if (latest_ > EventWait::Clock::duration::zero()) {
    // A timeout half as long again as the slowest answer, in whole tenths of a second.
    const auto enough = (std::chrono::ceil<milliseconds>(latest_).count() * 3 / 2 + 99) / 100 * 100;
    return {ExitCode::NoAnswer, "the board answered late: " + ms_text(latest_) +
                                    " after the request, beyond the --timeout of " +
                                    ms_text(timeout_) + " (try --timeout " +
                                    std::to_string(enough) + ")"};
  }
  return {ExitCode::NoAnswer, "the board did not answer within " + ms_text(timeout_) + " (" +
                                  std::to_string(VerifiedSwitch::query_attempts) + " tries)" +
                                  on_line()};
}

std::string BoardSession::on_line() const {
  return line_name_.empty() ? "" : " on " + line_name_;
}
