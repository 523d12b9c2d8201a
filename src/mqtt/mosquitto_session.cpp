#include "mqtt/mosquitto_session.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "mqtt/plain_password.h"

namespace {

// Seconds between the keep-alive pings when nothing else goes to the broker.
constexpr int keepalive_seconds = 30;

// libmosquitto counts its users; the daemon is one for as long as a link lives.
struct Library {
  Library() { mosquitto_lib_init(); }
  ~Library() { mosquitto_lib_cleanup(); }
};

// The library's texts are sentences; the log puts them in brackets.
std::string without_full_stop(std::string text) {
  if (text.ends_with('.')) text.pop_back();
  return text;
}

std::string seconds_text(std::chrono::seconds wait) {
  return std::to_string(wait.count()) + " s";
}

}  // namespace

MosquittoSession::MosquittoSession(BrokerSettings settings, LogLine log)
    : settings_(std::move(settings)), log_(std::move(log)) {
  static Library library;
}

MosquittoSession::~MosquittoSession() {
  if (client_) mosquitto_destroy(client_);
}

void MosquittoSession::timer_fired(Timer timer) {
  switch (timer) {
    case Timer::keep_alive:
      keep_alive();
      break;
    case Timer::retry:
      attempt();
      break;
    case Timer::leave:
      if (state_ == State::draining) send_disconnect();
      finish_leaving();
      break;
  }
}

std::optional<std::string> MosquittoSession::start() {
  // Each program refuses first, in the words of its own settings; this holds for all.
  const PasswordCheck password =
      check_password_passage(settings_, {settings_.host + ":" + std::to_string(settings_.port),
                                         "use TLS", "the setting that allows a password in clear"});
  if (password.passage == PasswordPassage::clear_refused) return password.text;
  client_ = mosquitto_new(settings_.client_id.c_str(), true, this);
  if (!client_) return "the MQTT client could not be made: " + std::string(std::strerror(errno));
  mosquitto_connect_callback_set(client_, &MosquittoSession::connect_callback);
  mosquitto_disconnect_v5_callback_set(client_, &MosquittoSession::disconnect_callback);
  mosquitto_message_v5_callback_set(client_, &MosquittoSession::message_callback);
  mosquitto_publish_v5_callback_set(client_, &MosquittoSession::publish_callback);
  mosquitto_subscribe_v5_callback_set(client_, &MosquittoSession::subscribe_callback);
  // A state is one small packet: Nagle's wait for more would hold each for up to 40 ms.
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_int_option(
      client_, MOSQ_OPT_PROTOCOL_VERSION,
      settings_.version == MqttVersion::v5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  int code = MOSQ_ERR_SUCCESS;
  if (!settings_.will_topic.empty()) {
    code = mosquitto_will_set(client_, settings_.will_topic.c_str(),
                              static_cast<int>(settings_.will_payload.size()),
                              settings_.will_payload.data(), 1, true);
    if (code != MOSQ_ERR_SUCCESS) return "the last will was refused: " + describe(code);
  }
  if (!settings_.user.empty()) {
    code = mosquitto_username_pw_set(
        client_, settings_.user.c_str(),
        settings_.password.empty() ? nullptr : settings_.password.c_str());
    if (code != MOSQ_ERR_SUCCESS) return "the user name was refused: " + describe(code);
  }
  if (!settings_.cafile.empty()) {
    code = tls_.set_up(client_, settings_);
    if (code != MOSQ_ERR_SUCCESS) {
      return "the TLS files cannot be used (" + settings_.cafile +
             (settings_.certfile.empty() ? "" : ", " + settings_.certfile) +
             (settings_.keyfile.empty() ? "" : ", " + settings_.keyfile) + "): " + describe(code);
    }
  }
  start_timer(Timer::keep_alive, std::chrono::seconds(1));
  attempt();
  return std::nullopt;
}

void MosquittoSession::attempt() {
  if (leaving()) return;
  state_ = State::connecting;
  tls_.attempt_starts();
  // The connection is made without blocking: the socket notifiers carry it on.
  const int code =
      mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, keepalive_seconds);
  if (code != MOSQ_ERR_SUCCESS) {
    retry_later(failed_attempt_text(code).value_or(describe(code)));
    return;
  }
  follow();
}

bool MosquittoSession::give_up_attempt(const std::string& why) {
  if (state_ != State::connecting) return false;
  retry_later(why);
  return true;
}

void MosquittoSession::retry_later(const std::string& why) {
  if (leaving()) {
    finish_leaving();
    return;
  }
  if (state_ == State::waiting || state_ == State::gone) return;
  const bool was_connected = state_ == State::connected;
  state_ = State::waiting;
  const std::string where = settings_.host + ":" + std::to_string(settings_.port);
  // The library says only that TLS failed; the check of the chain said why.
  const std::string cause = tls_.refusal().empty() ? why : tls_.refusal();
  if (was_connected) {
    trouble("broker " + where + " lost (" + cause + "); reconnecting in " + seconds_text(backoff_));
  } else {
    trouble("broker " + where + " not reached (" + cause + "); trying again in " +
            seconds_text(backoff_));
  }
  start_timer(Timer::retry, backoff_);
  backoff_ = std::min(backoff_ * 2, max_backoff);
}

