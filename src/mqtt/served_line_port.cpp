#include "mqtt/served_line_port.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <utility>

#include "mqtt/mosquitto_link.h"

ServedLinePort::ServedLinePort() : SessionServedPort(static_cast<unsigned long>(::getpid())) {}

ServedLinePort::~ServedLinePort() {
  forget_links();
}

std::unique_ptr<MosquittoSession> ServedLinePort::make_link(BrokerSettings settings,
                                                            MosquittoSession::LogLine log) {
  return std::make_unique<MosquittoLink>(std::move(settings), std::move(log));
}

void ServedLinePort::wait_for_broker(const std::function<bool()>& answered) {
  QEventLoop loop;
  QTimer poll;
  const QDeadlineTimer deadline(connect_patience);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (answered() || deadline.hasExpired()) loop.quit();
  });
  poll.start(10);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ServedLinePort::run_later(std::chrono::milliseconds delay, std::function<void()> task) {
  QTimer::singleShot(delay, this, std::move(task));
}
