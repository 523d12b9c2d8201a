// Winsock before windows.h (through the class's header), which would bring in the old one.
// clang-format off
#include <winsock2.h>
// clang-format on
#include "mqtt_win/win_mosquitto_link.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "common/system_error_text.h"

namespace {

constexpr int keepalive_seconds = 30;

// The window's own messages: the socket's events, and work left for the message loop.
constexpr UINT socket_message = WM_APP + 1;
constexpr UINT write_message = WM_APP + 2;
constexpr UINT left_message = WM_APP + 3;
constexpr UINT_PTR misc_timer = 1;
constexpr UINT_PTR retry_timer = 2;
constexpr UINT_PTR leave_timer = 3;

// libmosquitto counts its users (and starts Winsock); the program is one while a link lives.
struct Library {
  Library() { mosquitto_lib_init(); }
  ~Library() { mosquitto_lib_cleanup(); }
};

std::string without_full_stop(std::string text) {
  if (text.ends_with('.')) text.pop_back();
  return text;
}

std::string seconds_text(std::chrono::seconds wait) {
  return std::to_string(wait.count()) + " s";
}

UINT milliseconds(std::chrono::milliseconds wait) {
  return static_cast<UINT>(std::clamp<long long>(wait.count(), 1, USER_TIMER_MAXIMUM));
}

}  // namespace

WinMosquittoLink::WinMosquittoLink(BrokerSettings settings, LogLine log)
    : settings_(std::move(settings)),
      log_(std::move(log)),
      window_([this](UINT message, WPARAM wparam, LPARAM lparam) {
        on_window_message(message, wparam, lparam);
      }) {
  static Library library;
}

WinMosquittoLink::~WinMosquittoLink() {
  if (socket_ != no_socket) WSAAsyncSelect(static_cast<SOCKET>(socket_), window_.handle(), 0, 0);
  if (client_) mosquitto_destroy(client_);
}

std::optional<std::string> WinMosquittoLink::start() {
  if (!settings_.cafile.empty()) {
    return "TLS is not available in the Windows build (plain TCP only): " + settings_.cafile +
           " cannot be used";
  }
  if (!window_.handle()) {
    return "the MQTT client's window could not be made: " +
           system_error_text({static_cast<int>(GetLastError()), std::system_category()});
  }
  client_ = mosquitto_new(settings_.client_id.c_str(), true, this);
  if (!client_) return "the MQTT client could not be made: " + std::string(std::strerror(errno));
  mosquitto_connect_callback_set(client_, &WinMosquittoLink::connect_callback);
  mosquitto_disconnect_v5_callback_set(client_, &WinMosquittoLink::disconnect_callback);
  mosquitto_message_v5_callback_set(client_, &WinMosquittoLink::message_callback);
  mosquitto_publish_v5_callback_set(client_, &WinMosquittoLink::publish_callback);
  mosquitto_subscribe_v5_callback_set(client_, &WinMosquittoLink::subscribe_callback);
  // A state is one small packet: Nagle's wait for more would hold each for up to 200 ms.
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
  SetTimer(window_.handle(), misc_timer, 1000, nullptr);
  attempt();
  return std::nullopt;
}

void WinMosquittoLink::on_window_message(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == socket_message) return socket_event(wparam, lparam);
  if (message == write_message) {
    write_posted_ = false;
    return write_now();
  }
  if (message == left_message) {
    if (left_) std::exchange(left_, {})();
    return;
  }
  if (message != WM_TIMER) return;
  if (wparam == misc_timer) return keep_alive();
  KillTimer(window_.handle(), wparam);
  if (wparam == retry_timer) return attempt();
  if (wparam == leave_timer) {
    if (state_ == State::draining) send_disconnect();
    finish_leaving();
  }
}

