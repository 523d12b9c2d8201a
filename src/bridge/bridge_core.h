#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/bridge_names.h"
#include "bridge/command_result.h"
#include "bridge/discovery.h"
#include "bridge/name_command.h"
#include "bridge/schedule_memory.h"
#include "event_log/event_recorder.h"
#include "line/board_line.h"
#include "mqtt/bridge_topics.h"
#include "mqtt/mqtt_client.h"
#include "protocol/board_command.h"
#include "schedule/timetable.h"

// What the bridge's logic needs of its options.
struct BridgeSettings {
  std::string prefix = "relayboard";
  std::string line;
  std::string discovery_prefix = "homeassistant";
  bool discovery = true;
  std::vector<std::uint8_t> addresses{1};
  std::string version;   // the bridge's, in the info topic and the discovery documents
  bool verbose = false;  // also log every command taken and every state change
  // MQTT 5: a retained command is told apart from a live one and ignored. Without it a
  // live one arrives as any other, and is cleared from the broker once taken.
  bool retain_as_published = true;
  // Published beside the bridge's status: who serves the line.
  std::string client_id{};
  DiscoveryForm discovery_form = DiscoveryForm::device;
  std::chrono::milliseconds button_pulse{1000};
  bool json_state = false;
  std::string support_url{};         // where the discovery documents send a user for help
  std::string board_manufacturer{};  // what the boards' devices say of their make
  std::string board_model = "16-relay board";
  std::string line_device{};  // what the info topic names as the line's device
  std::chrono::milliseconds answer_timeout{0};
  std::vector<TimetableEntry> schedule{};
  // Runs of the timetable after this are owed (the host's start, or when it last ran it),
  // those from schedule_settled_from (else from schedule_since) to it and in
  // schedule_spans are done.
  std::chrono::system_clock::time_point schedule_since{};
  std::optional<std::chrono::system_clock::time_point> schedule_settled_from{};
  std::vector<Timetable::Span> schedule_spans{};
  std::vector<std::string> schedule_paused{};  // the names of the entries paused at start
};

// The bridge between the boards of one line and the broker. It learns the boards' states
// from the line's news, publishes availability, states and discovery, and turns commands
// into commands of the line (which runs their pulses). A command that the line cannot
// take now is refused there and then, never kept for a later open. States are published
// only as the boards report them, never from a command itself, so a state on the broker
// is always one a board said it has.
//
// Plain C++ on the daemon's one thread: the daemon calls connected() when the broker
// (re)connects, message() for each message and shutting_down() before it disconnects; the
// line's news comes through BoardEvents. While the broker is away publish() drops
// everything; connected() publishes the whole picture again.
class BridgeCore : public BoardEvents {
 public:
  using Clock = std::chrono::steady_clock;
  // One event for the log, without the program's name.
  using LogLine = std::function<void(const std::string& line)>;
  // Stores a relay's new name in the name file (rename_relay), with the names it then holds.
  using Rename =
      std::function<RenameAnswer(std::uint8_t address, int relay, std::string_view name)>;

  // Takes the news of `line`, which outlives it. Without `rename`, renames are refused.
  BridgeCore(BridgeSettings settings, MqttClient& client, BoardLine& line, BridgeNames names,
             LogLine log, Rename rename = {});

  // The broker (re)connected: subscribes, then publishes the bridge online, each board's
  // availability, every known state and the discovery documents. The first time, every
  // board goes offline before any other publication: a killed run left its boards online.
  // `found`: the retained messages under found_patterns() before the first session:
  // documents of this line that are no longer published (the other form's, a removed
  // timetable entry's) are cleared before any of ours goes out, so that no entity's id is
  // held by two documents at once.
  void connected(const std::map<std::string, std::string>& found = {});
  // Whether connected() cleared documents and holds ours back: Home Assistant removes an
  // entity a moment after its document is cleared, and one described again before that
  // gets another entity id. The host calls send_held_discovery() after `discovery_settle`.
  bool discovery_held() const { return discovery_held_; }
  static constexpr std::chrono::seconds discovery_settle{2};
  void send_held_discovery();
  // The subscriptions under which the served boards' and the bridge's documents are found.
  std::vector<std::string> found_patterns() const;
  // The web page is served there: the devices' configuration URL.
  void page_served(std::string url) { configuration_url_ = std::move(url); }
  // A message from the broker: a command, the home automation coming online (discovery
  // sent again) or a board status left on the broker (removed when that board is no
  // longer served, with the discovery documents then found for it).
  void message(const MqttMessage& message, Clock::time_point now);
  // The names changed: the names and the discovery documents of the boards concerned are
  // sent again.
  void names_changed(BridgeNames names);
  // The daemon is about to disconnect: the bridge and every board go offline, so that
  // no board reads as online on the broker while nobody watches it. (The last will covers
  // the bridge's own status when the daemon dies instead.) A pulse still running, or
  // owed to a silent board, is ended at once: its OFF is queued on the line.
  void shutting_down(Clock::time_point now);
  // Switches what the timetable says is due at `wall` (the wall clock) as a command would
  // (whether or not the broker is there); returns when it has more to do on the wall clock.
  // The first runs wait up to `first_answers` for every board to answer: at the start the
  // line has not polled them yet, and a run missed meanwhile would be let go.
  static constexpr std::chrono::seconds first_answers{10};
  std::optional<std::chrono::system_clock::time_point> run_timetable(
      std::chrono::system_clock::time_point wall, Clock::time_point now);
  const Timetable& timetable() const { return timetable_; }
  // What a later start needs to know of the timetable.
  ScheduleMemory schedule_memory() const;

