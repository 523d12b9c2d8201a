#include "daemon_host_windows.h"

#include <optional>

#include "mqtt/win_mosquitto_link.h"
#include "relay_panel_win/name_file_watch.h"
#include "serial/win_serial_port.h"

namespace {

constexpr UINT posted_message = WM_APP + 1;
constexpr UINT names_message = WM_APP + 2;

// The name file's watch posts to a window of its own, whose message the host's loop
// hands to `changed`.
struct NamesWatch {
  NamesWatch(const std::filesystem::path& file, std::function<void()> changed)
      : window([this, changed = std::move(changed)](UINT message, WPARAM, LPARAM) {
          if (message != names_message) return;
          watch->taken();
          changed();
        }),
        watch(std::make_unique<NameFileWatch>(file, window.handle(), names_message)) {}
  MessageWindow window;
  std::unique_ptr<NameFileWatch> watch;
};

}  // namespace

class WinDaemonHost::Timer final : public DaemonTimer {
 public:
  Timer(WinDaemonHost& host, std::function<void()> fired) : host_(host), fired_(std::move(fired)) {
    host_.timers_.insert(this);
  }
  ~Timer() override { host_.timers_.erase(this); }
  void start(std::chrono::milliseconds after) override {
    due = std::chrono::steady_clock::now() + after;
    host_.arm();
  }
  void stop() override { due.reset(); }
  void fire() {
    due.reset();
    fired_();
  }

  std::optional<std::chrono::steady_clock::time_point> due;

 private:
  WinDaemonHost& host_;
  std::function<void()> fired_;
};

WinDaemonHost::WinDaemonHost()
    : window_([this](UINT message, WPARAM wparam, LPARAM lparam) {
        on_message(message, wparam, lparam);
      }) {}

WinDaemonHost::~WinDaemonHost() = default;

std::unique_ptr<DaemonTimer> WinDaemonHost::timer(std::function<void()> fired, bool) {
  // Every timer is precise: they share the one waitable timer, which costs no more.
  return std::make_unique<Timer>(*this, std::move(fired));
}

void WinDaemonHost::post(std::function<void()> work) {
  {
    std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(work));
  }
  window_.post(posted_message);
}

std::shared_ptr<void> WinDaemonHost::watch_names(const std::filesystem::path& file,
                                                 std::function<void()> changed) {
  return std::make_shared<NamesWatch>(file, std::move(changed));
}

std::unique_ptr<MosquittoSession> WinDaemonHost::broker_link(BrokerSettings settings, LogLine log) {
  return std::make_unique<WinMosquittoLink>(std::move(settings), std::move(log));
}

DaemonPort WinDaemonHost::serial_port(const std::filesystem::path&) {
  // The COM port maps port numbers itself (COMn).
  auto port = std::make_unique<WinSerialPort>();
  auto lost = [port = port.get()] { return port->device_lost(); };
  return {std::move(port), lost};
}

void WinDaemonHost::arm() {
  std::optional<std::chrono::steady_clock::time_point> earliest;
  for (const Timer* timer : timers_) {
    if (timer->due && (!earliest || *timer->due < *earliest)) earliest = timer->due;
  }
  if (!earliest) return wake_.cancel();
  wake_.fire_in(*earliest - std::chrono::steady_clock::now());
}

void WinDaemonHost::fire_due() {
  // One at a time: a timer's work may stop or end the others.
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    Timer* due = nullptr;
    for (Timer* timer : timers_) {
      if (timer->due && *timer->due <= now && (!due || *timer->due < *due->due)) due = timer;
    }
    if (!due) break;
    due->fire();
  }
  arm();
}

void WinDaemonHost::on_message(UINT message, WPARAM, LPARAM) {
  if (message != posted_message) return;
  std::deque<std::function<void()>> work;
  {
    std::lock_guard lock(posted_mutex_);
    work.swap(posted_);
  }
  for (auto& each : work) each();
}

int WinDaemonHost::run() {
  // A system without high-resolution timers wakes to the millisecond only with the
  // timer resolution raised: the line's 50 ms rhythm needs it.
  const TimerResolution resolution(!wake_.high_resolution());
  const HANDLE wake = wake_.handle();
  while (!quit_) {
    MSG message;
    while (!quit_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (quit_) break;
    fire_due();
    if (quit_) break;
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_FAILED) return 1;
  }
  return *quit_;
}

void WinDaemonHost::quit(int status) {
  post([this, status] { quit_ = status; });
}
