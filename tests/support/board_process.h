#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>

// The virtual board, run as its own program the way an operator runs it. Started with
// the given options, it is ready once it has printed its device (empty when it did not
// come up in time); stopped when it goes.
class BoardProcess : public QProcess {
 public:
  // `channels`: the board's error output passes through to the caller's (the default)
  // or, with SeparateChannels, is kept for the caller to read.
  explicit BoardProcess(const QStringList& options,
                        ProcessChannelMode channels = ForwardedErrorChannel);
  // Another build of the board, e.g. an installed one: `prepare` sets the process up
  // (its environment, its user) before it starts.
  BoardProcess(const QString& program, const QStringList& options,
               const std::function<void(QProcess&)>& prepare);
  ~BoardProcess() override;
  BoardProcess(const BoardProcess&) = delete;
  BoardProcess& operator=(const BoardProcess&) = delete;

  // The device path the board prints each time it is plugged in.
  QString next_device();
  // SIGUSR1 pulls the board's plug, SIGUSR2 puts it back; SIGURG cuts its cable and
  // mends it at the next.
  void send(int signal) const;

  QString device;  // where the board came up; empty when it did not
};
