#pragma once

#include <string>

#include "bridge_options.h"
#include "mqtt/broker_settings.h"

// How the bridge reaches its broker: its options, with the last will it leaves behind.
BrokerSettings broker_settings(const BridgeOptions& options, std::string will_topic,
                               std::string will_payload);
