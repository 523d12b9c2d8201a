#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mqtt/broker_settings.h"

struct mosquitto;

// What the session takes from the system it is built for (session_system_posix.cpp,
// session_system_windows.cpp, chosen by the build): the TLS that the library has there
// and the system's words for a failure. On Linux the library has OpenSSL, and the check
// of the broker's certificate chain is watched to name why it was refused; the Windows
// build of the library has no TLS.
class SessionTls {
 public:
  SessionTls();
  ~SessionTls();
  SessionTls(const SessionTls&) = delete;
  SessionTls& operator=(const SessionTls&) = delete;

  // Before anything is set up: why this build cannot use the settings' TLS files at all.
  static std::optional<std::string> unavailable(const BrokerSettings& settings);
  // Hands the client the TLS files; the library's code.
  int set_up(mosquitto* client, const BrokerSettings& settings);
  // A new connection attempt: the chain is checked anew.
  void attempt_starts();
  // After each call into the library, while TLS is used.
  void follow(mosquitto* client);
  // Why this attempt's chain was refused; empty when it was not.
  const std::string& refusal() const;

 private:
  struct Watch;
  std::unique_ptr<Watch> watch_;
};

// The system's text for the failure whose code the library left in errno.
std::string library_errno_text();

// What a connection attempt that failed at once with `code` met, where the library's
// own text for the code would mislead; nothing otherwise.
std::optional<std::string> failed_attempt_text(int code);