void MosquittoSession::trouble(const std::string& line) {
  (warn ? warn : log_)(line);
}

bool MosquittoSession::publish(const std::string& topic, const std::string& payload, bool retain) {
  if (state_ != State::connected) return false;
  int id = 0;
  const int code = mosquitto_publish(client_, &id, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, retain);
  if (code == MOSQ_ERR_SUCCESS) unacknowledged_.insert(id);
  if (code == MOSQ_ERR_SUCCESS && on_publish_refused) topics_[id] = topic;
  follow();
  return code == MOSQ_ERR_SUCCESS;
}

void MosquittoSession::subscribe(const std::string& pattern) {
  if (state_ != State::connected) return;
  int id = 0;
  const int code = mosquitto_subscribe(client_, &id, pattern.c_str(), 1);
  if (code != MOSQ_ERR_SUCCESS) trouble("subscribing to " + pattern + " failed: " + describe(code));
  if (code == MOSQ_ERR_SUCCESS && on_subscribed) subscriptions_[id] = pattern;
  follow();
}

void MosquittoSession::subscribe_as_published(const std::string& pattern) {
  if (settings_.version != MqttVersion::v5) return subscribe(pattern);
  if (state_ != State::connected) return;
  const int code = mosquitto_subscribe_v5(client_, nullptr, pattern.c_str(), 1,
                                          MQTT_SUB_OPT_RETAIN_AS_PUBLISHED, nullptr);
  if (code != MOSQ_ERR_SUCCESS) trouble("subscribing to " + pattern + " failed: " + describe(code));
  follow();
}

bool MosquittoSession::reply(const std::string& topic, const std::string& payload,
                             const std::string& correlation_data) {
  if (state_ != State::connected) return false;
  mosquitto_property* properties = nullptr;
  if (!correlation_data.empty() && settings_.version == MqttVersion::v5) {
    mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation_data.data(),
                                  static_cast<std::uint16_t>(correlation_data.size()));
  }
  int id = 0;
  // A response topic is the sender's text: one the broker refuses costs only this answer.
  const int code =
      mosquitto_publish_v5(client_, &id, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), 1, false, properties);
  mosquitto_property_free_all(&properties);
  if (code == MOSQ_ERR_SUCCESS) unacknowledged_.insert(id);
  follow();
  return code == MOSQ_ERR_SUCCESS;
}

void MosquittoSession::disconnect(std::chrono::milliseconds patience, std::function<void()> done) {
  left_ = std::move(done);
  if (state_ != State::connected) {
    stop_timer(Timer::retry);
    state_ = State::leaving;
    later([this] { finish_leaving(); });
    return;
  }
  // The broker acknowledges the last publishes (the offline statuses) first: closing the
  // socket with its answers unread would reset the connection, and the broker would drop
  // what it had not yet taken in.
  state_ = State::draining;
  start_timer(Timer::leave, patience);
  if (unacknowledged_.empty()) send_disconnect();
}

void MosquittoSession::send_disconnect() {
  state_ = State::leaving;
  mosquitto_disconnect(client_);
  follow();
}

void MosquittoSession::finish_leaving() {
  if (state_ == State::gone) return;
  state_ = State::gone;
  stop_timer(Timer::leave);
  stop_timer(Timer::retry);
  stop_timer(Timer::keep_alive);
  socket_ = -1;
  watch_socket(-1);
  if (left_) {
    // Called from the event loop, never from inside the library's own call.
    later([done = std::exchange(left_, {})] { done(); });
  }
}

void MosquittoSession::connect_callback(mosquitto*, void* self, int code) {
  auto& link = *static_cast<MosquittoSession*>(self);
  if (code != 0) {
    link.last_failure_ = "refused: " + without_full_stop(link.settings_.version == MqttVersion::v5
                                                             ? mosquitto_reason_string(code)
                                                             : mosquitto_connack_string(code));
    return;
  }
  link.state_ = State::connected;
  // A clean session: what the last one left unacknowledged is not sent again.
  link.unacknowledged_.clear();
  link.topics_.clear();
  link.subscriptions_.clear();
  link.backoff_ = std::chrono::seconds(1);
  link.last_failure_.clear();
  link.log_("connected to broker " + link.settings_.host + ":" +
            std::to_string(link.settings_.port));
  if (link.on_connected) link.on_connected();
}

