#include "bridge_daemon.h"

#include <algorithm>
#include <chrono>

#include "bridge/line_claim.h"
#include "line/owed_state.h"
#include "line/rules_file.h"
#include "mqtt/bridge_topics.h"
#include "names/disk_file.h"
#include "names/state_folder.h"
#include "serial/port_device.h"
#include "settings/file_trust.h"
#include "settings/settings_files.h"

void LoggedMessages::show(const Message& message) {
  // The one message without an icon is the news of a new file, which does not name it.
  if (message.icon == MessageIcon::None) {
    log_(name_file.string() + ": " + message.text + " with the default names");
    return;
  }
  log_("name file: " + message.text);
}

BridgeDaemon::BridgeDaemon(DaemonHost& host, BridgeOptions options,
                           std::filesystem::path program_dir, LogLine log, LogLine warn)
    : host_(host),
      options_(std::move(options)),
      program_dir_(std::move(program_dir)),
      log_(std::move(log)),
      warn_(warn ? std::move(warn) : log_),
      messages_(warn_),
      timetable_timer_(host.timer([this] { run_timetable(); }, false)),
      discovery_timer_(host.timer([this] { core_->send_held_discovery(); }, false)) {}

// The line goes first: it reports to the core.
BridgeDaemon::~BridgeDaemon() {
  name_watcher_.reset();
  line_.reset();
  core_.reset();
  link_.reset();
}

std::optional<BridgeDaemon::StartFailure> BridgeDaemon::start() {
  // The name file and the com<n> links are found by the panel's own rule; without a
  // usable folder the bridge runs with the default names and no links, as the panel does.
  StateFolder state;
  const StateFolderChoice choice = find_state_folder(program_dir_, options_.names);
  if (const auto* found = std::get_if<StateFolder>(&choice)) {
    state = *found;
  } else {
    warn_("no name file: " + state_folder_message(std::get<StateFolderProblem>(choice)).text);
  }
  messages_.name_file = state.name_file;
  state_folder_ = state.folder;
  // The rules beside the name file hold for every switch; a fault stops the start rather
  // than serve the line without them.
  auto rules = read_rules(state.folder);
  if (const auto* why = std::get_if<std::string>(&rules)) return StartFailure{*why, true};
  // So do the event log's limits: a log kept otherwise than the operator wrote would
  // lose what they meant to keep, or keep what they meant to drop.
  auto limits = state.folder.empty() ? EventLogLimits{} : read_log_limits(state.folder);
  if (const auto* why = std::get_if<std::string>(&limits)) return StartFailure{*why, true};
  name_file_ = std::make_unique<NameFile>(state.name_file, profile_store_, messages_, name_view_);
  // Watched before the first read, so that no change falls between the two; the news
  // comes from the event loop, once everything below is in place.
  name_watcher_ = host_.watch_names(state.name_file, [this] { look_at_names(); });
  name_file_->open_or_create();
  BridgeNames names = name_view_.read(*name_file_, options_.addresses);

  const BridgeTopics topics(options_.prefix, options_.line, options_.discovery_prefix);
  link_ = host_.broker_link(broker_settings(options_, topics.bridge_status(), BridgeCore::offline),
                            log_);
  link_->warn = warn_;
  held_ = std::make_unique<HeldClient>(*link_);
  BridgeSettings settings = bridge_settings(options_, RELAYBOARD_MQTT_VERSION);
  settings.line_device =
      options_.device ? *options_.device : port_device(*options_.port, state.folder).value_or("");
  remembered_ = recall_schedule();
  settings.schedule_since = remembered_.settled.value_or(settings.schedule_since);
  // An older file without settled-from settled every run before `settled`.
  if (remembered_.settled) {
    settings.schedule_settled_from =
        remembered_.settled_from.value_or(*remembered_.settled - Timetable::remembered);
  }
  settings.schedule_spans = remembered_.spans;
  settings.schedule_paused = remembered_.paused;
  if (options_.web) {
    web_ = host_.web_page(
        options_, topics, *held_,
        [this](const MqttMessage& message) { core_->message(message, BridgeCore::Clock::now()); },
        log_);
    if (web_) web_->names_changed(names);
  }
  line_ = std::make_unique<BusLine>(host_, state.folder, LineChoice{options_.port, options_.device},
                                    options_.addresses, options_.answer_timeout, log_, warn_);
  core_ = std::make_unique<BridgeCore>(
      std::move(settings), web_ ? web_->broker() : *held_, *line_, std::move(names), log_,
      [this](std::uint8_t address, int relay, std::string_view name) {
        RenameAnswer answer =
            rename_relay(name_file_->path(), profile_store_, address, relay, name);
        if (answer.outcome == CommandOutcome::done) answer.names = names_now();
        return answer;
      });
  // The documents an earlier run left are read with the claim, before ours go out.
  claim_.emplace(line_claim_snapshot(topics, options_.client_id, core_->found_patterns()));
  open_event_log(state.folder, std::get<EventLogLimits>(limits));
  follow_events();
  line_->set_rules(std::get<LineRules>(std::move(rules)));
  recall_owed();
  link_->on_connected = [this] {
    if (claim_) return claim_->start(*link_);
    core_->connected();
  };
  link_->on_message = [this](const MqttMessage& message) { take_message(message); };

  if (web_) {
    if (auto failure = web_->start()) return StartFailure{*failure, true};
    core_->page_served(web_->url());
  }
  // What the link refuses at its start is its settings (TLS files, user name, last will).
  if (auto failure = link_->start()) return StartFailure{*failure, true};
  line_->start();
  // The timetable does not wait for the broker: it switches while the broker is away.
  if (!options_.schedule.empty()) run_timetable();
  return std::nullopt;
}

