#include "serial/win_serial_port.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>

#include "serial/port_device.h"
#include "serial/com_line_open.h"
#include "serial/com_receive_watch.h"
#include "loop/message_window.h"

namespace {

constexpr UINT bytes_waiting_message = WM_APP + 1;
constexpr UINT line_failed_message = WM_APP + 2;
constexpr UINT no_receive_events_message = WM_APP + 3;
constexpr UINT_PTR reopen_timer_id = 1;
constexpr UINT_PTR look_timer_id = 2;

}  // namespace

struct WinSerialPort::Line {
  Line() : window([this](UINT message, WPARAM wparam, LPARAM) { on_message(message, wparam); }) {
    // The low bit set: no completion is queued for them, which costs a call to Wine's
    // server for every read and write.
    io.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(io_done) | 1);
  }
  ~Line() { CloseHandle(io_done); }

  bool usable() const { return open && !lost; }
  void on_message(UINT message, WPARAM wparam);
  void start_session();
  void watch();
  void release_handle();
  // `waiting`: what the driver was just seen to hold, if known.
  static constexpr DWORD unknown = MAXDWORD;
  void take_in(DWORD waiting = unknown);
  // For a read or write on a line opened overlapped.
  OVERLAPPED* overlapped_io() { return overlapped ? &io : nullptr; }
  // Waits for the read or write just started where it is overlapped; false: it failed.
  bool finish(BOOL started, DWORD& transferred);
  void deliver(WPARAM session_tag, DWORD waiting = unknown);
  void check_line();
  void lose_device();
  void look_for_device();
  void release_hold();
  void answer_due();
  void answer_in();
  void look();

  MessageWindow window;
  std::int16_t number = 0;
  std::string named_device;
  std::string device;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool overlapped = false;
  LineClaim claim;
  std::unique_ptr<ComReceiveWatch> receive_watch;
  // Signals the end of this thread's reads and writes, which it waits for.
  HANDLE io_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED io{};
  std::deque<std::uint8_t> buffer;
  std::function<void()> handler;
  int threshold = 1;
  bool open = false;
  bool lost = false;
  // The buffer is full: the receive watch's posting stays blocked until room is made.
  bool held = false;
  // One message at a time: set by the receive watch when it posts, cleared as the bytes
  // are taken in.
  std::atomic<bool> posted{false};
  // No receive events: the line is looked at while an answer is due, on the look timer.
  bool looking = false;
  bool look_timer_on = false;
  // A host's tick is under way: its request is looked at on the next tick.
  bool ticking = false;
  LineCounts counts;
  // Counts opens, reopens and closes, so that a message posted for an earlier line is
  // dropped.
  std::uint64_t session = 0;
};

void WinSerialPort::Line::on_message(UINT message, WPARAM wparam) {
  switch (message) {
    case bytes_waiting_message:
      deliver(wparam);
      break;
    case line_failed_message:
      if (wparam == static_cast<WPARAM>(session) && usable()) lose_device();
      break;
    case no_receive_events_message:
      if (wparam != static_cast<WPARAM>(session) || !usable()) break;
      receive_watch.reset();
      looking = true;
      // An answer may be due already.
      answer_due();
      break;
    case WM_TIMER:
      if (wparam == reopen_timer_id) look_for_device();
      if (wparam == look_timer_id) look();
      break;
    default:
      break;
  }
}

void WinSerialPort::Line::start_session() {
  lost = false;
  held = false;
  posted = false;
  buffer.clear();
  ++session;
  KillTimer(window.handle(), reopen_timer_id);
  answer_in();
}

void WinSerialPort::Line::answer_due() {
  if (!looking || ticking) return;
  look_timer_on = SetTimer(window.handle(), look_timer_id, static_cast<UINT>(look_interval.count()),
                           nullptr) != 0;
}

void WinSerialPort::Line::answer_in() {
  if (look_timer_on) KillTimer(window.handle(), look_timer_id);
  look_timer_on = false;
}

