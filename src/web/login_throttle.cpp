#include "web/login_throttle.h"

#include <algorithm>

#include "web/web_users.h"

LoginThrottle::Clock::duration LoginThrottle::wait_in(const Counts& counts, std::string_view key,
                                                      Clock::time_point now) const {
  const auto found = counts.find(key);
  if (found == counts.end() || found->second.locked_until <= now) return Clock::duration::zero();
  return found->second.locked_until - now;
}

LoginThrottle::Clock::duration LoginThrottle::wait(std::string_view address, std::string_view user,
                                                   Clock::time_point now) const {
  return std::max(wait_in(addresses_, address, now), wait_in(users_, user, now));
}

bool LoginThrottle::count_failure(Counts& counts, std::string_view key, Clock::time_point now) {
  auto found = counts.find(key);
  if (found == counts.end()) {
    // A guesser with many names or addresses pushes out the least recent, never grows
    // the bridge without bound.
    if (counts.size() >= limits_.tracked) {
      counts.erase(std::min_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
        return a.second.last < b.second.last;
      }));
    }
    found = counts.emplace(std::string(key), Count{}).first;
  }
  Count& count = found->second;
  if (count.failures > 0 && now - count.last >= limits_.memory) count.failures = 0;
  count.last = now;
  if (++count.failures < limits_.failures_before_lock) return false;
  const unsigned doublings = std::min(count.failures - limits_.failures_before_lock, 16u);
  const auto lock =
      std::min<Clock::duration>(limits_.first_lock * (1u << doublings), limits_.longest_lock);
  count.locked_until = now + lock;
  return count.failures == limits_.failures_before_lock;
}

LoginThrottle::Failure LoginThrottle::failed(std::string_view address, std::string_view user,
                                             Clock::time_point now) {
  Failure failure;
  failure.address_locked_now = count_failure(addresses_, address, now);
  // A name that no user can have is counted by its address alone: it takes no room here.
  if (valid_web_user_name(user)) failure.user_locked_now = count_failure(users_, user, now);
  return failure;
}

void LoginThrottle::succeeded(std::string_view address, std::string_view user) {
  if (const auto found = addresses_.find(address); found != addresses_.end())
    addresses_.erase(found);
  if (const auto found = users_.find(user); found != users_.end()) users_.erase(found);
}