void BridgeDaemon::open_event_log(const std::filesystem::path& folder, EventLogLimits limits) {
  if (folder.empty()) return;
  // Serving the line does not depend on the log: without it the events are still
  // published, and the reason is told once. The options were checked as they were read.
  for (const auto& [key, value] : options_.log_limits) apply_log_limit(limits, key, value);
  auto opened = EventLog::open(folder / event_log_file_name, limits);
  if (const auto* why = std::get_if<std::string>(&opened)) {
    warn_("no event log: " + *why);
    return;
  }
  event_log_ = std::move(std::get<std::unique_ptr<EventLog>>(opened));
  // The page opens with the line's last events from the log, then gets each as it comes.
  if (web_) web_->log_opened(folder / event_log_file_name);
}

void BridgeDaemon::follow_events() {
  core_->on_event = [this](const Event& event) {
    if (event_log_) {
      if (const auto why = event_log_->append(event)) warn_("event not logged: " + *why);
    }
    if (web_) web_->event(event);
  };
}

void BridgeDaemon::stop(std::function<void()> done) {
  name_watcher_.reset();
  timetable_timer_->stop();
  if (core_) core_->shutting_down(BridgeCore::Clock::now());
  if (!link_) {
    done();
    return;
  }
  link_->disconnect(leave_patience, [this, done = std::move(done)] {
    if (!line_) return done();
    line_->close_when_sent(BusLine::stop_patience, done);
  });
}

void BridgeDaemon::take_message(const MqttMessage& message) {
  if (claim_) {
    if (claim_->take(message)) settle_claim();
    return;
  }
  core_->message(message, BridgeCore::Clock::now());
  remember_schedule();  // an entry may have been paused
}

void BridgeDaemon::settle_claim() {
  const BridgeTopics topics(options_.prefix, options_.line, options_.discovery_prefix);
  const auto refusal = line_claim_refusal(claim_->retained(), topics, options_.client_id);
  const auto found = claim_->retained();
  claim_.reset();
  if (!refusal) {
    held_->release();
    core_->connected(found);
    if (core_->discovery_held()) discovery_timer_->start(BridgeCore::discovery_settle);
    return;
  }
  warn_(*refusal + ": not served twice; stop that bridge or give this one another --line");
  name_watcher_.reset();
  link_->disconnect(leave_patience, [this] {
    line_->close();
    if (on_refused) on_refused();
  });
}

