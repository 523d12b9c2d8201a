#include "loop/waitable_timer.h"

#include <mmsystem.h>

#include <algorithm>

namespace {
// Not in every SDK's headers; systems before Windows 10 1803 refuse it.
constexpr DWORD high_resolution_flag = 0x00000002;
}  // namespace

WaitableTimer::WaitableTimer() {
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, high_resolution_flag, TIMER_ALL_ACCESS);
  high_resolution_ = timer_ != nullptr;
  if (!timer_) timer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
}

WaitableTimer::~WaitableTimer() {
  if (timer_) CloseHandle(timer_);
}

bool WaitableTimer::fire_in(std::chrono::nanoseconds delay) {
  // Negative: a span from now, in 100 ns units; never zero, which would mean an absolute
  // time long past.
  LARGE_INTEGER due;
  due.QuadPart = -std::max<long long>(1, delay.count() / 100);
  return SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE) != 0;
}

bool WaitableTimer::fire_every(std::chrono::milliseconds period) {
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<long long>(period.count()) * 10'000;
  return SetWaitableTimer(timer_, &due, static_cast<LONG>(period.count()), nullptr, nullptr,
                          FALSE) != 0;
}

TimerResolution::TimerResolution(bool needed) {
  raised_ = needed && timeBeginPeriod(1) == TIMERR_NOERROR;
}

TimerResolution::~TimerResolution() {
  if (raised_) timeEndPeriod(1);
}
