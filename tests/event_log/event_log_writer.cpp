// Appends switch events to an event log as a program of the machine would, for the
// tests of several writers and of writers killed mid-write:
//   event_log_writer DATABASE SOURCE COUNT     (COUNT 0: until killed)
// Relay numbers count 1..16 round and round, so that a reader can check the order.
// "appended N" goes to standard output every 50 events.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "event_log/event_log.h"

int main(int argc, char* argv[]) {
  if (argc != 4) return 2;
  auto opened = EventLog::open(argv[1]);
  if (auto* why = std::get_if<std::string>(&opened)) {
    std::fprintf(stderr, "%s\n", why->c_str());
    return 1;
  }
  EventLog& log = *std::get<std::unique_ptr<EventLog>>(opened);
  const long count = std::atol(argv[3]);
  for (long index = 0; count == 0 || index < count; ++index) {
    Event event;
    event.at =
        std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
    event.line = "ttyUSB0";
    event.address = 1;
    event.relay = static_cast<int>(index % 16) + 1;
    event.was_on = index % 2 == 1;
    event.now_on = index % 2 == 0;
    event.source = argv[2];
    event.who = std::to_string(index);
    if (const auto why = log.append(event)) {
      std::fprintf(stderr, "append %ld: %s\n", index, why->c_str());
      return 1;
    }
    if ((index + 1) % 50 == 0) {
      std::printf("appended %ld\n", index + 1);
      std::fflush(stdout);
    }
  }
  return 0;
}
