#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mqtt/broker_settings.h"

struct mosquitto;

// The session's TLS (session_tls.cpp): the library has OpenSSL's on Linux and on
// Windows, and the check of the broker's certificate chain is watched to name why it
// was refused.
class SessionTls {
 public:
  SessionTls();
  ~SessionTls();
  SessionTls(const SessionTls&) = delete;
  SessionTls& operator=(const SessionTls&) = delete;

  // Hands the client the TLS files and a context whose checks are watched; the
  // library's code.
  int set_up(mosquitto* client, const BrokerSettings& settings);
  // A new connection attempt: the chain is checked anew.
  void attempt_starts();
  // Why this attempt's chain was refused; empty when it was not.
  const std::string& refusal() const;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;
};

// What the session takes from the system it is built for (session_system_posix.cpp,
// session_system_windows.cpp, chosen by the build): the system's words for a failure.

// The system's text for the failure whose code the library left in errno.
std::string library_errno_text();

// What a connection attempt that failed at once with `code` met, where the library's
// own text for the code would mislead; nothing otherwise.
std::optional<std::string> failed_attempt_text(int code);
