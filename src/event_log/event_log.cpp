#include "event_log/event_log.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "settings/file_trust.h"
#include "text/shown_text.h"

namespace {

// The database file itself, or why it is not used: a FIFO would hold every reader and
// writer for good, and a file that another user could have planted or may write (the
// state folder may be shared) would have this program run their SQL or write through
// their link. SQLite's journals beside it are judged alike: a planted write-ahead log
// would be replayed into the database at the open.
std::optional<std::string> log_file_refusal(const std::filesystem::path& path,
                                            std::filesystem::path& target) {
  const auto refusal = [&path](const std::error_code& why) {
    return path.string() + (is_trust_refusal(why) ? ": not used: " : ": ") + why.message();
  };
  const std::error_code why = resolve_regular_file(path, target);
  if (why && why != std::errc::no_such_file_or_directory) return refusal(why);
  for (const char* journal : {"-wal", "-shm", "-journal"}) {
    std::filesystem::path beside = target, unused;
    beside += journal;
    const std::error_code journal_why = resolve_regular_file(beside, unused);
    if (journal_why && journal_why != std::errc::no_such_file_or_directory) {
      return beside.string() + (is_trust_refusal(journal_why) ? ": not used: " : ": ") +
             journal_why.message();
    }
  }
  return std::nullopt;
}

constexpr const char* schema = R"(
CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY,
  at_ms INTEGER NOT NULL,
  kind TEXT NOT NULL,
  line TEXT NOT NULL,
  address INTEGER NOT NULL,
  relay INTEGER NOT NULL,
  was_on INTEGER,
  now_on INTEGER,
  source TEXT NOT NULL,
  who TEXT NOT NULL,
  reason TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS events_at ON events (at_ms);
)";

// Another program's write is waited for this long before an append gives up.
constexpr int busy_wait_ms = 5000;
// Old events are dropped every so many appends, not at each.
constexpr std::int64_t trim_every = 1000;

std::string error_of(sqlite3* database) {
  return database != nullptr ? sqlite3_errmsg(database) : "out of memory";
}

