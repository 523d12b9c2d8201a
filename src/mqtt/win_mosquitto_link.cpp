// Winsock before windows.h (through the class's header), which would bring in the old one.
// clang-format off
#include <winsock2.h>
// clang-format on
#include "mqtt/win_mosquitto_link.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "common/system_error_text.h"

namespace {

// The window's own messages: the socket's events, and work left for the message loop.
constexpr UINT socket_message = WM_APP + 1;
constexpr UINT write_message = WM_APP + 2;
constexpr UINT later_message = WM_APP + 3;

UINT milliseconds(std::chrono::milliseconds wait) {
  return static_cast<UINT>(std::clamp<long long>(wait.count(), 1, USER_TIMER_MAXIMUM));
}

}  // namespace

WinMosquittoLink::WinMosquittoLink(BrokerSettings settings, LogLine log)
    : MosquittoSession(std::move(settings), std::move(log)),
      window_([this](UINT message, WPARAM wparam, LPARAM lparam) {
        on_window_message(message, wparam, lparam);
      }) {}

WinMosquittoLink::~WinMosquittoLink() {
  watch_socket(-1);
  for (const Timer which : {Timer::keep_alive, Timer::retry, Timer::leave}) stop_timer(which);
}

std::optional<std::string> WinMosquittoLink::start() {
  if (!window_.handle()) {
    return "the MQTT client's window could not be made: " +
           system_error_text({static_cast<int>(GetLastError()), std::system_category()});
  }
  return MosquittoSession::start();
}

void WinMosquittoLink::on_window_message(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == socket_message) return socket_event(wparam, lparam);
  if (message == write_message) {
    write_posted_ = false;
    return write_now();
  }
  if (message == later_message) {
    if (later_.empty()) return;
    // The work may end the link: nothing of it is touched after.
    const auto work = std::move(later_.front());
    later_.pop_front();
    return work();
  }
  if (message != WM_TIMER) return;
  const auto which = static_cast<Timer>(wparam - 1);
  // The keep-alive repeats; the other two fire once.
  if (which != Timer::keep_alive) KillTimer(window_.handle(), wparam);
  timer_fired(which);
}

void WinMosquittoLink::socket_event(WPARAM socket, LPARAM event) {
  // An event of a socket the library has closed since may still be queued.
  if (socket != socket_) return;
  // Before the session is up, an error on any event (FD_CONNECT's, or FD_CLOSE's when
  // the connection failed before the socket was watched) says why the attempt failed.
  const int error = WSAGETSELECTERROR(event);
  if (error != 0 && give_up_attempt(system_error_text({error, std::system_category()}))) return;
  switch (WSAGETSELECTEVENT(event)) {
    case FD_CONNECT:
    case FD_WRITE:
      writable_ = true;
      return write_now();
    default:  // FD_READ, FD_CLOSE: the read says what came, or that the broker left
      return read_ready();
  }
}

void WinMosquittoLink::watch_socket(int socket) {
  if (socket_ != no_socket) WSAAsyncSelect(static_cast<SOCKET>(socket_), window_.handle(), 0, 0);
  socket_ = socket < 0 ? no_socket : static_cast<std::uintptr_t>(socket);
  writable_ = false;
  // Sets the socket non-blocking, as the library keeps it, and reports its events.
  if (socket_ != no_socket) {
    WSAAsyncSelect(static_cast<SOCKET>(socket_), window_.handle(), socket_message,
                   FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE);
  }
}

void WinMosquittoLink::want_write(bool wanted) {
  // Bytes left over from a write mean the socket took no more: FD_WRITE says when it
  // has room. Windows tells that once, not for as long as it lasts.
  if (writing_ && wanted) writable_ = false;
  if (writable_ && wanted && !write_posted_) write_posted_ = window_.post(write_message);
}

void WinMosquittoLink::write_now() {
  if (socket_ == no_socket || !writable_) return;
  writing_ = true;
  write_ready();
  writing_ = false;
}

UINT_PTR WinMosquittoLink::timer_id(Timer timer) {
  // 0 is no timer for Windows.
  return static_cast<UINT_PTR>(timer) + 1;
}

void WinMosquittoLink::start_timer(Timer timer, std::chrono::milliseconds after) {
  SetTimer(window_.handle(), timer_id(timer), milliseconds(after), nullptr);
}

void WinMosquittoLink::stop_timer(Timer timer) {
  KillTimer(window_.handle(), timer_id(timer));
}

void WinMosquittoLink::later(std::function<void()> work) {
  later_.push_back(std::move(work));
  window_.post(later_message);
}
