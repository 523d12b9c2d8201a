#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "link_win/message_window.h"
#include "mqtt/broker_settings.h"
#include "mqtt/mqtt_client.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

// The broker connection on libmosquitto, driven by the Win32 message loop of the
// program's one thread: the socket reports through WSAAsyncSelect to a message-only
// window (read when the broker sends, write while the library has bytes queued and the
// socket takes them), and a one-second timer keeps the connection alive. A lost
// connection or a failed attempt is tried again after 1, 2, 4 ... 30 seconds; a
// session that came up resets the wait to one second. Plain TCP only: this build of
// the library has no TLS.
class WinMosquittoLink : public MqttClient {
 public:
  using LogLine = std::function<void(const std::string&)>;

  WinMosquittoLink(BrokerSettings settings, LogLine log);
  ~WinMosquittoLink() override;
  WinMosquittoLink(const WinMosquittoLink&) = delete;
  WinMosquittoLink& operator=(const WinMosquittoLink&) = delete;

  // Sets the client up and starts the first connection attempt; the reason when the
  // settings cannot be used at all (TLS files among them).
  std::optional<std::string> start();

  bool publish(const std::string& topic, const std::string& payload, bool retain) override;
  void subscribe(const std::string& pattern) override;

  // Sends what is queued, then a clean disconnect (so no last will), and calls `done`
  // from the message loop once it has left or `patience` has passed; no reconnect after.
  void disconnect(std::chrono::milliseconds patience, std::function<void()> done);

  bool connected() const { return state_ == State::connected; }
  // Whether the broker has acknowledged every publish of this session.
  bool all_acknowledged() const { return unacknowledged_.empty(); }

  std::function<void()> on_connected;
  std::function<void(const MqttMessage&)> on_message;
  // The broker's answer to a subscription, and a publish it refused (MQTT 5 reason codes).
  std::function<void(const std::string& pattern, bool granted)> on_subscribed;
  std::function<void(const std::string& topic, const std::string& reason)> on_publish_refused;

  static constexpr std::chrono::seconds max_backoff{30};

 private:
  static constexpr std::uintptr_t no_socket = ~std::uintptr_t{0};
  enum class State { idle, connecting, connected, waiting, draining, leaving, gone };
  bool leaving() const {
    return state_ == State::draining || state_ == State::leaving || state_ == State::gone;
  }

  static void connect_callback(mosquitto*, void* self, int code);
  static void disconnect_callback(mosquitto*, void* self, int code, const mosquitto_property*);
  static void publish_callback(mosquitto*, void* self, int id, int reason,
                               const mosquitto_property*);
  static void subscribe_callback(mosquitto*, void* self, int id, int count, const int* granted,
                                 const mosquitto_property*);
  static void message_callback(mosquitto*, void* self, const mosquitto_message* message,
                               const mosquitto_property* properties);

  void on_window_message(UINT message, WPARAM wparam, LPARAM lparam);
  void socket_event(WPARAM socket, LPARAM event);
  void attempt();
  void retry_later(const std::string& why);
  // After each call into the library: follows a socket that closed or came up, and
  // writes while bytes wait and the socket has room.
  void follow();
  void write_now();
  void read_now();
  void keep_alive();
  void send_disconnect();
  void finish_leaving();
  std::string describe(int code) const;

  BrokerSettings settings_;
  LogLine log_;
  MessageWindow window_;
  mosquitto* client_ = nullptr;
  State state_ = State::idle;
  std::uintptr_t socket_ = no_socket;  // a SOCKET, kept without Winsock's header
  // Until the connection is made, and after a send that the socket could not take
  // whole, the system tells (FD_CONNECT, FD_WRITE) when writing can go on.
  bool writable_ = false;
  bool write_posted_ = false;
  std::chrono::seconds backoff_{1};
  std::string last_failure_;
  std::set<int> unacknowledged_;
  std::map<int, std::string> topics_;
  std::map<int, std::string> subscriptions_;
  std::function<void()> left_;
};
