#pragma once

#include <QObject>
#include <chrono>
#include <memory>

// The poll's metronome: fires every interval on the UI thread's event loop, on a
// fixed rhythm that does not drift and is not rounded to whole milliseconds, so
// that requests leave the panel evenly spaced. A tick that the event loop could not
// deliver in time is merged into the next one rather than fired in a burst.
class PollTimer : public QObject {
  Q_OBJECT

 public:
  explicit PollTimer(std::chrono::milliseconds interval, QObject* parent = nullptr);
  ~PollTimer() override;

  void start();
  void stop();
  bool isActive() const;
  // What a host does when the core switches the poll: enabling a running timer leaves
  // its rhythm alone.
  void set_enabled(bool enabled) {
    if (!enabled) {
      stop();
    } else if (!isActive()) {
      start();
    }
  }
  int interval() const { return static_cast<int>(interval_.count()); }

 signals:
  void timeout();

 private:
  struct Source;
  // Where the kernel timer is missing or refused: Qt's precise timer from then on.
  void use_fallback();
  void release_kernel_timer();
  std::chrono::milliseconds interval_;
  std::unique_ptr<Source> source_;
};
