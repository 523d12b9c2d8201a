// The module that holds relayctl's broker link on the poll() loop.
#include "broker_module.h"

#include "link_connection.h"
#include "mqtt/posix_mosquitto_link.h"

extern "C" BrokerConnection* relayctl_broker_connection(const BrokerAccess& access,
                                                        unsigned long pid, EventLoop& loop) {
  return new LinkConnection<PosixMosquittoLink>(relayctl_broker_settings(access, pid), loop);
}
