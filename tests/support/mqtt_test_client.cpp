#include "mqtt_test_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "logged_process.h"
#include "mqtt_broker.h"

namespace {
std::string unique_id() {
  static std::atomic<int> count{0};
  return "relay-test-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

bool matches(const std::string& pattern, const std::string& topic) {
  bool result = false;
  mosquitto_topic_matches_sub(pattern.c_str(), topic.c_str(), &result);
  return result;
}
}  // namespace

MqttTestClient::MqttTestClient(const MqttBroker& broker) : MqttTestClient(broker, Options{}) {}

MqttTestClient::MqttTestClient(const MqttBroker& broker, const Options& options) {
  static const int initialised = mosquitto_lib_init();
  (void)initialised;
  client_ = mosquitto_new((options.id.empty() ? unique_id() : options.id).c_str(), true, this);
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  // Each packet goes out at once: the test times what the bridge does, not Nagle's wait.
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_connect_v5_callback_set(
      client_, [](mosquitto* client, void* self, int result, int, const mosquitto_property*) {
        auto& me = *static_cast<MqttTestClient*>(self);
        // A refused client stays refused: no reconnecting behind the test's back.
        if (result != 0) mosquitto_disconnect(client);
        std::lock_guard lock(me.mutex_);
        me.connect_result_ = result;
        me.changed_.notify_all();
      });
  // A connection that ends before the broker's answer (a refused certificate) is refused too.
  mosquitto_disconnect_v5_callback_set(
      client_, [](mosquitto* client, void* self, int, const mosquitto_property*) {
        auto& me = *static_cast<MqttTestClient*>(self);
        std::lock_guard lock(me.mutex_);
        if (me.connect_result_ >= 0) return;
        mosquitto_disconnect(client);
        me.connect_result_ = closed_before_answer;
        me.changed_.notify_all();
      });
  mosquitto_message_v5_callback_set(
      client_,
      [](mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property* p) {
        auto& me = *static_cast<MqttTestClient*>(self);
        SeenMessage seen{message->topic,
                         std::string(static_cast<const char*>(message->payload),
                                     static_cast<std::size_t>(message->payloadlen)),
                         message->retain,
                         std::chrono::steady_clock::now(),
                         {}};
        void* data = nullptr;
        std::uint16_t length = 0;
        if (mosquitto_property_read_binary(p, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
          seen.correlation_data.assign(static_cast<const char*>(data), length);
          std::free(data);
        }
        std::lock_guard lock(me.mutex_);
        if (seen.retained) {
          if (seen.payload.empty())
            me.retained_.erase(seen.topic);
          else
            me.retained_[seen.topic] = seen.payload;
        }
        me.seen_.push_back(std::move(seen));
        me.changed_.notify_all();
        notify_change();
      });
  mosquitto_publish_v5_callback_set(
      client_, [](mosquitto*, void* self, int mid, int, const mosquitto_property*) {
        static_cast<MqttTestClient*>(self)->acknowledged(mid);
      });
  mosquitto_subscribe_v5_callback_set(
      client_, [](mosquitto*, void* self, int mid, int, const int*, const mosquitto_property*) {
        static_cast<MqttTestClient*>(self)->acknowledged(mid);
      });
  if (!options.user.empty())
    mosquitto_username_pw_set(client_, options.user.c_str(), options.password.c_str());
  if (broker.options().tls)
    mosquitto_tls_set(client_, broker.ca_file().c_str(), nullptr, broker.client_cert().c_str(),
                      broker.client_key().c_str(), nullptr);
  // The watcher trusts the test's authority under any name: the names are the bridge's
  // to check.
  if (broker.options().tls) mosquitto_tls_insecure_set(client_, true);
  if (mosquitto_connect(client_, broker.host().c_str(), broker.port(), 30) != MOSQ_ERR_SUCCESS)
    return;
  mosquitto_loop_start(client_);
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, default_deadline, [this] { return connect_result_ >= 0; });
}

MqttTestClient::~MqttTestClient() {
  // The loop's thread ends by itself once disconnected; cancelling it could unwind it
  // from inside a callback.
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

bool MqttTestClient::connected() const {
  std::lock_guard lock(mutex_);
  return connect_result_ == 0;
}

void MqttTestClient::acknowledged(int mid) {
  std::lock_guard lock(mutex_);
  acknowledged_.push_back(mid);
  changed_.notify_all();
}

bool MqttTestClient::wait_acknowledged(int mid) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, default_deadline, [&] {
    return std::find(acknowledged_.begin(), acknowledged_.end(), mid) != acknowledged_.end();
  });
}

bool MqttTestClient::subscribe(const std::string& pattern) {
  int mid = 0;
  return mosquitto_subscribe_v5(client_, &mid, pattern.c_str(), 1, MQTT_SUB_OPT_RETAIN_AS_PUBLISHED,
                                nullptr) == MOSQ_ERR_SUCCESS &&
         wait_acknowledged(mid);
}

bool MqttTestClient::publish(const std::string& topic, const std::string& payload, bool retain) {
  int mid = 0;
  return mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, retain) == MOSQ_ERR_SUCCESS &&
         wait_acknowledged(mid);
}

bool MqttTestClient::request(const std::string& topic, const std::string& payload,
                             const std::string& response_topic, const std::string& correlation) {
  mosquitto_property* props = nullptr;
  mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, response_topic.c_str());
  mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                static_cast<std::uint16_t>(correlation.size()));
  int mid = 0;
  const bool sent =
      mosquitto_publish_v5(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, false, props) == MOSQ_ERR_SUCCESS;
  mosquitto_property_free_all(&props);
  return sent && wait_acknowledged(mid);
}

std::optional<SeenMessage> MqttTestClient::wait_for(const std::string& pattern,
                                                    const Predicate& predicate,
                                                    std::chrono::milliseconds deadline) {
  std::optional<SeenMessage> found;
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, deadline, [&] {
    for (const auto& message : seen_) {
      if (matches(pattern, message.topic) && predicate(message)) {
        found = message;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool MqttTestClient::wait_for_payload(const std::string& pattern, const std::string& payload,
                                      std::chrono::milliseconds deadline) {
  return wait_for(
             pattern, [&](const SeenMessage& message) { return message.payload == payload; },
             deadline)
      .has_value();
}

std::vector<SeenMessage> MqttTestClient::messages(const std::string& pattern) const {
  std::lock_guard lock(mutex_);
  std::vector<SeenMessage> result;
  for (const auto& message : seen_)
    if (matches(pattern, message.topic)) result.push_back(message);
  return result;
}

std::map<std::string, std::string> MqttTestClient::retained() const {
  std::lock_guard lock(mutex_);
  return retained_;
}

std::optional<std::string> MqttTestClient::retained(const std::string& topic) const {
  std::lock_guard lock(mutex_);
  const auto found = retained_.find(topic);
  if (found == retained_.end()) return std::nullopt;
  return found->second;
}

void MqttTestClient::clear() {
  std::lock_guard lock(mutex_);
  seen_.clear();
}
