#include "link_win/com_receive_watch.h"

#include <algorithm>

namespace {

using std::chrono::microseconds;

}  // namespace

ComReceiveWatch::ComReceiveWatch(HANDLE line, std::function<bool()> bytes_waiting,
                                 std::function<void()> line_failed)
    : line_(line),
      bytes_waiting_(std::move(bytes_waiting)),
      line_failed_(std::move(line_failed)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      thread_([this] { run(); }) {}

ComReceiveWatch::~ComReceiveWatch() {
  SetEvent(stop_);
  thread_.join();
  CloseHandle(stop_);
}

void ComReceiveWatch::answer_due() {
  const std::lock_guard hold(lock_);
  due_since_ = Clock::now();
  if (looking_) look_timer_.fire_in(next_look_in(microseconds(0)));
}

void ComReceiveWatch::rest_due() {
  const std::lock_guard hold(lock_);
  if (looking_ && due_since_) plan_next_look(*due_since_);
}

void ComReceiveWatch::answer_in() {
  const std::lock_guard hold(lock_);
  due_since_.reset();
}

microseconds ComReceiveWatch::next_look_in(microseconds since_request) {
  return std::clamp(since_request / 4, microseconds(1000), microseconds(5000));
}

void ComReceiveWatch::plan_next_look(Clock::time_point asked) {
  if (due_since_ != asked) return;
  const auto now = Clock::now();
  const auto since = std::chrono::duration_cast<microseconds>(now - asked);
  look_timer_.fire_in(next_look_in(since));
}

void ComReceiveWatch::run() {
  if (!wait_on_receive_events()) look_while_answers_due();
}

ComReceiveWatch::Look ComReceiveWatch::look() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(line_, &errors, &status)) {
    line_failed_();
    return Look::Failed;
  }
  if (status.cbInQue == 0) return Look::Nothing;
  return bytes_waiting_() ? Look::Told : Look::Nothing;
}

// True once the watch is done (stopped, or the line failed); false when the driver
// reports no receive events.
bool ComReceiveWatch::wait_on_receive_events() {
  if (!SetCommMask(line_, EV_RXCHAR)) return false;
  OVERLAPPED wait{};
  wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wait.hEvent) return false;
  bool done = false;
  for (;;) {
    DWORD events = 0;
    ResetEvent(wait.hEvent);
    bool reported = WaitCommEvent(line_, &events, &wait) != 0;
    if (!reported && GetLastError() == ERROR_IO_PENDING) {
      // Bytes that came before the wait began raise no event of their own.
      done = look() == Look::Failed;
      const HANDLE waits[2] = {stop_, wait.hEvent};
      DWORD ignored = 0;
      if (done || WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        CancelIo(line_);
        GetOverlappedResult(line_, &wait, &ignored, TRUE);
        done = true;
        break;
      }
      reported = GetOverlappedResult(line_, &wait, &ignored, FALSE) != 0;
    }
    // A wait that ends with no receive: the device is gone, or its driver has no events.
    if (!reported || (events & EV_RXCHAR) == 0) {
      DWORD errors = 0;
      done = !ClearCommError(line_, &errors, nullptr);
      if (done) line_failed_();
      break;
    }
    if (look() == Look::Failed) {
      done = true;
      break;
    }
  }
  CloseHandle(wait.hEvent);
  return done;
}

void ComReceiveWatch::look_while_answers_due() {
  // A plain timer, or none, wakes the thread to the millisecond only at a raised
  // resolution.
  const bool timed = look_timer_.handle() != nullptr;
  const TimerResolution resolution(!timed || !look_timer_.high_resolution());
  {
    const std::lock_guard hold(lock_);
    looking_ = true;
    if (due_since_) plan_next_look(*due_since_);
  }
  const HANDLE waits[2] = {stop_, look_timer_.handle()};
  for (;;) {
    // Without a timer, every millisecond while an answer is due.
    const DWORD woken =
        timed ? WaitForMultipleObjects(2, waits, FALSE, INFINITE) : WaitForSingleObject(stop_, 1);
    if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) break;
    std::optional<Clock::time_point> due;
    {
      const std::lock_guard hold(lock_);
      due = due_since_;
    }
    if (!due) continue;
    const Look found = look();
    if (found == Look::Failed) break;
    // Bytes told: the owner says what is due next.
    if (found == Look::Nothing && timed) {
      const std::lock_guard hold(lock_);
      plan_next_look(*due);
    }
  }
  if (timed) look_timer_.cancel();
}