void MosquittoSession::disconnect_callback(mosquitto*, void* self, int code,
                                           const mosquitto_property*) {
  auto& link = *static_cast<MosquittoSession*>(self);
  if (link.leaving()) {
    link.finish_leaving();
    return;
  }
  std::string why = link.last_failure_.empty() ? link.describe(code) : link.last_failure_;
  // An MQTT 5 broker says why it ends a session, with a reason code of 0x80 and up.
  if (link.settings_.version == MqttVersion::v5 && code >= 0x80) {
    why = "ended by the broker: " + without_full_stop(mosquitto_reason_string(code)) +
          ", reason code " + std::to_string(code);
    if (code == MQTT_RC_SESSION_TAKEN_OVER) {
      why += ": another client connected as " + link.settings_.client_id;
    }
  }
  link.last_failure_.clear();
  link.retry_later(why);
}

void MosquittoSession::publish_callback(mosquitto*, void* self, int id, int reason,
                                        const mosquitto_property*) {
  auto& link = *static_cast<MosquittoSession*>(self);
  link.unacknowledged_.erase(id);
  const auto topic = link.topics_.find(id);
  if (topic != link.topics_.end()) {
    const std::string refused = topic->second;
    link.topics_.erase(topic);
    if (reason >= 0x80 && link.on_publish_refused) {
      link.on_publish_refused(refused, without_full_stop(mosquitto_reason_string(reason)));
    }
  }
  if (link.state_ == State::draining && link.unacknowledged_.empty()) link.send_disconnect();
}

void MosquittoSession::subscribe_callback(mosquitto*, void* self, int id, int count,
                                          const int* granted, const mosquitto_property*) {
  auto& link = *static_cast<MosquittoSession*>(self);
  const auto pattern = link.subscriptions_.find(id);
  if (pattern == link.subscriptions_.end()) return;
  const std::string answered = pattern->second;
  link.subscriptions_.erase(pattern);
  // One pattern per subscription: a granted QoS of 0x80 and up is a refusal.
  const bool accepted = count > 0 && granted[0] < 0x80;
  if (link.on_subscribed) link.on_subscribed(answered, accepted);
}

void MosquittoSession::message_callback(mosquitto*, void* self, const mosquitto_message* message,
                                        const mosquitto_property* properties) {
  auto& link = *static_cast<MosquittoSession*>(self);
  if (!link.on_message || link.state_ != State::connected) return;
  MqttMessage received;
  received.topic = message->topic ? message->topic : "";
  if (message->payloadlen > 0) {
    received.payload.assign(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(message->payloadlen));
  }
  received.retained = message->retain;
  char* response_topic = nullptr;
  if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &response_topic,
                                     false)) {
    received.response_topic = response_topic;
    std::free(response_topic);
  }
  void* correlation = nullptr;
  std::uint16_t length = 0;
  if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                     false)) {
    received.correlation_data.assign(static_cast<const char*>(correlation), length);
    std::free(correlation);
  }
  // The first user property called client_id, if any, names the sender.
  char* name = nullptr;
  char* value = nullptr;
  for (const mosquitto_property* property = mosquitto_property_read_string_pair(
           properties, MQTT_PROP_USER_PROPERTY, &name, &value, false);
       property != nullptr && received.sender.empty();
       property = mosquitto_property_read_string_pair(property, MQTT_PROP_USER_PROPERTY, &name,
                                                      &value, true)) {
    if (std::string_view(name) == "client_id") received.sender = value;
    std::free(name);
    std::free(value);
    name = value = nullptr;
  }
  link.on_message(received);
}

void MosquittoSession::follow() {
  if (!client_) return;
  const int socket = mosquitto_socket(client_);
  if (socket != socket_) {
    socket_ = socket;
    watch_socket(socket);
  }
  if (socket_ >= 0) want_write(mosquitto_want_write(client_));
}

void MosquittoSession::read_ready() {
  const int code = mosquitto_loop_read(client_, 1);
  if (code != MOSQ_ERR_SUCCESS && state_ != State::waiting) retry_later(describe(code));
  follow();
}

void MosquittoSession::write_ready() {
  const int code = mosquitto_loop_write(client_, 1);
  if (code != MOSQ_ERR_SUCCESS && state_ != State::waiting) retry_later(describe(code));
  follow();
}

void MosquittoSession::keep_alive() {
  if (socket_ < 0) return;
  const int code = mosquitto_loop_misc(client_);
  if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_NO_CONN && state_ != State::waiting) {
    retry_later(describe(code));
  }
  follow();
}

std::string MosquittoSession::describe(int code) const {
  // A broker that stays silent, before or after the session came up; this library
  // version has no text of its own for it.
  if (code == MOSQ_ERR_KEEPALIVE) {
    return "no answer for " + std::to_string(keepalive_seconds) + " s";
  }
  return without_full_stop(code == MOSQ_ERR_ERRNO ? library_errno_text()
                                                  : mosquitto_strerror(code));
}
