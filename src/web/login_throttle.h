#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// Failed logins counted per peer address and per user name, so that guessing a password
// costs the guesser time and not the bridge: from the `failures_before_lock`th failure on,
// each one locks that address or name for a delay that doubles up to `longest_lock`. A locked
// attempt is refused before any hash is derived. The count is forgotten after `memory`
// without a failure and at a success. The clock is the caller's, so that tables can
// test it.
class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  struct Limits {
    unsigned failures_before_lock = 5;
    std::chrono::seconds first_lock{1};
    std::chrono::seconds longest_lock{60};
    std::chrono::seconds memory{15 * 60};
    std::size_t tracked = 4096;  // addresses and names each; the least recent go first
  };
  struct Failure {
    bool address_locked_now = false;  // this failure began a lockout: logged once
    bool user_locked_now = false;
  };

  LoginThrottle() : LoginThrottle(Limits{}) {}
  explicit LoginThrottle(Limits limits) : limits_(limits) {}

  // How long the attempt must wait: zero when it may be checked now.
  Clock::duration wait(std::string_view address, std::string_view user,
                       Clock::time_point now) const;
  Failure failed(std::string_view address, std::string_view user, Clock::time_point now);
  void succeeded(std::string_view address, std::string_view user);

  std::size_t tracked() const { return addresses_.size() + users_.size(); }

 private:
  struct Count {
    unsigned failures = 0;
    Clock::time_point last;
    Clock::time_point locked_until;
  };
  using Counts = std::map<std::string, Count, std::less<>>;

  Clock::duration wait_in(const Counts& counts, std::string_view key, Clock::time_point now) const;
  bool count_failure(Counts& counts, std::string_view key, Clock::time_point now);

  Limits limits_;
  Counts addresses_;
  Counts users_;
};