  // BoardEvents. The serial line went away: every board offline, its states unknown until
  // it answers again (all 16 are published then).
  void line_lost() override;
  void pulse_end_sent(const PulseRunner::End& end) override;
  void pulse_told(const PulseRunner::Told& news) override;
  void board_answered(std::uint8_t address, std::uint16_t opened) override;
  void board_lost(std::uint8_t address) override;
  void board_late(std::uint8_t address, Clock::duration waited) override;
  void rule_switched(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                     const std::string& why) override;
  void rule_refused(std::uint8_t address, int relay, const std::string& rule,
                    const std::string& why) override;
  void rule_sent_again(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                       const std::string& why, int sends, bool first) override;
  void rule_held(std::uint8_t address, std::uint16_t relays, const std::string& rule,
                 int sends) override;

  // Each event of the line (a switch and who asked for it, a board lost or back, a
  // command the rules refused), after it is published on P/L/A/event: for the event log.
  std::function<void(const Event&)> on_event;

  const BridgeTopics& topics() const { return topics_; }
  // The bridge's last will: its status topic and this payload, retained.
  static constexpr const char* offline = "offline";

 private:
  // The recorder's events go out through the bridge.
  struct EventOut : EventSink {
    explicit EventOut(BridgeCore& core) : core(core) {}
    void record(const Event& event) override { core.event_happened(event); }
    BridgeCore& core;
  };
  // Who the switches queued meanwhile are for: a command's sender, a timetable entry.
  class SourceScope {
   public:
    SourceScope(SwitchSource& current, SwitchSource source)
        : current_(current), saved_(std::exchange(current, std::move(source))) {}
    ~SourceScope() { current_ = std::move(saved_); }
    SourceScope(const SourceScope&) = delete;
    SourceScope& operator=(const SourceScope&) = delete;

   private:
    SwitchSource& current_;
    SwitchSource saved_;
  };
  void event_happened(const Event& event);

  struct Board {
    std::optional<std::uint16_t> opened;  // last reported, nothing while unknown
    bool told_late = false;               // its late answers are logged, until one comes in time
  };

  void command(const CommandTopic& topic, const MqttMessage& message, Clock::time_point now);
  // The switches of a command or a timetable's run, on a board that answers.
  // `relays` (bit r-1 for relay r) switched on or off as one command; all 16 go as one frame.
  std::optional<SwitchRefusal> set_relays(std::uint8_t address, std::uint16_t relays, bool open,
                                          Clock::time_point now);
  // A pulse of each of `relays`, started as one command.
  std::optional<SwitchRefusal> start_pulses(std::uint8_t address, std::uint16_t relays,
                                            std::chrono::milliseconds length,
                                            Clock::time_point now);
  // `caught_up`: the missed runs that this one makes up for.
  void run_entry(const TimetableEntry& entry, Clock::time_point now,
                 const std::optional<Timetable::Missed>& caught_up);
  // A run not made: a line in the log and an event for each relay (one for all).
  void run_not_made(const TimetableEntry& entry, std::string_view verb, const std::string& why,
                    Event::Kind kind);
  // P/L/schedule/N/set: pauses or resumes entry N.
  void schedule_command(std::size_t entry, const MqttMessage& message);
  void publish_schedule_state(std::size_t entry);
  // A retained timetable topic that an earlier run left, of an entry no longer there:
  // cleared. Whether `message` was one of the timetable's topics.
  bool stale_schedule(const MqttMessage& message);
  // The timetable's JSON when it changed, or always after a (re)connection.
  void publish_timetable(bool always = false);
  void rename(const CommandTopic& topic, const MqttMessage& message);
  // The command's answer on its board's result topic (and its response topic).
  void answer(const CommandReply& reply, std::optional<std::uint8_t> address,
              CommandOutcome outcome, const std::string& reason = {});
  void answer(const std::vector<PendingCommands::Settled>& settled);
  void remove_stale_board(std::uint8_t address);
  void publish_states(std::uint8_t address, std::uint16_t opened, std::uint16_t which);
  void publish_discovery(std::uint8_t address);
  void publish_bridge_discovery();
  BoardDescription description(std::uint8_t address) const;
  DeviceFacts facts() const;
  // Whether it cleared any.
  bool clear_left_documents(const std::map<std::string, std::string>& found);
  void publish_all_discovery();
  void publish_names(std::uint8_t address);
  void publish(const std::string& topic, const std::string& payload);
  void log(const std::string& line);
  void note(const std::string& line);  // only when verbose
  Board* board(std::uint8_t address);

  BridgeSettings settings_;
  BridgeTopics topics_;
  MqttClient& client_;
  BoardLine& line_;
  BridgeNames names_;
  LogLine log_;
  Rename rename_;
  std::map<std::uint8_t, Board> boards_;
  PendingCommands pending_;
  bool line_lost_ = false;  // until a board answers again
  bool first_session_ = true;
  bool stopped_ = false;                    // the pulses' last ends are the stop's
  std::vector<std::uint8_t> stale_boards_;  // no longer served, their documents cleared
  std::string configuration_url_;
  bool discovery_held_ = false;
  Timetable timetable_;
  std::optional<Clock::time_point> timetable_started_;  // its first look
  std::optional<Clock::time_point> timetable_looked_;   // its last due()
  std::string timetable_published_;
  SwitchSource source_{"bridge", "", ""};
  EventOut event_out_{*this};
  EventRecorder recorder_{event_out_, topics_.line()};
};