void WinSerialPort::Line::look() {
  if (!usable()) return;
  ++counts.looks;
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle, &errors, &status)) {
    lose_device();
  } else if (status.cbInQue > 0 && !posted) {
    deliver(static_cast<WPARAM>(session), status.cbInQue);
  }
}

// Where the driver reports receive events, a watch waits on them; elsewhere this thread
// looks at the line itself, only while an answer is due.
void WinSerialPort::Line::watch() {
  looking = !overlapped;
  if (looking) return;
  const WPARAM tag = static_cast<WPARAM>(session);
  receive_watch = std::make_unique<ComReceiveWatch>(
      handle,
      [this, tag] {
        // A queue too full to take the message is asked again with the next bytes.
        if (!posted.exchange(true) && !window.post(bytes_waiting_message, tag)) posted = false;
      },
      [this, tag](bool device_gone) {
        window.post(device_gone ? line_failed_message : no_receive_events_message, tag);
      });
}

void WinSerialPort::Line::release_handle() {
  // The receive watch stops before the handle closes, never after.
  receive_watch.reset();
  if (handle == INVALID_HANDLE_VALUE) return;
  CloseHandle(handle);
  handle = INVALID_HANDLE_VALUE;
  claim.release();
}

// Reads no more than the driver holds: Wine's overlapped read waits for the bytes it
// was asked for, whatever the line's read timeouts say.
void WinSerialPort::Line::take_in(DWORD waiting) {
  while (buffer.size() < read_buffer_bound) {
    DWORD errors = 0;
    COMSTAT status{};
    if (waiting != unknown) {
      // Just seen by the look: bytes that come after it wait for the next look.
      status.cbInQue = waiting;
    } else if (!ClearCommError(handle, &errors, &status)) {
      lose_device();
      return;
    }
    std::uint8_t chunk[512];
    const DWORD wanted = static_cast<DWORD>(
        std::min<std::size_t>({sizeof chunk, read_buffer_bound - buffer.size(), status.cbInQue}));
    if (wanted == 0) return;
    DWORD got = 0;
    if (!finish(ReadFile(handle, chunk, wanted, &got, overlapped_io()), got)) {
      check_line();
      return;
    }
    buffer.insert(buffer.end(), chunk, chunk + got);
    if (got < wanted || got == waiting) return;
    waiting = unknown;
  }
}

bool WinSerialPort::Line::finish(BOOL started, DWORD& transferred) {
  if (!overlapped || (!started && GetLastError() != ERROR_IO_PENDING)) return started != 0;
  // Reads return at once with what waits; a write ends within the line's write timeout.
  return GetOverlappedResult(handle, &io, &transferred, TRUE) != 0;
}

void WinSerialPort::Line::deliver(WPARAM session_tag, DWORD waiting) {
  if (session_tag != static_cast<WPARAM>(session)) return;
  if (!usable()) return;
  // Bytes that come while these are taken in are told again: the system's receive event
  // is not raised twice for them.
  if (buffer.size() < read_buffer_bound) posted = false;
  take_in(waiting);
  if (!usable()) return;
  // A full buffer keeps the receive watch quiet until a read or a discard makes room.
  if (buffer.size() >= read_buffer_bound) {
    posted = true;
    held = true;
  }
  if (buffer.size() < static_cast<std::size_t>(std::max(threshold, 0))) return;
  answer_in();
  if (handler) handler();
}

// What waits in the driver raises no new receive event: it is taken in at once.
void WinSerialPort::Line::release_hold() {
  if (!held || buffer.size() >= read_buffer_bound) return;
  held = false;
  posted = window.post(bytes_waiting_message, static_cast<WPARAM>(session));
}

// Only the device can tell a failed read or write from a line that is merely idle.
void WinSerialPort::Line::check_line() {
  DWORD errors = 0;
  if (!ClearCommError(handle, &errors, nullptr)) lose_device();
}

void WinSerialPort::Line::lose_device() {
  if (lost) return;
  lost = true;
  answer_in();
  release_handle();
  buffer.clear();
  SetTimer(window.handle(), reopen_timer_id, static_cast<UINT>(reopen_interval.count()), nullptr);
}

