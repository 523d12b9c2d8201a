#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "mqtt/broker_settings.h"
#include "mqtt/mqtt_client.h"
#include "mqtt/session_system.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

// The broker connection on libmosquitto, on whichever event loop the program runs (a
// subclass supplies the socket watch and the timers): the socket is read whenever the
// broker sends and written while the library has bytes queued, and a one-second timer
// keeps the connection alive. A lost connection or a failed attempt is tried again after
// 1, 2, 4 ... 30 seconds; a session that came up resets the wait to one second.
//
// While the broker is away publish() drops the message: the bridge publishes its whole
// picture again on every connect (on_connected).
class MosquittoSession : public MqttClient {
 public:
  using LogLine = std::function<void(const std::string&)>;

  MosquittoSession(BrokerSettings settings, LogLine log);
  ~MosquittoSession() override;
  MosquittoSession(const MosquittoSession&) = delete;
  MosquittoSession& operator=(const MosquittoSession&) = delete;

  // Sets the client up (identity, will, credentials, TLS files, protocol) and starts the
  // first connection attempt; the reason when the settings cannot be used at all.
  virtual std::optional<std::string> start();

  bool publish(const std::string& topic, const std::string& payload, bool retain) override;
  void subscribe(const std::string& pattern) override;
  void subscribe_as_published(const std::string& pattern) override;
  bool reply(const std::string& topic, const std::string& payload,
             const std::string& correlation_data) override;

  // Sends what is queued, then a clean disconnect (so no last will), and calls `done`
  // once it has left or `patience` has passed; no reconnect after it.
  void disconnect(std::chrono::milliseconds patience, std::function<void()> done);

  bool connected() const { return state_ == State::connected; }
  // Whether the broker has acknowledged every publish of this session.
  bool all_acknowledged() const { return unacknowledged_.empty(); }

  // Takes what goes wrong (a lost or unreachable broker, a refused subscription) in place
  // of the log, where a host marks such lines.
  LogLine warn;
  std::function<void()> on_connected;  // the broker accepted the session
  std::function<void(const MqttMessage&)> on_message;
  // The broker's answer to a subscription (refused: MQTT 5 reason codes, its ACL), and
  // a publish it refused; a broker that drops a refused publish silently (MQTT 3.1.1)
  // is not heard.
  std::function<void(const std::string& pattern, bool granted)> on_subscribed;
  std::function<void(const std::string& topic, const std::string& reason)> on_publish_refused;

  // The longest wait between two attempts.
  static constexpr std::chrono::seconds max_backoff{30};

 protected:
  enum class Timer { keep_alive, retry, leave };
  // What the event loop does for the session: watch the socket (-1: none; the library's
  // int, which holds a SOCKET's value on Windows) and call read_ready() and
  // write_ready(), the latter only while want_write(true); start and stop the timers,
  // which call timer_fired(); run work after the current call.
  virtual void watch_socket(int socket) = 0;
  virtual void want_write(bool wanted) = 0;
  virtual void start_timer(Timer timer, std::chrono::milliseconds after) = 0;
  virtual void stop_timer(Timer timer) = 0;
  virtual void later(std::function<void()> work) = 0;

  void read_ready();
  void write_ready();
  void timer_fired(Timer timer);
  // While a connection attempt is under way, gives it up for `why` (the event loop heard
  // first that it failed); false otherwise.
  bool give_up_attempt(const std::string& why);

 private:
  void trouble(const std::string& line);  // to `warn`, or the log
  // draining: waits for the broker to acknowledge the last publishes before leaving.
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

  void attempt();
  void retry_later(const std::string& why);
  // After each call into the library: follows a socket that closed or came up, and
  // watches for writability exactly while bytes wait to be written.
  void follow();
  void keep_alive();
  void send_disconnect();
  void finish_leaving();
  std::string describe(int code) const;

  BrokerSettings settings_;
  LogLine log_;
  mosquitto* client_ = nullptr;
  State state_ = State::idle;
  int socket_ = -1;
  std::chrono::seconds backoff_{1};
  std::string last_failure_;
  std::set<int> unacknowledged_;       // message ids of publishes the broker has not acknowledged
  std::map<int, std::string> topics_;  // of those, by message id, when someone listens
  std::map<int, std::string> subscriptions_;  // patterns not yet answered, by message id
  std::function<void()> left_;
  // Declared last, gone after the client that it watches for.
  SessionTls tls_;
};
