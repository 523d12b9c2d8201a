#pragma once

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <map>

#include "loop/descriptor_loop.h"

// Qt's event loop as a descriptor loop, for the Qt programs' serial line: a socket
// notifier for each direction a descriptor is watched for, made when it is first asked
// for, and a timer for each timer. A watch
// or timer removed from within its own handler is disabled at once and deleted on the
// loop's next pass, never under the notifier that is calling it.
class QtDescriptorLoop final : public DescriptorLoop {
 public:
  // The loop of the program's one thread (the one QCoreApplication runs).
  static QtDescriptorLoop& program();

  QtDescriptorLoop() = default;
  ~QtDescriptorLoop() override;
  QtDescriptorLoop(const QtDescriptorLoop&) = delete;
  QtDescriptorLoop& operator=(const QtDescriptorLoop&) = delete;

  Id watch(int fd, short events, std::function<void(short revents)> ready) override;
  void set_events(Id watch, short events) override;
  short events(Id watch) const override;
  void unwatch(Id watch) override;
  Id start_timer(Clock::duration after, std::function<void()> fired,
                 Clock::duration repeat = Clock::duration::zero()) override;
  void stop_timer(Id timer) override;

 private:
  struct Watch {
    int fd = -1;
    short events = 0;
    std::function<void(short)> ready;
    QPointer<QSocketNotifier> read;
    QPointer<QSocketNotifier> write;
  };
  Id next_id_ = 1;
  std::map<Id, Watch> watches_;
  std::map<Id, QPointer<QTimer>> timers_;
};