void BridgeDaemon::run_timetable() {
  const auto wall = std::chrono::system_clock::now();
  const auto next = core_->run_timetable(wall, BridgeCore::Clock::now());
  remember_schedule();
  // The timer counts on the monotonic clock, which a suspend or a set clock leaves
  // behind: the wall clock is looked at again well within the time a run may be late.
  constexpr auto longest = std::chrono::milliseconds(Timetable::grace) / 2;
  const auto wait = next ? std::chrono::ceil<std::chrono::milliseconds>(*next - wall) : longest;
  timetable_timer_->start(std::clamp(wait, std::chrono::milliseconds(0), longest));
}

ScheduleMemory BridgeDaemon::recall_schedule() {
  if (options_.schedule.empty() || state_folder_.empty()) return {};
  const auto path = state_folder_ / schedule_memory_file_name(options_.line);
  const TrustedText read = read_trusted_file(path, settings_file_byte_limit);
  if (read.absent) return {};
  if (!read.text) {
    warn_(read.reason + "; the timetable starts afresh");
    return {};
  }
  auto memory = parse_schedule_memory(*read.text, path.string());
  if (const auto* fault = std::get_if<std::string>(&memory)) {
    warn_(*fault + "; the timetable starts afresh");
    return {};
  }
  return std::get<ScheduleMemory>(std::move(memory));
}

void BridgeDaemon::remember_schedule() {
  if (options_.schedule.empty() || state_folder_.empty()) return;
  ScheduleMemory memory = core_->schedule_memory();
  if (memory == remembered_) return;
  const auto path = state_folder_ / schedule_memory_file_name(options_.line);
  if (const auto error = replace_file_atomically(path, schedule_memory_text(memory))) {
    warn_(path.string() + ": not written: " + error.message());
  }
  // Tried once per change: a folder that cannot be written does not flood the log.
  remembered_ = std::move(memory);
}

void BridgeDaemon::recall_owed() {
  if (state_folder_.empty()) return;
  const auto path = state_folder_ / owed_state_file_name(options_.line);
  line_->on_owed = [this](const OwedState& owed) { remember_owed(owed); };
  owed_file_ = std::make_unique<FileKeeper>(path, [this, path](std::error_code error) {
    // Told on the event loop, as every other line of the log.
    host_.post([this, path, error] { warn_(path.string() + ": not written: " + error.message()); });
  });
  auto read = read_owed_file(path, anchor_);
  if (const auto* why = std::get_if<std::string>(&read)) return warn_(*why);
  if (auto* owed = std::get_if<OwedFile>(&read)) {
    owed_text_ = std::move(owed->text);
    line_->recall(owed->state);
  }
}

void BridgeDaemon::remember_owed(const OwedState& owed) {
  std::string text = owed_state_text(owed, anchor_);
  if (text == owed_text_) return;
  owed_file_->keep(text);
  owed_text_ = std::move(text);
}

void BridgeDaemon::look_at_names() {
  const NameFileLook look = name_view_.look(*name_file_);
  if (look.news) log_("name file: " + *look.news);
  if (!look.changed) return;
  BridgeNames names = name_view_.read(*name_file_, options_.addresses);
  if (web_) web_->names_changed(names);
  core_->names_changed(std::move(names));
}

BridgeNames BridgeDaemon::names_now() {
  // The look keeps the watcher's next one from taking our own write for news.
  const NameFileLook look = name_view_.look(*name_file_);
  if (look.news) log_("name file: " + *look.news);
  BridgeNames names = name_view_.read(*name_file_, options_.addresses);
  if (web_) web_->names_changed(names);
  return names;
}
