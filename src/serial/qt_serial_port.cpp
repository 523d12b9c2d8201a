#include "serial/qt_serial_port.h"

#include <QEvent>
#include <algorithm>
#include <array>

#include "serial/qt_open_failure.h"
#include "serial/port_open.h"
#include "serial/serial_lock_file.h"
#include "serial/serial_platform.h"

// An empty folder stays empty: the panel then has no folder of links at all, not the
// current one.
QtSerialPort::QtSerialPort(const std::filesystem::path& program_dir)
    : program_dir_(program_dir.empty() ? program_dir : std::filesystem::absolute(program_dir)) {
  connect(&serial_, &QSerialPort::readyRead, this, &QtSerialPort::on_ready_read);
  connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::on_error);
  serial_.setReadBufferSize(read_buffer_bound);
  reopen_timer_.setInterval(reopen_interval);
  connect(&reopen_timer_, &QTimer::timeout, this, &QtSerialPort::look_for_device);
}

QtSerialPort::~QtSerialPort() {
  close();
}

OpenResult QtSerialPort::open() {
  open_notice_.clear();
  OpenResult result =
      open_selected_device(number_, named_device_, program_dir_, open_,
                           [this](const std::string& device) { return open_line(device); });
  if (!result.ok) return result;
  result.notice = std::move(open_notice_);
  device_ = result.device;
  open_ = true;
  start_session();
  return result;
}

std::optional<std::string> QtSerialPort::open_line(const std::string& device, bool again) {
  // Opened by the device's own name, so that QSerialPort's lock file, too, is the
  // device's and not that of one link to it.
  serial_.setPortName(QString::fromStdString(device_node(device)));
  serial_.setBaudRate(QSerialPort::Baud9600);
  serial_.setDataBits(QSerialPort::Data8);
  serial_.setParity(QSerialPort::NoParity);
  serial_.setStopBits(QSerialPort::OneStop);
  serial_.setFlowControl(QSerialPort::NoFlowControl);

  // QSerialPort opens exclusively: a lock file that other serial programs honour, and
  // the line's exclusive mode against anyone else but root; the device lock holds
  // against root too.
  if (auto refusal = lock_file_refusal(device_node(device))) return refusal;
  configuring_ = true;
  if (!serial_.open(QIODevice::ReadWrite)) {
    configuring_ = false;
    const auto error = serial_.error();
    const std::string text = serial_.errorString().toStdString();
    serial_.clearError();
    const DeviceAccess access = probe_device_access(device);
    // A lock file is refused as a permission error too; one that keeps nobody's line
    // does not make the port busy.
    if (error == QSerialPort::PermissionError && access.read_write && !again) {
      if (const auto lock = clear_stale_lock(device_node(device))) {
        if (lock->removed) {
          open_notice_ = stale_lock_notice(*lock);
          return open_line(device, true);
        }
        return stale_lock_reason(*lock);
      }
    }
    return open_failure_reason(error, text, access, device);
  }
  if (!lock_line(serial_.handle())) {
    serial_.close();
    serial_.clearError();
    configuring_ = false;
    return device_busy_reason(device);
  }
  // A line without modem control (a pseudo-terminal) refuses these; the board does
  // not need them, so that is no reason to fail.
  serial_.setDataTerminalReady(true);
  serial_.setRequestToSend(false);
  // A fresh port starts with an empty input buffer: whatever reached the line while it
  // was closed (a late answer, when another program holds the device too) is stale.
  serial_.clear(QSerialPort::Input);
  serial_.clearError();
  configuring_ = false;
  watch_line();
  return std::nullopt;
}

void QtSerialPort::start_session() {
  lost_ = false;
  event_posted_ = false;
  ++session_;
  reopen_timer_.stop();
}

void QtSerialPort::close() {
  if (serial_.isOpen()) {
    serial_.clear(QSerialPort::Input);
    if (!taking_input_) {
      serial_.close();
    } else {
      // A receive handler closed the line: closing QSerialPort would delete the
      // notifier whose event is on its way, so that waits for the next pass.
      QMetaObject::invokeMethod(
          this,
          [this, session = session_ + 1] {
            if (session == session_ && serial_.isOpen()) serial_.close();
          },
          Qt::QueuedConnection);
    }
  }
  input_.clear();
  serial_.clearError();
  open_ = false;
  start_session();
}

void QtSerialPort::discard_input() {
  if (!line_usable()) return;
  input_.clear();
  // A read error or a full input stops the watch on the line; each request watches it
  // again, so that an error that persists costs one try a tick, not a busy loop.
  if (read_notifier_ && !read_notifier_->isEnabled()) read_notifier_->setEnabled(true);
  // Empties the driver's input queue, and the bytes QSerialPort took in where it reads.
  serial_.clear(QSerialPort::Input);
}

