#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class MqttBroker;
struct mosquitto;

// A message as this client received it; `retained` is the flag as the sender published it
// (MQTT 5, retain-as-published), or as the broker replayed it at subscription.
struct SeenMessage {
  std::string topic;
  std::string payload;
  bool retained = false;
  std::chrono::steady_clock::time_point arrived;  // when this client's thread took it
  std::string correlation_data;                   // MQTT 5
};

// The test's own MQTT client (libmosquitto, its network thread): it subscribes, publishes
// and collects what it sees, so that a test waits for a message instead of sleeping.
class MqttTestClient {
 public:
  struct Options {
    std::string id;  // default: a unique one
    std::string user;
    std::string password;
  };
  using Predicate = std::function<bool(const SeenMessage&)>;
  static constexpr auto default_deadline = std::chrono::seconds(20);

  // Connects to the broker (its TLS files and the given user when it has them) and waits
  // for the broker's answer; connected() says whether it was accepted.
  explicit MqttTestClient(const MqttBroker& broker);
  MqttTestClient(const MqttBroker& broker, const Options& options);
  ~MqttTestClient();
  MqttTestClient(const MqttTestClient&) = delete;
  MqttTestClient& operator=(const MqttTestClient&) = delete;

  bool connected() const;

  // QoS 1; both wait for the broker's acknowledgement.
  bool subscribe(const std::string& pattern);
  bool publish(const std::string& topic, const std::string& payload, bool retain = false);
  // An MQTT 5 request: the answer asked for on `response_topic`, with `correlation`.
  bool request(const std::string& topic, const std::string& payload,
               const std::string& response_topic, const std::string& correlation);

  // The first message seen (since the last clear()) on a topic matching `pattern` that
  // `predicate` accepts, waiting for it until `deadline`.
  std::optional<SeenMessage> wait_for(const std::string& pattern, const Predicate& predicate,
                                      std::chrono::milliseconds deadline = default_deadline);
  // The same for an exact payload.
  bool wait_for_payload(const std::string& pattern, const std::string& payload,
                        std::chrono::milliseconds deadline = default_deadline);
  std::vector<SeenMessage> messages(const std::string& pattern) const;
  // The last retained payload per topic, as the broker would hand it to a new subscriber
  // (an empty retained payload clears the topic).
  std::map<std::string, std::string> retained() const;
  std::optional<std::string> retained(const std::string& topic) const;
  void clear();

 private:
  void acknowledged(int mid);
  bool wait_acknowledged(int mid);

  mosquitto* client_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  // The broker's connect answer (0 accepted, an MQTT 5 reason code when refused),
  // closed_before_answer when the connection ended first (at the TLS handshake), or -1
  // while none came.
  static constexpr int closed_before_answer = 1000;
  int connect_result_ = -1;
  std::vector<int> acknowledged_;
  std::vector<SeenMessage> seen_;
  std::map<std::string, std::string> retained_;
};
