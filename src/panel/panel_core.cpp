#include "panel/panel_core.h"

#include "line/rules_file.h"
#include "names/disk_file.h"

PanelCore::PanelCore(const PanelHost& host, std::filesystem::path name_file)
    : port_(host.port),
      indicators_(host.indicators),
      poll_(host.port, *this, host.address, *this),
      port_control_(host.port, *this, host.view, host.messages),
      name_file_(std::move(name_file), profile_store_, host.messages, host.names),
      rename_(name_file_.path(), profile_store_),
      names_(name_file_, rename_, host.names),
      messages_(host.messages) {
  // Every host starts with the relays unknown, as the window shows them at creation.
  shown_.fill(IndicatorState::Unknown);
  // The rules beside the name file are read at each open, so that an edit counts at the
  // next; a file with a fault keeps the line closed rather than run without them.
  port_control_.set_open_check([this]() -> std::optional<std::string> {
    auto rules = read_rules(name_file_.path().parent_path());
    if (auto* why = std::get_if<std::string>(&rules)) return *why;
    poll_.line().set_rules(std::get<LineRules>(std::move(rules)));
    return std::nullopt;
  });
  poll_.set_refusal_handler([this](const std::string& why, const std::string& control) {
    messages_.show({"Not switched: " + why, control, MessageIcon::Warning});
  });
  port_.set_receive_handler([this] { on_receive(comm_event_receive); });
  port_control_.set_opened_line([this](const std::string& line) {
    if (recorder_) {
      const bool followed = board_line_ && board_line_->board_level();
      recorder_->set_line(
          line, followed ? EventRecorder::Reports::late : EventRecorder::Reports::in_turn);
    }
    // A served line is its bridge's: the panel gives its boards no state of its own,
    // and what stays on too long is the bridge's to end, by its rules. The interlocks
    // still refuse a click here at once.
    const bool served = line_is_ours_ && !line_is_ours_();
    poll_.line().set_owner(release_wait_ && !served);
    recall_owed(release_wait_ && !served ? line : std::string());
    if (served) {
      LineRules rules = poll_.line().rules();
      for (auto& each : rules.boards) each.second.max_on = {};
      poll_.line().set_rules(std::move(rules));
    }
    // A board-level line's tick follows the addressed board: from the open, not a tick later.
    if (board_line_ && board_line_->board_level()) poll_.tick();
  });
}

PanelCore::~PanelCore() {
  poll_.set_recorder(nullptr, {});
  names_.set_line_names(nullptr);
  use_board_line(nullptr);
  port_.set_receive_handler({});
  if (port_.is_open()) port_.close();
}

void PanelCore::own_lines(EventWait& wait, std::function<bool()> line_is_ours) {
  release_wait_ = &wait;
  line_is_ours_ = std::move(line_is_ours);
  port_control_.set_before_close([this] { release_line(); });
}

void PanelCore::use_board_line(FollowedLine* line) {
  if (board_line_) {
    board_line_->set_refusal_handler({});
    board_line_->set_states_handler({});
  }
  board_line_ = line;
  poll_.use_board_line(line);
  if (!line) return;
  line->set_states_handler([this](std::uint8_t address, std::optional<std::uint16_t> opened) {
    handled([&] { poll_.served_states(address, opened); });
  });
  line->set_refusal_handler([this](const LineRefusal& refusal) {
    // Captioned by the control that sends such a switch, as a refusal here would be.
    messages_.show({"Not switched: " + refusal.reason,
                    PollCycle::control_name(refusal.relay, refusal.on), MessageIcon::Warning});
  });
}

void PanelCore::release_line() {
  if (!release_wait_ || !port_.is_open() || !poll_.line().release_line()) return;
  // One frame at a time, each answered (or given up) before the next, as the tick does.
  LineEngine& line = poll_.line();
  const auto deadline = release_wait_->now() + release_patience;
  while (release_wait_->now() < deadline) {
    release_wait_->wait_until([&line] { return !line.busy(); }, deadline);
    if (line.busy() || !poll_.send_rule_switch()) break;
  }
  release_wait_->wait_until([&line] { return !line.busy(); }, deadline);
}

void PanelCore::set_event_sink(EventSink& sink, SwitchSource who) {
  recorder_ = std::make_unique<EventRecorder>(sink, "");
  poll_.set_recorder(recorder_.get(), std::move(who));
}

void PanelCore::write(std::span<const std::uint8_t> bytes) {
  port_.write(bytes);
  if (watcher_) watcher_->frame_written(bytes);
}

void PanelCore::paint(int relay, IndicatorState state) {
  shown_.at(static_cast<std::size_t>(relay - 1)) = state;
  // Only a valid status frame paints relays opened or closed.
  if (state == IndicatorState::Opened || state == IndicatorState::Closed) painted_states_ = true;
  indicators_.paint(relay, state);
}

void PanelCore::on_receive(int event_code) {
  handled([&] { poll_.on_receive(event_code); });
  keep_owed();
}

void PanelCore::recall_owed(const std::string& line) {
  const auto folder = name_file_.path().parent_path();
  owed_file_.clear();
  told_owed_.clear();
  owed_text_.clear();
  owed_fault_shown_ = false;
  if (line.empty() || folder.empty()) return;
  owed_file_ = folder / owed_state_file_name(line);
  // The engine counts in ticks: one reading of both per open keeps every time written the
  // same, and reads the last run's times back onto the ticks.
  owed_anchor_ = {std::chrono::system_clock::now(), poll_.tick_time()};
  auto read = read_owed_file(owed_file_, owed_anchor_);
  if (const auto* why = std::get_if<std::string>(&read)) {
    messages_.show({*why, "open com", MessageIcon::Warning});
    return;
  }
  auto* owed = std::get_if<OwedFile>(&read);
  if (!owed) return;
  owed_text_ = std::move(owed->text);
  poll_.line().recall_on(owed->state.on, poll_.tick_time());
  told_owed_ = poll_.line().owed_on();
}

void PanelCore::keep_owed() {
  if (owed_file_.empty()) return;
  auto owed = poll_.line().owed_on();
  if (owed == told_owed_) return;
  told_owed_ = std::move(owed);
  std::string text = owed_state_text({told_owed_, {}}, owed_anchor_);
  if (text == owed_text_) return;
  const auto error = replace_file_atomically(owed_file_, text);
  // Told once per open: a folder that cannot be written must not bury the operator.
  if (error && !owed_fault_shown_) {
    messages_.show({owed_file_.string() + ": not written: " + error.message(), "open com",
                    MessageIcon::Warning});
    owed_fault_shown_ = true;
  }
  owed_text_ = std::move(text);
}

void PanelCore::handled(const std::function<void()>& paint) {
  painted_states_ = false;
  paint();
  const bool answered = painted_states_;
  if (answered) ++answers_;
  if (watcher_) watcher_->receive_handled(poll_, answered);
}