void WinSerialPort::Line::look_for_device() {
  if (!open || !lost) {
    KillTimer(window.handle(), reopen_timer_id);
    return;
  }
  // Not back yet: the next look is a second away.
  OpenedLine line = open_com_line(device);
  if (line.handle == INVALID_HANDLE_VALUE) return;
  handle = line.handle;
  overlapped = line.overlapped;
  claim = std::move(line.claim);
  start_session();
  watch();
}

WinSerialPort::WinSerialPort() : line_(std::make_unique<Line>()) {}

WinSerialPort::~WinSerialPort() {
  close();
}

bool WinSerialPort::is_open() const {
  return line_->open;
}

void WinSerialPort::select_port(std::int16_t number) {
  line_->number = number;
  line_->named_device.clear();
}

void WinSerialPort::select_device(std::string path) {
  line_->named_device = std::move(path);
}

OpenResult WinSerialPort::open() {
  Line& line = *line_;
  const auto device = line.named_device.empty() ? port_device(line.number, {})
                                                : std::optional<std::string>(line.named_device);
  if (!device) return {false, {}, "no port has this number"};
  if (line.open) return {false, *device, "the port is already open"};
  OpenedLine opened = open_com_line(*device);
  if (opened.handle == INVALID_HANDLE_VALUE) {
    return {false, *device, opened_line_failure(opened, *device)};
  }
  line.handle = opened.handle;
  line.overlapped = opened.overlapped;
  line.claim = std::move(opened.claim);
  line.device = *device;
  line.open = true;
  line.start_session();
  line.watch();
  return {true, *device, {}};
}

void WinSerialPort::close() {
  Line& line = *line_;
  if (line.handle != INVALID_HANDLE_VALUE) {
    line.receive_watch.reset();
    PurgeComm(line.handle, PURGE_RXCLEAR | PURGE_RXABORT);
  }
  line.release_handle();
  line.open = false;
  line.start_session();
}

void WinSerialPort::discard_input() {
  Line& line = *line_;
  if (!line.usable()) return;
  // Empties both the driver's input queue and the bytes already taken in. Most requests
  // find the queue empty, and asking costs Wine's server no call where purging does.
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(line.handle, &errors, &status) || status.cbInQue > 0) {
    PurgeComm(line.handle, PURGE_RXCLEAR);
  }
  line.buffer.clear();
  line.release_hold();
}

void WinSerialPort::write(std::span<const std::uint8_t> bytes) {
  Line& line = *line_;
  if (!line.usable() || bytes.empty()) return;
  DWORD written = 0;
  if (!line.finish(WriteFile(line.handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                             line.overlapped_io()),
                   written)) {
    line.check_line();
    return;
  }
  ++line.counts.requests;
  line.answer_due();
}

void WinSerialPort::on_tick(const std::function<void()>& tick) {
  Line& line = *line_;
  if (!line.looking) {
    tick();
    return;
  }
  // The last request's answer has had a whole tick to come in.
  line.look();
  line.ticking = true;
  tick();
  line.ticking = false;
}

void WinSerialPort::set_receive_threshold(int bytes) {
  line_->threshold = bytes;
}

void WinSerialPort::set_receive_handler(std::function<void()> handler) {
  line_->handler = std::move(handler);
}

std::size_t WinSerialPort::bytes_waiting() const {
  if (!line_->usable()) return 0;
  return line_->buffer.size();
}

std::optional<std::uint8_t> WinSerialPort::read_byte() {
  Line& line = *line_;
  if (!line.usable() || line.buffer.empty()) return std::nullopt;
  const std::uint8_t byte = line.buffer.front();
  line.buffer.pop_front();
  line.release_hold();
  return byte;
}

WinSerialPort::LineCounts WinSerialPort::counts() const {
  return line_->counts;
}

bool WinSerialPort::device_lost() const {
  return line_->open && line_->lost;
}