void WinMosquittoLink::socket_event(WPARAM socket, LPARAM event) {
  // An event of a socket the library has closed since may still be queued.
  if (socket != socket_) return;
  // Before the session is up, an error on any event (FD_CONNECT's, or FD_CLOSE's when
  // the connection failed before the socket was watched) says why the attempt failed.
  const int error = WSAGETSELECTERROR(event);
  if (error != 0 && state_ == State::connecting) {
    retry_later(system_error_text({error, std::system_category()}));
    return;
  }
  switch (WSAGETSELECTEVENT(event)) {
    case FD_CONNECT:
      writable_ = true;
      return write_now();
    case FD_WRITE:
      writable_ = true;
      return write_now();
    default:  // FD_READ, FD_CLOSE: the read says what came, or that the broker left
      return read_now();
  }
}

void WinMosquittoLink::attempt() {
  if (leaving()) return;
  state_ = State::connecting;
  const int code =
      mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port, keepalive_seconds);
  if (code != MOSQ_ERR_SUCCESS) {
    // Wine resets a refused loopback connection at once, inside the library's first
    // send; the system's "refused" arrives as a lost connection then.
    retry_later(code == MOSQ_ERR_CONN_LOST ? "Connection refused" : describe(code));
    return;
  }
  follow();
}

void WinMosquittoLink::retry_later(const std::string& why) {
  if (leaving()) {
    finish_leaving();
    return;
  }
  if (state_ == State::waiting || state_ == State::gone) return;
  const bool was_connected = state_ == State::connected;
  state_ = State::waiting;
  const std::string where = settings_.host + ":" + std::to_string(settings_.port);
  if (was_connected) {
    log_("broker " + where + " lost (" + why + "); reconnecting in " + seconds_text(backoff_));
  } else {
    log_("broker " + where + " not reached (" + why + "); trying again in " +
         seconds_text(backoff_));
  }
  SetTimer(window_.handle(), retry_timer, milliseconds(backoff_), nullptr);
  backoff_ = std::min(backoff_ * 2, max_backoff);
}

bool WinMosquittoLink::publish(const std::string& topic, const std::string& payload, bool retain) {
  if (state_ != State::connected) return false;
  int id = 0;
  const int code = mosquitto_publish(client_, &id, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 1, retain);
  if (code == MOSQ_ERR_SUCCESS) unacknowledged_.insert(id);
  if (code == MOSQ_ERR_SUCCESS && on_publish_refused) topics_[id] = topic;
  follow();
  return code == MOSQ_ERR_SUCCESS;
}

void WinMosquittoLink::subscribe(const std::string& pattern) {
  if (state_ != State::connected) return;
  int id = 0;
  const int code = mosquitto_subscribe(client_, &id, pattern.c_str(), 1);
  if (code != MOSQ_ERR_SUCCESS) log_("subscribing to " + pattern + " failed: " + describe(code));
  if (code == MOSQ_ERR_SUCCESS && on_subscribed) subscriptions_[id] = pattern;
  follow();
}

void WinMosquittoLink::disconnect(std::chrono::milliseconds patience, std::function<void()> done) {
  left_ = std::move(done);
  if (state_ != State::connected) {
    KillTimer(window_.handle(), retry_timer);
    state_ = State::leaving;
    finish_leaving();
    return;
  }
  // The broker acknowledges the last publishes first: a socket closed with its answers
  // unread would be reset, and the broker would drop what it had not yet taken in.
  state_ = State::draining;
  SetTimer(window_.handle(), leave_timer, milliseconds(patience), nullptr);
  if (unacknowledged_.empty()) send_disconnect();
}

void WinMosquittoLink::send_disconnect() {
  state_ = State::leaving;
  mosquitto_disconnect(client_);
  follow();
}

void WinMosquittoLink::finish_leaving() {
  if (state_ == State::gone) return;
  state_ = State::gone;
  for (const UINT_PTR timer : {misc_timer, retry_timer, leave_timer}) {
    KillTimer(window_.handle(), timer);
  }
  if (socket_ != no_socket) WSAAsyncSelect(static_cast<SOCKET>(socket_), window_.handle(), 0, 0);
  socket_ = no_socket;
  // Called from the message loop, never from inside the library's own call.
  if (left_) window_.post(left_message);
}

