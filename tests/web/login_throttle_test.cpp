// The login throttle on a clock of the test's own: when an address or a name is held
// back, for how long, when that is logged, and what it forgets.
#include "web/login_throttle.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using std::chrono::milliseconds;
const auto t0 = LoginThrottle::Clock::time_point{} + std::chrono::hours(1);

}  // namespace

TEST(LoginThrottle, GrowingLocksPerAddressAndName) {
  // 'f': a failed login (the wait before it must be `wait`); 'w': only the wait asked;
  // 's': a success. `locks`: the lockout the failure began, of its 'a'ddress or 'u'ser.
  struct Row {
    long at;  // ms after t0
    const char* address;
    const char* user;
    char what;
    long wait;
    char locks = '-';
  };
  const Row rows[] = {
      {0, "A", "ann", 'f', 0},
      {1000, "B", "ann", 'f', 0},  // another address counts for the name
      {2000, "A", "ann", 'f', 0, 'u'},
      {2500, "C", "ann", 'w', 500},  // from any address
      {2500, "A", "bob", 'w', 0},
      {3000, "A", "bob", 'f', 0, 'a'},
      {3200, "A", "carl", 'w', 800},  // by its address alone
      {4000, "C", "ann", 'f', 0},     // each further failure doubles the lock
      {4000, "C", "ann", 'w', 2000},
      {6000, "C", "ann", 'f', 0},
      {10000, "C", "ann", 'f', 0, 'a'},
      {10000, "C", "ann", 'w', 4000},  // at most the longest
      {14000, "C", "ann", 's', 0},     // forgets the name and the address alone
      {14000, "D", "ann", 'f', 0},
      {14000, "D", "ann", 'w', 0},
      {14000, "A", "bob", 'f', 0},
      {14000, "A", "bob", 'w', 2000},
      {74000, "A", "bob", 'f', 0},  // a minute without a failure: counted anew
      {74000, "A", "bob", 'w', 0},
  };
  LoginThrottle throttle({.failures_before_lock = 3,
                          .first_lock = std::chrono::seconds(1),
                          .longest_lock = std::chrono::seconds(4),
                          .memory = std::chrono::seconds(60)});
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.at << " ms " << row.address << ' ' << row.user);
    const auto now = t0 + milliseconds(row.at);
    EXPECT_EQ(throttle.wait(row.address, row.user, now), milliseconds(row.wait));
    if (row.what == 's') throttle.succeeded(row.address, row.user);
    if (row.what != 'f') continue;
    const auto failure = throttle.failed(row.address, row.user, now);
    EXPECT_EQ(failure.address_locked_now, row.locks == 'a');
    EXPECT_EQ(failure.user_locked_now, row.locks == 'u');
  }
}

TEST(LoginThrottle, TracksABoundedNumber) {
  LoginThrottle throttle({.failures_before_lock = 1, .tracked = 2});
  for (const char* each : {"a", "b", "c"}) throttle.failed(each, each, t0 + milliseconds(*each));
  EXPECT_EQ(throttle.tracked(), 4u);
  // The least recent went: its lock with it.
  EXPECT_EQ(throttle.wait("a", "a", t0 + milliseconds(100)), milliseconds(0));
  EXPECT_GT(throttle.wait("b", "x", t0 + milliseconds(100)), milliseconds(0));
  // A name no user can have takes no room: its address holds it back.
  throttle.failed("d", "no such/name", t0 + milliseconds(100));
  EXPECT_GT(throttle.wait("e", "b", t0 + milliseconds(100)), milliseconds(0));
}
