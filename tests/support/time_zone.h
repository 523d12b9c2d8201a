#pragma once

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

// Sets TZ for one scope and puts back what was there, so that a test reads the wall
// clock in a zone of its choice whatever the machine's own.
class TimeZoneScope {
 public:
  explicit TimeZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TimeZoneScope() {
    if (old_) {
      ::setenv("TZ", old_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  TimeZoneScope(const TimeZoneScope&) = delete;
  TimeZoneScope& operator=(const TimeZoneScope&) = delete;

 private:
  std::optional<std::string> old_;
};

// A universal time, to the minute: utc(2026, 3, 29, 1, 0).
inline std::chrono::system_clock::time_point utc(int year, unsigned month, unsigned day, int hour,
                                                 int minute) {
  return std::chrono::sys_days(std::chrono::year(year) / month / day) + std::chrono::hours(hour) +
         std::chrono::minutes(minute);
}
