#pragma once

#include <functional>
#include <memory>
#include <ostream>

#include "broker_connection.h"
#include "ctl_options.h"
#include "loop/event_wait.h"

// relayctl's commands on a line that a bridge serves, through the broker: the same
// output and exit statuses as on a local line, with the bridge offline as a port that
// cannot be opened (2), the board offline as no answer (3), what the broker refuses as
// not allowed (2), and a pulse whose end was not seen as relays that may be left on (6).
int run_served(const CtlOptions& options, BrokerConnection& broker, EventWait& wait,
               const std::function<bool()>& interrupted, std::ostream& out, std::ostream& err);
