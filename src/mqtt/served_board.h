#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mqtt/mqtt_client.h"
#include "mqtt/line_map.h"
#include "mqtt/served_line.h"

// The panel's view of a line that relayboard-mqtt serves, one board at a time: the
// followed board's 16 states told as they arrive, but only while the broker, the bridge
// and the board are online, so that an outage shows the relays unknown as a silent
// board does; its names; and the panel's switches (P/L/A/R/set, P/L/A/all/set) and
// renames sent to the bridge at once, with the bridge's refusals.
//
// One object per broker session. The host owns the MQTT link and the event loop: it
// feeds the broker's events in and runs what `Later` hands it from its loop.
class ServedBoard {
 public:
  using Later = std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;

  ServedBoard(MqttClient& client, ServedLineAddress line, std::function<bool()> broker_up,
              Later later);
  // A rename still waiting is answered as failed.
  ~ServedBoard();
  ServedBoard(const ServedBoard&) = delete;
  ServedBoard& operator=(const ServedBoard&) = delete;

  // The broker's events.
  void connected();
  void received(const MqttMessage& message);
  void subscribed(const std::string& pattern, bool granted);
  void publish_refused(const std::string& topic, const std::string& reason);

  // Makes `address` the followed board, and tells its states again if the broker's
  // connection changed them.
  void follow(std::uint8_t address);
  // The followed board's states, from the broker's events and from follow(): its 16
  // states, or nothing while they are unknown. Told when they change.
  std::function<void(std::uint8_t address, std::optional<std::uint16_t> opened)> on_states;
  // Switches relay `relay` (0 for all) of board `address`, which it follows from now on.
  void switch_relays(std::uint8_t address, int relay, bool on);

  // The followed board's names as the bridge last published them.
  std::optional<ServedLine::Names> names(std::uint8_t address) const;
  // The followed board's names arrived or changed.
  std::function<void()> on_names;
  // A switch sent from here that the bridge did not carry out (its rules refused it, the
  // board did not answer) or that the broker did not allow: relay 0 for all relays, and
  // the bridge's or the broker's words. Told from the host's loop.
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
  void tell_states();
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
  std::unique_ptr<ServedLine> board_;  // the board the panel follows now
  std::uint8_t board_address_ = 0;
  // The followed board's states as last told; nothing before the first telling.
  std::optional<std::optional<std::uint16_t>> told_;
  // The last switch sent, until the bridge or the broker has answered for it.
  std::string switch_topic_;
  SwitchRefusal switch_;
  std::unique_ptr<ServedLine> renamer_;  // the board of the latest rename
  std::uint8_t renamer_address_ = 0;
  std::function<void(const ServedOutcome&)> rename_done_;
  std::uint64_t renames_ = 0;  // counts renames, so that an old one's deadline is dropped
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

inline constexpr std::string_view broker_silent = "the broker did not answer";