void QtSerialPort::write(std::span<const std::uint8_t> bytes) {
  if (!line_usable()) return;
  // The request's answer is read even where no discard came before it.
  if (read_notifier_ && !read_notifier_->isEnabled()) read_notifier_->setEnabled(true);
  // Straight to the driver, now: through QSerialPort each request would also wake the
  // event loop and watch the line for room, three system calls besides the write.
  const std::size_t written = write_line(serial_.handle(), bytes);
  if (written == bytes.size()) return;
  const auto rest = bytes.subspan(written);
  serial_.write(reinterpret_cast<const char*>(rest.data()), static_cast<qint64>(rest.size()));
  serial_.flush();
}

void QtSerialPort::set_receive_handler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

std::size_t QtSerialPort::bytes_waiting() const {
  if (!line_usable()) return 0;
  return input_.size();
}

std::optional<std::uint8_t> QtSerialPort::read_byte() {
  if (!line_usable() || input_.empty()) return std::nullopt;
  const std::uint8_t byte = input_.front();
  input_.pop_front();
  return byte;
}

void QtSerialPort::take_input() {
  std::array<std::uint8_t, 512> buffer{};
  const std::size_t room =
      std::min(buffer.size(), static_cast<std::size_t>(read_buffer_bound) -
                                  std::min<std::size_t>(input_.size(), read_buffer_bound));
  if (room == 0) {
    read_notifier_->setEnabled(false);
    return;
  }
  const LineRead got = read_line(serial_.handle(), std::span(buffer.data(), room));
  if (got.state == LineState::HungUp) {
    if (device_gone(serial_.handle(), device_)) {
      lose_device();
    } else {
      read_notifier_->setEnabled(false);  // until the next request
    }
    return;
  }
  input_.insert(input_.end(), buffer.begin(), buffer.begin() + static_cast<long>(got.count));
  // Beyond the bound the bytes wait in the driver until the next request drops them.
  if (input_.size() >= static_cast<std::size_t>(read_buffer_bound)) {
    read_notifier_->setEnabled(false);
  }
  if (got.count == 0 || !handler_ || input_.size() < static_cast<std::size_t>(threshold_)) return;
  taking_input_ = true;
  handler_();
  taking_input_ = false;
}

void QtSerialPort::on_ready_read() {
  if (!line_usable()) return;
  // Where QSerialPort reads the line itself (no descriptor to watch), its bytes join
  // the port's input.
  const QByteArray bytes = serial_.readAll();
  input_.insert(input_.end(), bytes.begin(), bytes.end());
  if (event_posted_) return;
  // The receive event reaches the panel as an event of its own, never nested in
  // whatever QSerialPort was doing when the bytes came in.
  event_posted_ = true;
  QMetaObject::invokeMethod(
      this, [this, session = session_] { deliver_receive_event(session); }, Qt::QueuedConnection);
}

void QtSerialPort::deliver_receive_event(std::uint64_t session) {
  if (session != session_) return;
  event_posted_ = false;
  if (!line_usable() || !handler_) return;
  if (input_.size() >= static_cast<std::size_t>(threshold_)) handler_();
}

void QtSerialPort::on_error(QSerialPort::SerialPortError error) {
  if (configuring_ || !line_usable() || error == QSerialPort::NoError) return;
  // QSerialPort calls a read that found nothing a read error, and an empty or busy
  // line a resource error, as it does a pulled adapter: only the device can tell.
  const bool line_error = error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
                          error == QSerialPort::WriteError;
  if (line_error && device_gone(serial_.handle(), device_)) {
    lose_device();
    return;
  }
  serial_.clearError();
}

void QtSerialPort::watch_line() {
  // QSerialPort would read whenever its notifier wakes it, then ask for an event of its
  // own to tell of the bytes: the port reads the line itself instead, once a wake-up,
  // and hands a whole answer on at once. A wake-up can come late, after a request has
  // emptied the line (a stalled panel, a late answer), and a hung-up line wakes it for
  // ever with nothing to read: neither reaches QSerialPort, which takes them for errors.
  read_notifier_.clear();
  for (auto* notifier : serial_.findChildren<QSocketNotifier*>()) {
    if (notifier->type() != QSocketNotifier::Read) continue;
    notifier->installEventFilter(this);
    if (notifier->socket() == static_cast<qintptr>(serial_.handle())) read_notifier_ = notifier;
  }
}

bool QtSerialPort::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::SockAct || watched != read_notifier_) {
    return QObject::eventFilter(watched, event);
  }
  if (line_usable()) take_input();
  return true;
}

void QtSerialPort::lose_device() {
  if (lost_) return;
  lost_ = true;
  // Released on the next pass of the event loop: QSerialPort may be inside the very
  // notifier that closing it deletes.
  QMetaObject::invokeMethod(
      this,
      [this, session = session_] {
        if (session == session_ && serial_.isOpen()) serial_.close();
        serial_.clearError();
      },
      Qt::QueuedConnection);
  reopen_timer_.start();
}

void QtSerialPort::look_for_device() {
  if (!open_ || !lost_) {
    reopen_timer_.stop();
    return;
  }
  // Still released, or the device file not back yet: the next look is a second away.
  if (serial_.isOpen() || !device_present(device_)) return;
  if (open_line(device_)) return;
  start_session();
}
