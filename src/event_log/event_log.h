#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "event_log/event.h"
#include "event_log/event_log_file.h"
#include "event_log/event_recorder.h"
#include "event_log/log_limits.h"

struct sqlite3;
struct sqlite3_stmt;

// The events of the programs of one machine, in an SQLite database in the state folder.
// Several programs write to it at once (write-ahead log, each append a transaction of
// its own that waits for another writer's), and a program killed or a machine switched
// off mid-write leaves it whole: SQLite's journal undoes the half-written transaction
// at the next open. With synchronous=NORMAL the last appends before a power cut may be
// lost, never the database.
class EventLog {
 public:
  // Opens the database, making it and its table when they are not there yet.
  static std::variant<std::unique_ptr<EventLog>, std::string> open(
      const std::filesystem::path& path, EventLogLimits limits = {});
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Stores the event; why not, if it could not be stored.
  std::optional<std::string> append(const Event& event);

  const std::filesystem::path& path() const { return path_; }

 private:
  EventLog(sqlite3* database, std::filesystem::path path, EventLogLimits limits);
  void trim(Event::Time now);

  sqlite3* database_;
  sqlite3_stmt* insert_ = nullptr;
  std::filesystem::path path_;
  EventLogLimits limits_;
  std::int64_t appended_ = 0;
};

// A panel's log in its state folder: the folder's limits, or the defaults when its
// events.conf is at fault; nothing when the log cannot be opened. Either fault is told
// through `warn`: the panel works as ever without its log.
std::unique_ptr<EventLog> open_panel_event_log(const std::filesystem::path& folder,
                                               const std::function<void(const std::string&)>& warn);

// The log as a recorder's sink. An event that cannot be stored is told through `failed`
// (once per reason in a row), never passed over in silence.
class EventLogSink : public EventSink {
 public:
  EventLogSink(EventLog& log, std::function<void(const std::string&)> failed)
      : log_(log), failed_(std::move(failed)) {}
  void record(const Event& event) override {
    const auto why = log_.append(event);
    if (why && *why != last_failure_ && failed_) failed_("event not logged: " + *why);
    last_failure_ = why.value_or("");
  }

 private:
  EventLog& log_;
  std::function<void(const std::string&)> failed_;
  std::string last_failure_;
};

// Which events a reader wants.
struct EventFilter {
  std::optional<Event::Time> since;
  std::optional<std::uint8_t> address;
  std::optional<int> relay;  // with address
};

// Hands each event of the log at `path` that passes `filter` to `each`, oldest first, as
// it reads them (a million events are not held at once); why not, if the log cannot be
// read. The log is only read: a missing one is an error, never made.
std::optional<std::string> read_events(const std::filesystem::path& path, const EventFilter& filter,
                                       const std::function<void(const Event&)>& each);

// The newest `count` events of `line` in the log at `path`, oldest first; why not, if the
// log cannot be read.
std::variant<std::vector<Event>, std::string> read_newest_events(const std::filesystem::path& path,
                                                                 const std::string& line,
                                                                 int count);
