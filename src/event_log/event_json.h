#pragma once

#include <string>

#include "event_log/event.h"

// An event as a JSON object (what the bridge publishes and relayctl log --json prints)
// or a CSV row (RFC 4180) under event_csv_header(), its time in UTC. Text from outside
// is escaped, never passed on as controls.
std::string event_json(const Event& event);
std::string event_csv(const Event& event);
std::string event_csv_header();

// "2026-12-08T03:12:05.120Z".
std::string utc_time_text(Event::Time at);
