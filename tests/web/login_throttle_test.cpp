// The login throttle on a clock of the test's own: when an address or a name is held
// back, for how long, when that is logged, and what it forgets.
#include "web/login_throttle.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using std::chrono::milliseconds;
const auto t0 = LoginThrottle::Clock::time_point{} + std::chrono::hours(1);
constexpr long minute = 60000;

}  // namespace

TEST(LoginThrottle, GrowingLocksPerAddressAndName) {
  // 'f': a failed login (the wait before it must be `wait`); 'w': only the wait asked;
  // 's': a success. `locks`: which lockout the failure began, 'a'ddress, 'u'ser, 'b'oth.
  struct Row {
    long at;  // ms after t0
    const char* address;
    const char* user;
    char what;
    long wait;
    char locks = '-';
  };
  const Row rows[] = {
      {0, "10.0.0.1", "ann", 'f', 0},
      {1000, "10.0.0.1", "ann", 'f', 0},
      {2000, "10.0.0.2", "ann", 'f', 0},  // another address counts for the name
      {3000, "10.0.0.1", "ann", 'f', 0},
      {4000, "10.0.0.1", "ann", 'f', 0, 'u'},  // the name's fifth: 1 s
      {4500, "10.0.0.9", "ann", 'w', 500},     // from any address
      {4500, "10.0.0.1", "bob", 'w', 0},       // the address has four
      {5000, "10.0.0.1", "bob", 'f', 0, 'a'},
      {5200, "10.0.0.1", "carl", 'w', 800},  // held back by its address alone
      {6000, "10.0.0.1", "ann", 'f', 0},     // each one further doubles the lock
      {6000, "10.0.0.1", "ann", 'w', 2000},
      {8000, "10.0.0.3", "ann", 'f', 0},
      {8000, "10.0.0.3", "ann", 'w', 4000},
      {12000, "10.0.0.3", "ann", 'f', 0},
      {20000, "10.0.0.3", "ann", 'f', 0},
      {36000, "10.0.0.3", "ann", 'f', 0},
      {68000, "10.0.0.3", "ann", 'f', 0, 'a'},  // the address's fifth
      {68000, "10.0.0.3", "ann", 'w', minute},  // no longer than a minute
      {128000, "10.0.0.3", "ann", 'f', 0},
      {128000, "10.0.0.3", "ann", 'w', minute},
      // A success forgets the name and the address, nothing else.
      {188000, "10.0.0.3", "ann", 's', 0},
      {188000, "10.0.0.4", "ann", 'f', 0},
      {188000, "10.0.0.1", "bob", 'f', 0},
      {188000, "10.0.0.1", "bob", 'w', 4000},  // the address's seventh
      // A quarter of an hour without a failure: the count starts again.
      {188000 + 15 * minute, "10.0.0.1", "bob", 'f', 0},
      {188000 + 15 * minute, "10.0.0.1", "bob", 'w', 0},
      // A name no user can have is held back by its address alone.
      {0, "10.0.0.5", "no such/name", 'f', 0},
      {1, "10.0.0.5", "no such/name", 'f', 0},
      {2, "10.0.0.5", "no such/name", 'f', 0},
      {3, "10.0.0.5", "no such/name", 'f', 0},
      {4, "10.0.0.5", "no such/name", 'f', 0, 'a'},
  };
  LoginThrottle throttle;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.at << " ms " << row.address << ' ' << row.user);
    const auto now = t0 + milliseconds(row.at);
    EXPECT_EQ(throttle.wait(row.address, row.user, now), milliseconds(row.wait));
    if (row.what == 's') throttle.succeeded(row.address, row.user);
    if (row.what != 'f') continue;
    const auto failure = throttle.failed(row.address, row.user, now);
    EXPECT_EQ(failure.address_locked_now, row.locks == 'a' || row.locks == 'b');
    EXPECT_EQ(failure.user_locked_now, row.locks == 'u' || row.locks == 'b');
  }
}

TEST(LoginThrottle, TracksABoundedNumber) {
  LoginThrottle throttle({.failures_before_lock = 1, .tracked = 2});
  throttle.failed("a", "ann", t0);
  throttle.failed("b", "bob", t0 + milliseconds(1));
  throttle.failed("c", "carl", t0 + milliseconds(2));
  EXPECT_EQ(throttle.tracked(), 4u);
  // The least recent went: its lock with it.
  EXPECT_EQ(throttle.wait("a", "ann", t0 + milliseconds(3)), milliseconds(0));
  EXPECT_GT(throttle.wait("b", "x", t0 + milliseconds(3)), milliseconds(0));
}