void WinMosquittoLink::connect_callback(mosquitto*, void* self, int code) {
  auto& link = *static_cast<WinMosquittoLink*>(self);
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

void WinMosquittoLink::disconnect_callback(mosquitto*, void* self, int code,
                                           const mosquitto_property*) {
  auto& link = *static_cast<WinMosquittoLink*>(self);
  if (link.leaving()) {
    link.finish_leaving();
    return;
  }
  std::string why = link.last_failure_.empty() ? link.describe(code) : link.last_failure_;
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

void WinMosquittoLink::publish_callback(mosquitto*, void* self, int id, int reason,
                                        const mosquitto_property*) {
  auto& link = *static_cast<WinMosquittoLink*>(self);
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

void WinMosquittoLink::subscribe_callback(mosquitto*, void* self, int id, int count,
                                          const int* granted, const mosquitto_property*) {
  auto& link = *static_cast<WinMosquittoLink*>(self);
  const auto pattern = link.subscriptions_.find(id);
  if (pattern == link.subscriptions_.end()) return;
  const std::string answered = pattern->second;
  link.subscriptions_.erase(pattern);
  // One pattern per subscription: a granted QoS of 0x80 and up is a refusal.
  const bool accepted = count > 0 && granted[0] < 0x80;
  if (link.on_subscribed) link.on_subscribed(answered, accepted);
}

void WinMosquittoLink::message_callback(mosquitto*, void* self, const mosquitto_message* message,
                                        const mosquitto_property*) {
  auto& link = *static_cast<WinMosquittoLink*>(self);
  if (!link.on_message || link.state_ != State::connected) return;
  MqttMessage received;
  received.topic = message->topic ? message->topic : "";
  if (message->payloadlen > 0) {
    received.payload.assign(static_cast<const char*>(message->payload),
                            static_cast<std::size_t>(message->payloadlen));
  }
  received.retained = message->retain;
  link.on_message(received);
}

void WinMosquittoLink::follow() {
  if (!client_ || state_ == State::gone) return;
  const int library_socket = mosquitto_socket(client_);
  const std::uintptr_t socket =
      library_socket < 0 ? no_socket : static_cast<std::uintptr_t>(library_socket);
  if (socket != socket_) {
    socket_ = socket;
    writable_ = false;
    // Sets the socket non-blocking, as the library keeps it, and reports its events.
    if (socket_ != no_socket) {
      WSAAsyncSelect(static_cast<SOCKET>(socket_), window_.handle(), socket_message,
                     FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
    }
  }
  if (writable_ && !write_posted_ && mosquitto_want_write(client_)) {
    write_posted_ = window_.post(write_message);
  }
}

void WinMosquittoLink::write_now() {
  if (!client_ || socket_ == no_socket || !writable_) return;
  const int code = mosquitto_loop_write(client_, 1);
  if (code != MOSQ_ERR_SUCCESS && state_ != State::waiting) retry_later(describe(code));
  // Bytes left over mean the socket took no more: FD_WRITE says when it has room.
  if (client_ && mosquitto_want_write(client_)) writable_ = false;
  follow();
}

void WinMosquittoLink::read_now() {
  const int code = mosquitto_loop_read(client_, 1);
  if (code != MOSQ_ERR_SUCCESS && state_ != State::waiting) retry_later(describe(code));
  follow();
}

void WinMosquittoLink::keep_alive() {
  if (socket_ == no_socket) return;
  const int code = mosquitto_loop_misc(client_);
  if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_NO_CONN && state_ != State::waiting) {
    retry_later(describe(code));
  }
  follow();
}

std::string WinMosquittoLink::describe(int code) const {
  if (code == MOSQ_ERR_KEEPALIVE) {
    return "no answer for " + std::to_string(keepalive_seconds) + " s";
  }
  // The library leaves Winsock's own code in errno.
  if (code == MOSQ_ERR_ERRNO) return system_error_text({errno, std::system_category()});
  return without_full_stop(mosquitto_strerror(code));
}