struct Statement {
  Statement(sqlite3* database, const char* sql) {
    sqlite3_prepare_v2(database, sql, -1, &handle, nullptr);
  }
  ~Statement() { sqlite3_finalize(handle); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* handle = nullptr;
};

void bind_text(sqlite3_stmt* statement, int index, const std::string& text) {
  sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void bind_state(sqlite3_stmt* statement, int index, std::optional<bool> state) {
  if (state)
    sqlite3_bind_int(statement, index, *state ? 1 : 0);
  else
    sqlite3_bind_null(statement, index);
}

std::optional<bool> column_state(sqlite3_stmt* statement, int index) {
  if (sqlite3_column_type(statement, index) == SQLITE_NULL) return std::nullopt;
  return sqlite3_column_int(statement, index) != 0;
}

std::string column_text(sqlite3_stmt* statement, int index) {
  const auto* text = sqlite3_column_text(statement, index);
  return text != nullptr
             ? std::string(reinterpret_cast<const char*>(text),
                           static_cast<std::size_t>(sqlite3_column_bytes(statement, index)))
             : std::string();
}

// An event from a row of "SELECT at_ms, kind, line, address, relay, was_on, now_on,
// source, who, reason".
Event row_event(sqlite3_stmt* row) {
  Event event;
  event.at = Event::Time(std::chrono::milliseconds(sqlite3_column_int64(row, 0)));
  event.kind = kind_from_text(column_text(row, 1)).value_or(Event::Kind::switched);
  event.line = column_text(row, 2);
  event.address = static_cast<std::uint8_t>(sqlite3_column_int(row, 3));
  event.relay = sqlite3_column_int(row, 4);
  event.was_on = column_state(row, 5);
  event.now_on = column_state(row, 6);
  event.source = column_text(row, 7);
  event.who = column_text(row, 8);
  event.reason = column_text(row, 9);
  return event;
}

// Opens the database without following a link and without running SQL that the file
// itself holds: its schema is not trusted (no function of a view or trigger runs with
// side effects), and a database holding a trigger or a view, which this program never
// makes, is refused (a trigger runs at every append; a slow one holds the line).
std::optional<std::string> open_database(const std::filesystem::path& path,
                                         const std::filesystem::path& target, int flags,
                                         sqlite3*& database) {
  database = nullptr;
  const std::string file = path.string();
  if (sqlite3_open_v2(target.string().c_str(), &database, flags | SQLITE_OPEN_NOFOLLOW, nullptr) !=
      SQLITE_OK) {
    std::string why = file + ": " + error_of(database);
    sqlite3_close(database);
    database = nullptr;
    return why;
  }
  sqlite3_db_config(database, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(database, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_busy_timeout(database, busy_wait_ms);
  std::optional<std::string> refused;
  {
    sqlite3_stmt* look = nullptr;
    if (sqlite3_prepare_v2(database,
                           "SELECT type, name FROM sqlite_master WHERE type IN ('trigger', 'view') "
                           "LIMIT 1",
                           -1, &look, nullptr) != SQLITE_OK) {
      refused = file + ": " + error_of(database);
    } else if (const int step = sqlite3_step(look); step == SQLITE_ROW) {
      refused = file + ": not used: it holds a " + column_text(look, 0) + " (" +
                shown_text(column_text(look, 1)) + ") that no program of this panel makes";
    } else if (step != SQLITE_DONE) {
      refused = file + ": " + error_of(database);
    }
    sqlite3_finalize(look);
  }
  if (refused) {
    sqlite3_close(database);
    database = nullptr;
  }
  return refused;
}

}  // namespace

std::variant<std::unique_ptr<EventLog>, std::string> EventLog::open(
    const std::filesystem::path& path, EventLogLimits limits) {
  std::filesystem::path target;
  if (auto refused = log_file_refusal(path, target)) return *refused;
  sqlite3* database = nullptr;
  const std::string file = path.string();
  if (auto refused =
          open_database(path, target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, database)) {
    return *refused;
  }
  // WAL: writers of other programs do not block readers, and a torn write is undone.
  char* error = nullptr;
  const std::string setup =
      std::string("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") + schema;
  // Switching a new database to WAL while another program does the same is refused at
  // once rather than waited for: try again for as long as a write would wait.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_wait_ms);
  int result;
  while ((result = sqlite3_exec(database, setup.c_str(), nullptr, nullptr, &error)) ==
             SQLITE_BUSY &&
         std::chrono::steady_clock::now() < give_up) {
    sqlite3_free(error);
    error = nullptr;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (result != SQLITE_OK) {
    std::string why = file + ": " + (error != nullptr ? error : error_of(database));
    sqlite3_free(error);
    sqlite3_close(database);
    return why;
  }
  std::unique_ptr<EventLog> log(new EventLog(database, path, limits));
  log->trim(
      std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now()));
  return log;
}

EventLog::EventLog(sqlite3* database, std::filesystem::path path, EventLogLimits limits)
    : database_(database), path_(std::move(path)), limits_(limits) {
  sqlite3_prepare_v3(database_,
                     "INSERT INTO events (at_ms, kind, line, address, relay, was_on, now_on, "
                     "source, who, reason) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                     -1, SQLITE_PREPARE_PERSISTENT, &insert_, nullptr);
}

EventLog::~EventLog() {
  sqlite3_finalize(insert_);
  sqlite3_close(database_);
}

std::optional<std::string> EventLog::append(const Event& event) {
  if (insert_ == nullptr) return error_of(database_);
  // Prepared once: an append is then a bind and a step.
  sqlite3_stmt* insert = insert_;
  sqlite3_clear_bindings(insert);
  sqlite3_bind_int64(insert, 1, event.at.time_since_epoch().count());
  sqlite3_bind_text(insert, 2, kind_text(event.kind), -1, SQLITE_STATIC);
  bind_text(insert, 3, event.line);
  sqlite3_bind_int(insert, 4, event.address);
  sqlite3_bind_int(insert, 5, event.relay);
  bind_state(insert, 6, event.was_on);
  bind_state(insert, 7, event.now_on);
  bind_text(insert, 8, event.source);
  bind_text(insert, 9, event.who);
  bind_text(insert, 10, event.reason);
  const int step = sqlite3_step(insert);
  sqlite3_reset(insert);
  if (step != SQLITE_DONE) return error_of(database_);
  if (++appended_ % trim_every == 0) trim(event.at);
  return std::nullopt;
}

void EventLog::trim(Event::Time now) {
  // Dropping old events is housekeeping: a writer busy elsewhere makes it wait for the
  // next round, never fails an append.
  Statement by_count(database_, "DELETE FROM events WHERE id <= (SELECT MAX(id) FROM events) - ?");
  if (by_count.handle != nullptr) {
    sqlite3_bind_int64(by_count.handle, 1, limits_.max_events);
    sqlite3_step(by_count.handle);
  }
  if (!limits_.max_age) return;
  Statement by_age(database_, "DELETE FROM events WHERE at_ms < ?");
  if (by_age.handle != nullptr) {
    const auto oldest =
        now - std::chrono::duration_cast<std::chrono::milliseconds>(*limits_.max_age);
    sqlite3_bind_int64(by_age.handle, 1, oldest.time_since_epoch().count());
    sqlite3_step(by_age.handle);
  }
}

std::optional<std::string> read_events(const std::filesystem::path& path, const EventFilter& filter,
                                       const std::function<void(const Event&)>& each) {
  const std::string file = path.string();
  std::error_code absent;
  if (!std::filesystem::exists(path, absent)) return file + ": no event log here yet";
  std::filesystem::path target;
  if (auto refused = log_file_refusal(path, target)) return *refused;
  sqlite3* database = nullptr;
  if (auto refused = open_database(path, target, SQLITE_OPEN_READONLY, database)) return *refused;
  std::string sql =
      "SELECT at_ms, kind, line, address, relay, was_on, now_on, source, who, reason "
      "FROM events WHERE at_ms >= ?1";
  if (filter.address) sql += " AND address = ?2";
  if (filter.address && filter.relay) sql += " AND (relay = ?3 OR relay = 0)";
  sql += " ORDER BY at_ms, id";
  std::optional<std::string> failure;
  {
    Statement select(database, sql.c_str());
    if (select.handle == nullptr) {
      failure = file + ": " + error_of(database);
    } else {
      sqlite3_bind_int64(select.handle, 1,
                         filter.since ? filter.since->time_since_epoch().count() : INT64_MIN);
      if (filter.address) sqlite3_bind_int(select.handle, 2, *filter.address);
      if (filter.address && filter.relay) sqlite3_bind_int(select.handle, 3, *filter.relay);
      int step;
      while ((step = sqlite3_step(select.handle)) == SQLITE_ROW) each(row_event(select.handle));
      if (step != SQLITE_DONE) failure = file + ": " + error_of(database);
    }
  }
  sqlite3_close(database);
  return failure;
}

std::variant<std::vector<Event>, std::string> read_newest_events(const std::filesystem::path& path,
                                                                 const std::string& line,
                                                                 int count) {
  const std::string file = path.string();
  std::filesystem::path target;
  if (auto refused = log_file_refusal(path, target)) return *refused;
  sqlite3* database = nullptr;
  if (auto refused = open_database(path, target, SQLITE_OPEN_READONLY, database)) return *refused;
  // Walked back from the newest along the time index: a long log costs no more to read.
  std::vector<Event> events;
  std::optional<std::string> failure;
  {
    Statement select(database,
                     "SELECT at_ms, kind, line, address, relay, was_on, now_on, source, who, "
                     "reason FROM events WHERE line = ?1 ORDER BY at_ms DESC, id DESC LIMIT ?2");
    if (select.handle == nullptr) {
      failure = file + ": " + error_of(database);
    } else {
      bind_text(select.handle, 1, line);
      sqlite3_bind_int(select.handle, 2, count);
      int step;
      while ((step = sqlite3_step(select.handle)) == SQLITE_ROW) {
        events.push_back(row_event(select.handle));
      }
      if (step != SQLITE_DONE) failure = file + ": " + error_of(database);
    }
  }
  sqlite3_close(database);
  if (failure) return *failure;
  std::reverse(events.begin(), events.end());
  return events;
}

std::unique_ptr<EventLog> open_panel_event_log(
    const std::filesystem::path& folder, const std::function<void(const std::string&)>& warn) {
  auto limits = read_log_limits(folder);
  if (const auto* why = std::get_if<std::string>(&limits)) {
    warn(*why + "; the event log keeps its default limits");
    limits = EventLogLimits{};
  }
  auto opened = EventLog::open(folder / event_log_file_name, std::get<EventLogLimits>(limits));
  if (const auto* why = std::get_if<std::string>(&opened)) {
    warn("no event log: " + *why);
    return nullptr;
  }
  return std::move(std::get<std::unique_ptr<EventLog>>(opened));
}
