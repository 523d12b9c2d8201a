#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "mqtt/mqtt_client.h"
#include "mqtt/line_map.h"
#include "mqtt/served_line.h"

// The panel's port on a served line, without its host: the panel's frames are answered
// as the board would answer them, from what the bridge publishes. A frame for board A
// makes A the followed board; any frame for it gets a status frame with the 16 states as
// last reported, but only while the broker, the bridge and board A are online, so that
// the watchdog shows the relays unknown as for a silent board. Switch frames become the
// bridge's commands (P/L/A/R/set, P/L/A/all/set). The followed board's names come with
// it, and renames go to the bridge.
//
// One object per broker session. The host owns the MQTT link and the event loop: it
// feeds the broker's events in and runs what `Later` hands it from its loop, so that
// answers never arrive inside write().
class ServedBoardPort {
 public:
  using Later = std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;

  ServedBoardPort(MqttClient& client, ServedLineAddress line, std::function<bool()> broker_up,
                  Later later);
  // A rename still waiting is answered as failed.
  ~ServedBoardPort();
  ServedBoardPort(const ServedBoardPort&) = delete;
  ServedBoardPort& operator=(const ServedBoardPort&) = delete;

  // The broker's events.
  void connected();
  void received(const MqttMessage& message);
  void subscribed(const std::string& pattern, bool granted);
  void publish_refused(const std::string& topic, const std::string& reason);

  // The port's side.
  void write(std::span<const std::uint8_t> bytes);
  void discard_input() { input_.clear(); }
  std::size_t bytes_waiting() const { return input_.size(); }
  std::optional<std::uint8_t> read_byte();
  void set_receive_threshold(int bytes) { threshold_ = bytes; }
  void set_receive_handler(std::function<void()> handler) { handler_ = std::move(handler); }

  // Makes `address` the followed board, as a frame for it would.
  void follow(std::uint8_t address);
  // The followed board's names as the bridge last published them.
  std::optional<ServedLine::Names> names(std::uint8_t address) const;
  // The followed board's names arrived or changed.
  std::function<void()> on_names;
  // A switch sent from here that the bridge did not carry out (its rules refused it, the
  // board did not answer) or that the broker did not allow: relay 0 for all relays, and
  // the bridge's or the broker's words. Called from the broker's events.
  struct SwitchRefusal {
    int relay = 0;
    bool on = false;
    bool not_allowed = false;  // the broker's refusal, not the bridge's
    std::string reason;
  };
  std::function<void(const SwitchRefusal&)> on_switch_refused;
  // Asks the bridge to rename relay `relay` of board `address`; `done` runs once, from the host's
  // loop: the bridge's result, the broker's refusal, or a failure when the bridge is offline or has
  // not answered within rename_patience.
  void rename(std::uint8_t address, int relay, const std::string& name,
              std::function<void(const ServedOutcome&)> done);

  static constexpr std::chrono::seconds rename_patience{10};

 private:
  void send_command(std::uint8_t address, std::uint8_t command, std::uint8_t data1,
                    std::uint8_t data2);
  void answer(std::uint8_t address);
  // Runs `task` from the host's loop unless this session has ended by then.
  void later(std::chrono::milliseconds delay, std::function<void()> task);
  void finish_rename(const ServedOutcome& outcome);
  // Tells the host, from its loop, that the last switch was refused.
  void switch_refused(std::string reason, bool not_allowed);
  void check_rename();

  MqttClient& client_;
  ServedLineAddress line_;
  std::function<bool()> broker_up_;
  Later later_;
  std::unique_ptr<ServedLine> board_;  // the board the panel addresses now
  std::uint8_t board_address_ = 0;
  std::deque<std::uint8_t> input_;
  // The last switch sent, until the bridge or the broker has answered for it.
  std::string switch_topic_;
  SwitchRefusal switch_;
  std::function<void()> handler_;
  int threshold_ = 1;
  std::unique_ptr<ServedLine> renamer_;  // the board of the latest rename
  std::uint8_t renamer_address_ = 0;
  std::function<void(const ServedOutcome&)> rename_done_;
  std::uint64_t renames_ = 0;  // counts renames, so that an old one's deadline is dropped
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

inline constexpr std::string_view broker_silent = "the broker did not answer";
