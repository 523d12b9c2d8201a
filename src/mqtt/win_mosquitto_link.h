#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "loop/message_window.h"
#include "mqtt/mosquitto_session.h"

// The broker connection on libmosquitto, driven by the Win32 message loop of the
// program's one thread: the socket reports through WSAAsyncSelect to a message-only
// window (read when the broker sends, write while the library has bytes queued and the
// socket takes them), and the session's timers are the window's. TLS is the library's
// own on the same socket: each read also takes what OpenSSL has already decrypted.
class WinMosquittoLink : public MosquittoSession {
 public:
  WinMosquittoLink(BrokerSettings settings, LogLine log);
  ~WinMosquittoLink() override;

  // Sets the client up and starts the first connection attempt; the reason when the
  // settings cannot be used at all (TLS files among them).
  std::optional<std::string> start() override;

 protected:
  void watch_socket(int socket) override;
  void want_write(bool wanted) override;
  void start_timer(Timer timer, std::chrono::milliseconds after) override;
  void stop_timer(Timer timer) override;
  void later(std::function<void()> work) override;

 private:
  // The library's socket is an int in its interface; Winsock's SOCKET is the same value.
  static constexpr std::uintptr_t no_socket = ~std::uintptr_t{0};

  void on_window_message(UINT message, WPARAM wparam, LPARAM lparam);
  void socket_event(WPARAM socket, LPARAM event);
  void write_now();
  static UINT_PTR timer_id(Timer timer);

  MessageWindow window_;
  std::uintptr_t socket_ = no_socket;  // a SOCKET, kept without Winsock's header
  // FD_WRITE comes once the socket has room again after a send it could not take whole,
  // and FD_CONNECT once the connection is made: until then nothing is written.
  bool writable_ = false;
  bool writing_ = false;
  bool write_posted_ = false;
  std::deque<std::function<void()>> later_;
};
