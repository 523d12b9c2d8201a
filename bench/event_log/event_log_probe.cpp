// The event log's costs, on this machine's disk:
//   event_log_probe [FOLDER]     (default: a new folder under /tmp)
// - one logged switch (an append, its own transaction), median and p99 over 10,000;
// - the database's size per 100,000 events;
// - relayctl log over a million events: start to its first line and to its last.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "event_log/event_log.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

Event switch_event(long index) {
  Event event;
  event.at =
      std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
  event.line = "ttyUSB0";
  event.address = 1;
  event.relay = static_cast<int>(index % 16) + 1;
  event.was_on = index % 2 == 1;
  event.now_on = index % 2 == 0;
  event.source = "mqtt";
  event.who = "kitchen-tablet";
  return event;
}

std::uintmax_t database_bytes(const std::filesystem::path& path) {
  std::uintmax_t bytes = 0;
  for (const char* suffix : {"", "-wal"}) {
    std::error_code ignored;
    const auto size = std::filesystem::file_size(path.string() + suffix, ignored);
    if (!ignored) bytes += size;
  }
  return bytes;
}

// relayctl log in `folder` (its state folder, by --names there): the times from its
// start to the first line and to the end of its output, and the lines it printed.
void time_relayctl_log(const std::filesystem::path& folder) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return;
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipe_ends[1], 1);
    ::close(pipe_ends[0]);
    const std::string names = (folder / "name.txt").string();
    ::execl(RELAYCTL_PATH, "relayctl", "--names", names.c_str(), "log", nullptr);
    ::_exit(127);
  }
  ::close(pipe_ends[1]);
  char buffer[1 << 16];
  long lines = 0;
  std::optional<Clock::time_point> first;
  for (ssize_t count; (count = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
    if (!first) first = Clock::now();
    lines += std::count(buffer, buffer + count, '\n');
  }
  const auto last = Clock::now();
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::printf("relayctl log, %ld lines: first line %.1f ms, last %.0f ms\n", lines,
              first ? ms(*first - start) : -1.0, ms(last - start));
}

}  // namespace

int main(int argc, char* argv[]) {
  std::string folder = argc > 1 ? argv[1] : "";
  if (folder.empty()) {
    std::string pattern = "/tmp/event_log_probe_XXXXXX";
    folder = ::mkdtemp(pattern.data());
  }
  const std::filesystem::path path = std::filesystem::path(folder) / event_log_file_name;
  auto opened = EventLog::open(path, {2'000'000, std::nullopt});
  if (auto* why = std::get_if<std::string>(&opened)) {
    std::fprintf(stderr, "%s\n", why->c_str());
    return 1;
  }
  EventLog& log = *std::get<0>(opened);

  std::vector<double> appends;
  for (long index = 0; index < 10'000; ++index) {
    const Event event = switch_event(index);
    const auto before = Clock::now();
    if (log.append(event)) return 1;
    appends.push_back(ms(Clock::now() - before));
  }
  std::sort(appends.begin(), appends.end());
  std::printf("logged switch (one append, 10,000): median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              appends[appends.size() / 2], appends[appends.size() * 99 / 100], appends.back());

  for (long index = 10'000; index < 1'000'000; ++index) {
    if (log.append(switch_event(index))) return 1;
    if (index + 1 == 100'000) {
      std::printf("size per 100,000 events: %.1f MiB\n",
                  static_cast<double>(database_bytes(path)) / (1 << 20));
    }
  }
  std::printf("size of 1,000,000 events: %.1f MiB\n",
              static_cast<double>(database_bytes(path)) / (1 << 20));
  time_relayctl_log(folder);
  if (argc <= 1) std::filesystem::remove_all(folder);
  return 0;
}
