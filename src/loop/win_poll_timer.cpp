#include "loop/win_poll_timer.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "loop/message_window.h"
#include "loop/waitable_timer.h"

namespace {
constexpr UINT tick_message = WM_APP + 1;
constexpr UINT_PTR tick_timer_id = 1;
using Clock = std::chrono::steady_clock;

// Wine keeps a window's timer to the millisecond, on a rhythm that does not drift, and
// every tick of a pacing thread costs its server four calls more (the thread's wait, the
// post, and the window thread's wake and look at its queue): there the window's own
// timer paces the ticks. Windows rounds that timer to its 15.6 ms clock.
bool window_timers_keep_time() {
  const HMODULE system = GetModuleHandleW(L"ntdll.dll");
  return system && GetProcAddress(system, "wine_get_version") != nullptr;
}
}  // namespace

// The pacing thread and what it shares with the thread that made the timer. `active`,
// `generation` and `start` change only on the making thread, under the mutex.
struct WinPollTimer::Pacer {
  Pacer(std::chrono::milliseconds interval, std::function<void()> on_tick)
      : interval(interval),
        on_tick(std::move(on_tick)),
        window([this](UINT message, WPARAM wparam, LPARAM) {
          if (message == tick_message) take_tick(wparam);
          if (message == WM_TIMER && wparam == tick_timer_id && active) this->on_tick();
        }),
        wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        thread(window_timer ? std::thread() : std::thread([this] { run(); })) {}

  ~Pacer() {
    if (window_timer) KillTimer(window.handle(), tick_timer_id);
    {
      const std::lock_guard lock(mutex);
      quit = true;
    }
    SetEvent(wake);
    if (thread.joinable()) thread.join();
    CloseHandle(wake);
  }

  void run();
  void take_tick(WPARAM tag);

  const std::chrono::milliseconds interval;
  const std::function<void()> on_tick;
  const bool window_timer = window_timers_keep_time();
  MessageWindow window;
  WaitableTimer timer;
  HANDLE wake;
  std::mutex mutex;
  bool active = false;
  bool quit = false;
  std::uint64_t generation = 0;
  Clock::time_point start;
  // A tick posted and not yet taken: the next one merges into it.
  std::atomic<bool> tick_posted{false};
  std::thread thread;
};

void WinPollTimer::Pacer::run() {
  std::uint64_t paced_generation = 0;
  std::int64_t ticks = 0;
  // The timer repeats by itself where it can: setting it again for every tick costs
  // Wine's server a call each time.
  bool periodic = false;
  std::unique_ptr<TimerResolution> resolution;
  for (;;) {
    Clock::time_point started;
    std::uint64_t current = 0;
    bool running = false;
    {
      const std::lock_guard lock(mutex);
      if (quit) break;
      running = active;
      current = generation;
      started = start;
    }
    if (!running) {
      if (periodic) timer.cancel();
      periodic = false;
      resolution.reset();
      WaitForSingleObject(wake, INFINITE);
      continue;
    }
    if (!resolution) resolution = std::make_unique<TimerResolution>(!timer.high_resolution());
    if (current != paced_generation) {
      paced_generation = current;
      ticks = 0;
      periodic = timer.fire_every(interval);
    }
    const HANDLE waits[2] = {wake, timer.handle()};
    if (periodic) {
      // The system's periodic timer does not drift either, and ticks a stalled system
      // missed come as one signal.
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) continue;
    } else {
      // Due times count from the start, so that late wake-ups never add up to drift; the
      // ticks a stalled system missed are skipped, not made up for.
      const auto now = Clock::now();
      ticks = std::max(ticks + 1, static_cast<std::int64_t>((now - started) / interval) + 1);
      const auto due = started + ticks * std::chrono::duration_cast<Clock::duration>(interval);
      if (!timer.fire_in(due - now)) {
        // No timer at all: the wake event's timeout paces the ticks, to the millisecond.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now);
        if (WaitForSingleObject(wake, static_cast<DWORD>(left.count())) == WAIT_OBJECT_0) continue;
      } else if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
        timer.cancel();
        continue;
      }
    }
    // A queue too full to take the tick must not stop the ticks for good.
    if (!tick_posted.exchange(true) && !window.post(tick_message, static_cast<WPARAM>(current))) {
      tick_posted = false;
    }
  }
}

void WinPollTimer::Pacer::take_tick(WPARAM tag) {
  tick_posted = false;
  if (active && tag == static_cast<WPARAM>(generation)) on_tick();
}

WinPollTimer::WinPollTimer(std::chrono::milliseconds interval, std::function<void()> on_tick)
    : pacer_(std::make_unique<Pacer>(interval, std::move(on_tick))) {}

WinPollTimer::~WinPollTimer() = default;

void WinPollTimer::set_enabled(bool enabled) {
  if (enabled == pacer_->active) return;
  if (pacer_->window_timer) {
    pacer_->active = enabled;
    const HWND window = pacer_->window.handle();
    if (enabled) {
      SetTimer(window, tick_timer_id, static_cast<UINT>(pacer_->interval.count()), nullptr);
    } else {
      KillTimer(window, tick_timer_id);
    }
    return;
  }
  {
    const std::lock_guard lock(pacer_->mutex);
    pacer_->active = enabled;
    if (enabled) {
      ++pacer_->generation;
      pacer_->start = Clock::now();
    }
  }
  SetEvent(pacer_->wake);
}

bool WinPollTimer::is_active() const {
  return pacer_->active;
}

bool WinPollTimer::high_resolution() const {
  return pacer_->timer.high_resolution();
}
