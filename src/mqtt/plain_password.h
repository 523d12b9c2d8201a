#pragma once

#include <string>
#include <string_view>

#include "mqtt/broker_settings.h"

// Whether a broker is this machine, by the name the operator gave: localhost, 127.0.0.1
// and ::1 only. The rest of 127/8 counts as elsewhere, so that a broker there stands for
// a remote one (the tests put theirs on 127.0.0.2), and no name is resolved to decide.
bool is_loopback_broker(std::string_view host);

// What becomes of a login's password on the way to the broker.
enum class PasswordPassage {
  safe,           // no password, TLS, or a broker on this machine
  clear_allowed,  // in clear to a broker elsewhere, as the operator allowed
  clear_refused,  // it would go in clear: the program does not connect
};

// How a program names the broker and the two ways out, in the words of its settings.
struct PasswordAdvice {
  std::string broker;  // "mqtt://pi.local"; none where the message already names it
  std::string tls;     // "use mqtts:// with --cafile"
  std::string allow;   // "--allow-plain-password"
};

struct PasswordCheck {
  PasswordPassage passage = PasswordPassage::safe;
  // The refusal, or the note that the password goes in clear as allowed; empty when safe.
  std::string text;
};

// The one decision of every program that logs in to a broker: a password leaves this
// machine in clear only where the operator asked for it (settings.plain_password).
PasswordCheck check_password_passage(const BrokerSettings& settings, const PasswordAdvice& advice);
