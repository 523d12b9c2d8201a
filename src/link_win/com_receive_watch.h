#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "link_win/waitable_timer.h"

// Tells, on a thread of its own, when bytes wait in an open line's input queue:
// `bytes_waiting` (again for later bytes), or `line_failed` once (and nothing more) when
// the line no longer answers, its device gone. Both run on the watch's thread;
// `bytes_waiting` says whether the owner will take the bytes in.
//
// It waits on the system's receive event where the driver reports one (Windows). Where
// the driver does not (Wine's serial emulation, whose receive-event wait ends at once
// with nothing), it looks at the input queue only while an answer is due: from a request
// until its answer is in, often at first and less often the later the answer, never
// while nothing is due. A look that finds bytes leaves the next step to the owner, who
// says whether the answer is in or more of it is due.
//
// The line must be opened for overlapped I/O and outlive the watch: destroying the watch
// stops the thread and waits for it, after which nothing touches the handle.
class ComReceiveWatch {
 public:
  ComReceiveWatch(HANDLE line, std::function<bool()> bytes_waiting,
                  std::function<void()> line_failed);
  ~ComReceiveWatch();
  ComReceiveWatch(const ComReceiveWatch&) = delete;
  ComReceiveWatch& operator=(const ComReceiveWatch&) = delete;

  // A request went out: its answer is due from now.
  void answer_due();
  // Part of the answer is in: the rest is due.
  void rest_due();
  // The answer is in: nothing is due until the next request.
  void answer_in();

  // How long after a look at the line, `since_request` after the request went out, the
  // next one comes while the answer is due: an answer is seen within a quarter of its
  // lateness and never more than 5 ms after it came.
  static std::chrono::microseconds next_look_in(std::chrono::microseconds since_request);

 private:
  using Clock = std::chrono::steady_clock;

  void run();
  bool wait_on_receive_events();
  void look_while_answers_due();
  enum class Look { Nothing, Told, Failed };
  Look look();
  // The next look for the answer asked for at `asked`, unless a newer one is due. Holds
  // the lock.
  void plan_next_look(Clock::time_point asked);

  HANDLE line_;
  std::function<bool()> bytes_waiting_;
  std::function<void()> line_failed_;
  HANDLE stop_ = nullptr;
  // Wakes the thread for a look; set by both threads, under the lock.
  WaitableTimer look_timer_;
  std::mutex lock_;
  bool looking_ = false;  // the system reports no receive events
  // When the answer now due was asked for; nothing is due without one.
  std::optional<Clock::time_point> due_since_;
  std::thread thread_;
};
