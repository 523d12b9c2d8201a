#include "relay_panel_win/main_window.h"

#include <commctrl.h>

#include <utility>

#include "panel/form_geometry.h"
#include "panel/number_box_coupling.h"
#include "panel/poll_cycle.h"
#include "panel/port_tooltip.h"
#include "relay_panel_win/dpi_scale.h"
#include "relay_panel_win/win_text.h"
#include "relay_panel_win/window_class.h"
#include "mqtt/line_map.h"

namespace {
constexpr wchar_t window_class[] = L"relay_panel";
constexpr DWORD window_style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// What the name file's watch posts when the file may have changed.
constexpr UINT name_file_message = WM_APP + 10;

HWND create_window(void* self) {
  register_window_class(window_class);
  HWND window = CreateWindowExW(0, window_class, L"", window_style, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  return window;
}
}  // namespace

MainWindow::MainWindow(std::filesystem::path name_file, std::filesystem::path link_dir,
                       MessageBoxes& messages, SerialPort& port)
    : link_dir_(std::move(link_dir)),
      window_(create_window(this)),
      dpi_(window_dpi(window_)),
      fonts_(std::make_unique<PanelFonts>(dpi_)),
      controls_(std::make_unique<WindowControls>(window_)),
      core_({port, *this, *this, *this, *this, messages}, std::move(name_file)),
      poll_timer_(PollCycle::period, [this] { tick(); }),
      rename_(
          std::make_unique<RenameDialog>(core_.names(), messages, [this] { address_changed(); })) {
  SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(window_proc));
  // The panel's own caption, its line break included on purpose (not a slip); the name
  // file's title replaces it in set_up before the window is first shown.
  SetWindowTextW(window_, L"Corvanti\r\n");
  auto& c = *controls_;
  c.address.on_text_changed = [this] { address_changed(); };
  c.address.on_number_changed = [this] {
    controls_->address.set_text(spin_text(controls_->address.number()));
  };
  c.port.on_text_changed = [this] { port_number_changed(); };
  c.port.on_number_changed = [this] {
    controls_->port.set_text(spin_text(controls_->port.number()));
  };
  for (auto& box : c.indicators) {
    const int relay = box->relay();
    box->on_rename = [this, relay] { name_clicked(relay); };
  }
  lay_out();
  centre_on_screen();
  focus_ = c.port.box();
  // The poll runs from creation on, before any port is open; its frames are dropped
  // until one is.
  poll_timer_.set_enabled(true);
}

// The core releases the port's receive event and closes an open port as it goes.
MainWindow::~MainWindow() {
  poll_timer_.set_enabled(false);
  rename_.reset();
  if (window_) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void MainWindow::set_up() {
  core_.name_file().open_or_create();
  core_.names().load(address_text());
  name_watch_ =
      std::make_unique<NameFileWatch>(core_.name_file().path(), window_, name_file_message);
}

void MainWindow::show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  SetFocus(focus_);
}

bool MainWindow::dialog_message(MSG& message) {
  // Neither Enter nor Escape does anything behind the operator's back: no default
  // button, no cancel.
  if ((message.message == WM_CHAR || message.message == WM_KEYDOWN) &&
      (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE)) {
    return message.message == WM_CHAR;
  }
  if (rename_->handles(message)) return true;
  return IsDialogMessageW(window_, &message) != FALSE;
}

LRESULT CALLBACK MainWindow::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wparam, lparam);
  return self->handle(message, wparam, lparam);
}

