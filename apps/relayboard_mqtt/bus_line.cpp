#include "bus_line.h"

#include <utility>

#include "line/interlock.h"

BusLine::BusLine(DaemonHost& host, const std::filesystem::path& link_folder, LineChoice choice,
                 std::vector<std::uint8_t> addresses, std::chrono::milliseconds answer_timeout,
                 LogLine log, LogLine warn)
    // The com<n> links serve port numbers only: a device named by its path needs no
    // folder, and its failed open then offers no link to make.
    : port_(host.serial_port(choice.device ? std::filesystem::path() : link_folder)),
      // A late answer is awaited, never taken for the next board's (LineTiming).
      line_(*port_.port, std::move(addresses), LineTiming::with_answer_timeout(answer_timeout)),
      choice_(std::move(choice)),
      log_(std::move(log)),
      warn_(std::move(warn)),
      // A coarse timer may fire 5% late: the line's 50 ms rhythm needs the precise kind.
      step_timer_(host.timer([this] { step(); }, true)),
      open_timer_(host.timer(
          [this] {
            try_open();
            if (!open_) open_timer_->start(open_retry);
          },
          false)) {
  // The bridge owns its line: the boards' on_start and on_stop states hold.
  line_.engine().set_owner(true);
  SerialPort& port = *port_.port;
  port.set_receive_handler([this] {
    line_.on_receive(Clock::now());
    step();
  });
  if (choice_.device) {
    port.select_device(*choice_.device);
    name_ = *choice_.device;
  } else {
    port.select_port(choice_.port.value_or(1));
    name_ = "port " + std::to_string(choice_.port.value_or(1));
  }
}

void BusLine::start() {
  try_open();
  if (!open_) open_timer_->start(open_retry);
}

void BusLine::try_open() {
  const OpenResult result = port_.port->open();
  if (!result.ok) {
    // The panel's own diagnosis, said once for as long as it stays the same.
    const std::string device = result.device.empty() ? "no device" : result.device;
    const std::string failure = name_ == result.device ? device : name_ + " (" + device + ")";
    const std::string text = failure + " could not be opened: " + result.reason;
    if (text != last_failure_) warn_(text + "; trying again every second");
    last_failure_ = text;
    return;
  }
  open_timer_->stop();
  open_ = true;
  last_failure_.clear();
  if (!choice_.device) name_ += " (" + result.device + ")";
  port_.port->set_receive_threshold(static_cast<int>(frame_size));
  log_("serial line " + name_ + " open" + (result.notice.empty() ? "" : ": " + result.notice));
  step();
}

std::optional<SwitchRefusal> BusLine::command(const SwitchCommand& command, Clock::time_point now) {
  const auto refusal = line_.command(command, now);
  if (!refusal) step();
  return refusal;
}

void BusLine::end_pulses(Clock::time_point now) {
  line_.end_pulses(now);
  if (open_) step();
}

void BusLine::close() {
  open_timer_->stop();
  step_timer_->stop();
  line_.engine().reset();
  port_.port->close();
  open_ = false;
}

void BusLine::close_when_sent(std::chrono::milliseconds patience, std::function<void()> done) {
  closed_ = std::move(done);
  close_by_ = Clock::now() + patience;
  if (open_) line_.engine().release_line();
  step();
}

void BusLine::step() {
  const auto now = Clock::now();
  const LineEngine& engine = line_.engine();
  if (closed_ && (!open_ || now >= close_by_ ||
                  (engine.queued() == 0 && !engine.busy() && !engine.rule_switch_waiting() &&
                   unconfirmed().empty() && pulses_unconfirmed(true).empty()))) {
    if (open_) {
      for (const auto& [address, relays] : unconfirmed()) {
        if (relays != 0)
          warn_("board " + std::to_string(address) + " " + relays_text(relays) + " may be left on");
      }
      for (const auto& [address, relays] : pulses_unconfirmed(true)) {
        warn_("board " + std::to_string(address) + " " + relays_text(relays) + " may be left off");
      }
    }
    close();
    std::exchange(closed_, {})();
    return;
  }
  if (!open_) return;
  notice_device();
  const auto due = line_.step(now);
  tell_owed();
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
  step_timer_->start(std::max(wait, std::chrono::milliseconds(0)));
}

std::map<std::uint8_t, std::uint16_t> BusLine::unconfirmed() const {
  auto left = line_.engine().unconfirmed("on_stop");
  for (const auto& [address, relays] : line_.engine().unconfirmed("max_on"))
    left[address] |= relays;
  for (const auto& [address, relays] : pulses_unconfirmed(false)) left[address] |= relays;
  return left;
}

std::map<std::uint8_t, std::uint16_t> BusLine::pulses_unconfirmed(bool back_opened) const {
  std::map<std::uint8_t, std::uint16_t> left;
  for (const OwedState::PulseEnd& pulse : line_.owed().pulses) {
    if (pulse.back_opened != back_opened) continue;
    left[pulse.address] |= static_cast<std::uint16_t>(1u << (pulse.relay - 1));
  }
  return left;
}

void BusLine::notice_device() {
  if (port_.device_lost() == lost_) return;
  lost_ = !lost_;
  (lost_ ? warn_
         : log_)("serial line " + name_ + (lost_ ? " lost; looking for it every second" : " back"));
  line_.set_device_lost(lost_);
}

void BusLine::tell_owed() {
  if (!on_owed) return;
  OwedState owed = line_.owed();
  if (owed == told_owed_) return;
  told_owed_ = std::move(owed);
  on_owed(told_owed_);
}
