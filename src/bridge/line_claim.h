#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "mqtt/bridge_topics.h"
#include "mqtt/retained_snapshot.h"

// Who serves a line, told by its retained topics: the bridge's status and, beside it,
// the client id of the bridge that published it. A status left "online" means a live
// session (a bridge that dies leaves its last will, "offline").

// What to read at start: the line's status and client.
// `also`: further patterns whose retained messages the start wants to see.
RetainedSnapshot line_claim_snapshot(const BridgeTopics& topics, const std::string& client_id,
                                     std::vector<std::string> also = {});

// Why the line may not be served by `client_id`, nothing when it may: another client's
// bridge holds its status online. The same client id may: that is this bridge's own
// earlier run, whose session the broker has not yet seen end. An empty `client_id`
// refuses every live bridge.
std::optional<std::string> line_claim_refusal(const std::map<std::string, std::string>& retained,
                                              const BridgeTopics& topics,
                                              const std::string& client_id);

// What to read to forget a line: all its topics and every discovery document.
RetainedSnapshot line_sweep_snapshot(const BridgeTopics& topics, const std::string& client_id);

// The retained topics that belong to the line: its own topics and the discovery
// documents of its boards (named relayboard_L_A, or naming the line's status as their
// availability).
std::vector<std::string> line_retained_topics(const std::map<std::string, std::string>& retained,
                                              const BridgeTopics& topics);
