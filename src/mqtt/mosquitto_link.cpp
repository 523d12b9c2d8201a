#include "mqtt/mosquitto_link.h"

MosquittoLink::MosquittoLink(BrokerSettings settings, LogLine log)
    : MosquittoSession(std::move(settings), std::move(log)) {
  retry_timer_.setSingleShot(true);
  leave_timer_.setSingleShot(true);
  for (const Timer which : {Timer::keep_alive, Timer::retry, Timer::leave}) {
    connect(&timer(which), &QTimer::timeout, this, [this, which] { timer_fired(which); });
  }
}

MosquittoLink::~MosquittoLink() {
  forget_socket();
}

QTimer& MosquittoLink::timer(Timer which) {
  switch (which) {
    case Timer::keep_alive:
      return misc_timer_;
    case Timer::retry:
      return retry_timer_;
    case Timer::leave:
      break;
  }
  return leave_timer_;
}

void MosquittoLink::watch_socket(int socket) {
  forget_socket();
  if (socket < 0) return;
  reader_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
  connect(reader_.get(), &QSocketNotifier::activated, this, [this] { read_ready(); });
  writer_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
  connect(writer_.get(), &QSocketNotifier::activated, this, [this] { write_ready(); });
}

void MosquittoLink::forget_socket() {
  // Possibly inside the notifier's own signal: it goes once that has returned.
  for (auto* notifier : {reader_.release(), writer_.release()}) {
    if (!notifier) continue;
    notifier->setEnabled(false);
    notifier->deleteLater();
  }
}

void MosquittoLink::want_write(bool wanted) {
  if (writer_) writer_->setEnabled(wanted);
}

void MosquittoLink::start_timer(Timer which, std::chrono::milliseconds after) {
  timer(which).start(after);
}

void MosquittoLink::stop_timer(Timer which) {
  timer(which).stop();
}

void MosquittoLink::later(std::function<void()> work) {
  QTimer::singleShot(0, this, std::move(work));
}