LRESULT MainWindow::handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      command(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_NOTIFY:
      return notify(*reinterpret_cast<const NMHDR*>(lparam));
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lparam) == controls_->port.bar()) {
        controls_->port.bar_moved(wparam);
      }
      if (reinterpret_cast<HWND>(lparam) == controls_->address.bar()) {
        controls_->address.bar_moved(wparam);
      }
      return 0;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (const int relay = WindowControls::indicator_relay(static_cast<int>(item.CtlID))) {
        controls_->indicators[relay - 1]->draw(item, fonts_->label(), dpi_);
        return TRUE;
      }
      break;
    }
    case name_file_message:
      name_watch_->taken();
      name_file_changed();
      return 0;
    case WM_ACTIVATE:
      // The focus comes back to where the operator left it.
      if (LOWORD(wparam) == WA_INACTIVE) {
        if (HWND focused = GetFocus(); focused && IsChild(window_, focused)) focus_ = focused;
      } else if (HWND focused = GetFocus(); focused && IsChild(window_, focused)) {
        focus_ = focused;  // a click that activated the window put it there
      } else if (focus_ && IsWindowEnabled(focus_)) {
        SetFocus(focus_);
        return 0;
      }
      break;
    case WM_DPICHANGED:
      dpi_changed(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_CLOSE:
      // A second close while the boards get their on_stop state waits for the first.
      if (closing_) return 0;
      closing_ = true;
      // A rename still open would otherwise store its text into a window that is gone.
      rename_->close();
      // The boards get their on_stop state while the port is still open; the window
      // takes no input meanwhile.
      EnableWindow(window_, FALSE);
      core_.release_line();
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      poll_timer_.set_enabled(false);
      name_watch_.reset();
      window_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void MainWindow::command(int id, int code) {
  auto& c = *controls_;
  if (id == WindowControls::port_box_id && code == EN_CHANGE) c.port.box_changed();
  if (id == WindowControls::address_box_id && code == EN_CHANGE) c.address.box_changed();
  const bool clicked = code == BN_CLICKED || code == BN_DOUBLECLICKED;
  if (id == WindowControls::port_button_id && clicked) core_.port_control().toggle_port();
  if (id == WindowControls::open_all_id && clicked) core_.poll().open_all();
  if (id == WindowControls::close_all_id && clicked) core_.poll().close_all();
  if (const int relay = WindowControls::indicator_relay(id); relay && clicked) {
    relay_clicked(relay);
  }
  if (const int relay = WindowControls::name_relay(id); relay && code == STN_CLICKED) {
    name_clicked(relay);
  }
}

LRESULT MainWindow::notify(const NMHDR& header) {
  if (header.code != TTN_GETDISPINFOW) return 0;
  auto& info = *reinterpret_cast<NMTTDISPINFOW*>(const_cast<NMHDR*>(&header));
  const auto control = reinterpret_cast<HWND>(header.idFrom);
  static std::wstring text;  // must outlive this call: the tooltip copies it later
  if (control == controls_->port.box()) {
    // The port or served line that the number would open, worked out afresh each time
    // it shows.
    const std::string number = port_number_text();
    text = wide(line_map_tooltip(number, link_dir_).value_or(port_tooltip(number, link_dir_)));
  } else {
    text.clear();
    for (int relay = 1; relay <= relay_count; ++relay) {
      if (controls_->name_labels[relay - 1] == control) text = controls_->name_tip(relay);
    }
  }
  info.lpszText = text.data();
  return 0;
}

void MainWindow::dpi_changed(UINT dpi, const RECT& suggested) {
  dpi_ = dpi;
  // The controls let go of the old fonts before they are deleted.
  const auto old_fonts = std::exchange(fonts_, std::make_unique<PanelFonts>(dpi_));
  lay_out();
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(window_, nullptr, TRUE);
}

void MainWindow::lay_out() {
  controls_->lay_out(dpi_, *fonts_);
  const PixelRect client = main_form_geometry.client();
  const SIZE size = window_size_for_client(client.width, client.height, window_style, 0, dpi_);
  SetWindowPos(window_, nullptr, 0, 0, size.cx, size.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::centre_on_screen() {
  RECT frame;
  GetWindowRect(window_, &frame);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window_, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& area = monitor.rcWork;
  const int left = area.left + (area.right - area.left - (frame.right - frame.left)) / 2;
  const int top = area.top + (area.bottom - area.top - (frame.bottom - frame.top)) / 2;
  SetWindowPos(window_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// While the box is empty (the operator is typing a new address) the spin bar and the
// names stay as they are.
void MainWindow::address_changed() {
  if (following_owner_) core_.tick();
  const auto number = spin_number(address_text());
  if (!number) return;
  controls_->address.set_number(*number);
  core_.names().load(address_text());
}

// A tick on a line whose owner polls its boards only follows the addressed board, which
// changes with the box alone: the poll wakes nobody meanwhile.
void MainWindow::tick() {
  if (tick_runner_) {
    tick_runner_([this] { core_.tick(); });
  } else {
    core_.tick();
  }
  if (followed_line_ && followed_line_->board_level()) {
    following_owner_ = true;
    poll_timer_.set_enabled(false);
  }
}

void MainWindow::use_line_owner(LineNames& names, FollowedLine& line) {
  core_.names().set_line_names(&names);
  core_.use_board_line(&line);
  followed_line_ = &line;
}

void MainWindow::set_waiting(bool waiting) {
  if (waiting) waiting_focus_ = GetFocus();
  EnableWindow(window_, !waiting);
  SetCursor(LoadCursorW(nullptr, waiting ? IDC_WAIT : IDC_ARROW));
  if (!waiting && waiting_focus_) SetFocus(waiting_focus_);
}

void MainWindow::port_number_changed() {
  if (const auto number = spin_number(port_number_text())) controls_->port.set_number(*number);
}

void MainWindow::open_port(const std::string& number) {
  controls_->port.set_text(number);
  SendMessageW(controls_->port_button, BM_CLICK, 0, 0);
}

void MainWindow::relay_clicked(int relay) {
  // A click on the state caption inside the box does what one on the box does.
  const DWORD where = GetMessagePos();
  POINT point{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
  ScreenToClient(window_, &point);
  if (controls_->indicators[relay - 1]->on_caption(point, dpi_)) {
    core_.poll().state_caption_clicked(static_cast<std::int16_t>(relay));
  } else {
    core_.poll().relay_clicked(static_cast<std::int16_t>(relay));
  }
}

void MainWindow::name_clicked(int relay) {
  rename_->address_text() = address_text();
  rename_->relay_text() = std::to_string(relay);
  rename_->show_or_raise();
}

// Never a message box from here: a file missing for a moment is not the operator's
// business while nobody asked for it. The names wait while the address box holds no
// number, as they do for typing.
void MainWindow::name_file_changed() {
  const bool address = spin_number(address_text()).has_value();
  core_.names().file_changed(address ? std::optional(address_text()) : std::nullopt);
}

void MainWindow::set_window_caption(const std::string& caption) {
  SetWindowTextW(window_, wide(caption).c_str());
}

void MainWindow::set_name_label(int relay, const std::string& name) {
  controls_->show_name(relay, name);
}

void MainWindow::paint(int relay, IndicatorState state) {
  controls_->indicators.at(relay - 1)->paint(state);
}

Colour MainWindow::box_colour(int relay) const {
  return controls_->indicators.at(relay - 1)->colour();
}

std::string MainWindow::port_number_text() const {
  return controls_->port.text();
}

void MainWindow::set_open_all_enabled(bool enabled) {
  EnableWindow(controls_->open_all_button, enabled);
}

void MainWindow::set_close_all_enabled(bool enabled) {
  EnableWindow(controls_->close_all_button, enabled);
}

// Enabling a running timer leaves its rhythm alone.
void MainWindow::set_timer_enabled(bool enabled) {
  following_owner_ = false;
  poll_timer_.set_enabled(enabled);
}

// A disabled box cannot keep the focus: it goes on to the next control, as the
// keyboard would take it.
void MainWindow::set_port_box_enabled(bool enabled) {
  HWND box = controls_->port.box();
  if (!enabled && GetFocus() == box) SetFocus(GetNextDlgTabItem(window_, box, FALSE));
  if (!enabled && focus_ == box) focus_ = controls_->port_button;
  EnableWindow(box, enabled);
}

void MainWindow::set_open_button_caption(const std::string& caption) {
  SetWindowTextW(controls_->port_button, wide(caption).c_str());
}

std::string MainWindow::address_text() const {
  return controls_->address.text();
}
