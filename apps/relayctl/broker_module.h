#pragma once

#include <memory>

#include "broker_connection.h"

class EventLoop;

// Served lines reach the broker through libmosquitto and its TLS libraries, which take a
// millisecond to load: relayctl loads them, with the link, only for a command on a
// served line. The module (relayctl_mqtt.so) sits beside the program in a build, and in
// relayctl's library folder once installed.

// The module's one entry point.
extern "C" BrokerConnection* relayctl_broker_connection(const BrokerAccess& access,
                                                        unsigned long pid, EventLoop& loop);

// The broker connection from the module; one whose start() says why when the module
// cannot be loaded.
std::unique_ptr<BrokerConnection> load_broker_connection(const BrokerAccess& access,
                                                         EventLoop& loop);
