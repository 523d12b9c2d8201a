#include "relay_panel/main_form.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "names/name_file_watcher.h"
#include "loop/poll_timer.h"
#include "panel/number_box_coupling.h"
#include "panel/port_tooltip.h"
#include "relay_panel/click_label.h"
#include "relay_panel/form_geometry.h"
#include "relay_panel/indicator_box.h"
#include "relay_panel/name_form.h"
#include "relay_panel/panel_icon.h"
#include "relay_panel/plain_text.h"
#include "relay_panel/spin_bar.h"
#include "mqtt/line_map.h"

namespace {
constexpr Qt::WindowFlags fixed_window_flags =
    Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;

std::optional<int> spin_number(const QString& text) {
  return ::spin_number(text.toStdString());
}

QString number_text(int value) {
  return QString::fromStdString(spin_text(value));
}

}  // namespace

main_form::main_form(const std::filesystem::path& program_dir, MessageBoxes& messages,
                     SerialPort& port, QWidget* parent)
    : main_form(name_file_path(program_dir), program_dir, messages, port, parent) {}

main_form::main_form(std::filesystem::path name_file, std::filesystem::path link_dir,
                     MessageBoxes& messages, SerialPort& port, QWidget* parent)
    : QWidget(parent, fixed_window_flags),
      link_dir_(std::move(link_dir)),
      port_(port),
      controls_(*this),
      core_({port, *this, *this, *this, *this, messages}, std::move(name_file)),
      rename_(std::make_unique<name_form>(core_.names(), messages)) {
  setObjectName(QStringLiteral("main_form"));
  // The panel's own caption, its line break included on purpose (not a slip); the name
  // file's title replaces it in set_up before the window is first shown.
  setWindowTitle(QStringLiteral("Corvanti\r\n"));
  setWindowIcon(two_cogs_icon());
  setFixedSize(client_size(main_form_geometry.client()));
  update_port_tooltip();
  controls_.port_box->installEventFilter(this);
  connect_handlers();
  centre_on_screen();
}

// The core releases the port's receive event and closes an open port as it goes.
main_form::~main_form() = default;

void main_form::connect_handlers() {
  const auto& c = controls_;
  connect(c.address_box, &QLineEdit::textChanged, this, &main_form::address_changed);
  connect(c.port_box, &QLineEdit::textChanged, this, &main_form::port_number_changed);
  connect(c.address_bar, &SpinBar::number_changed, this, &main_form::address_bar_changed);
  connect(c.port_bar, &SpinBar::number_changed, this, &main_form::port_bar_changed);
  connect(c.port_button, &QPushButton::clicked, this, &main_form::toggle_port);
  connect(c.open_all_button, &QPushButton::clicked, this, [this] { core_.poll().open_all(); });
  connect(c.close_all_button, &QPushButton::clicked, this, [this] { core_.poll().close_all(); });
  connect(c.poll_timer, &PollTimer::timeout, this, &main_form::tick);
  connect(rename_.get(), &name_form::name_stored, this, &main_form::address_changed);
  for (int relay = 1; relay <= relay_count; ++relay) {
    IndicatorBox* box = c.indicators[relay - 1];
    connect(box, &IndicatorBox::clicked, this, [this, relay] { relay_clicked(relay); });
    connect(box, &IndicatorBox::label_clicked, this,
            [this, relay] { state_caption_clicked(relay); });
    connect(c.name_labels[relay - 1], &ClickLabel::clicked, this,
            [this, relay] { name_clicked(relay); });
  }
}

void main_form::set_up() {
  core_.name_file().open_or_create();
  core_.names().load(address_text());
  // Other programs change names while the window runs.
  name_watcher_ =
      std::make_unique<NameFileWatcher>(core_.name_file().path(), [this] { name_file_changed(); });
}

// Never a message box from here: a file missing for a moment is not the operator's
// business while nobody asked for it. The names wait while the address box holds no
// number, as they do for typing.
void main_form::name_file_changed() {
  const bool address = spin_number(controls_.address_box->text()).has_value();
  core_.names().file_changed(address ? std::optional(address_text()) : std::nullopt);
}

// While the box is empty (the operator is typing a new address) the spin bar and the
// names stay as they are.
void main_form::address_changed() {
  const auto number = spin_number(controls_.address_box->text());
  if (!number) return;
  controls_.address_bar->set_number(*number);
  core_.names().load(address_text());
}

void main_form::use_line_owner(LineNames& names, FollowedLine& line) {
  core_.names().set_line_names(&names);
  core_.use_board_line(&line);
}

void main_form::port_number_changed() {
  if (const auto number = spin_number(controls_.port_box->text())) {
    controls_.port_bar->set_number(*number);
  }
  update_port_tooltip();
}

void main_form::address_bar_changed() {
  controls_.address_box->setText(number_text(controls_.address_bar->number()));
}

void main_form::port_bar_changed() {
  controls_.port_box->setText(number_text(controls_.port_bar->number()));
}

void main_form::toggle_port() {
  core_.port_control().toggle_port();
}

void main_form::tick() {
  core_.tick();
}

void main_form::relay_clicked(int index) {
  core_.poll().relay_clicked(static_cast<std::int16_t>(index));
}

void main_form::state_caption_clicked(int index) {
  core_.poll().state_caption_clicked(static_cast<std::int16_t>(index));
}

void main_form::name_clicked(int index) {
  rename_->address_text() = address_text();
  rename_->relay_text() = std::to_string(index);
  rename_->show_or_raise();
}

void main_form::set_window_caption(const std::string& caption) {
  setWindowTitle(plain_window_title(QString::fromStdString(caption)));
}

void main_form::set_name_label(int relay, const std::string& name) {
  controls_.show_name(relay, QString::fromStdString(name));
}

void main_form::paint(int relay, IndicatorState state) {
  controls_.indicators.at(relay - 1)->paint(state);
}

Colour main_form::box_colour(int relay) const {
  return controls_.indicators.at(relay - 1)->colour();
}

std::string main_form::port_number_text() const {
  return controls_.port_box->text().toStdString();
}

void main_form::set_open_all_enabled(bool enabled) {
  controls_.open_all_button->setEnabled(enabled);
}

void main_form::set_close_all_enabled(bool enabled) {
  controls_.close_all_button->setEnabled(enabled);
}

// Enabling a running timer leaves its rhythm alone.
void main_form::set_timer_enabled(bool enabled) {
  controls_.poll_timer->set_enabled(enabled);
}

void main_form::set_port_box_enabled(bool enabled) {
  controls_.port_box->setEnabled(enabled);
}

void main_form::set_open_button_caption(const std::string& caption) {
  controls_.port_button->setText(QString::fromStdString(caption));
}

std::string main_form::address_text() const {
  return controls_.address_box->text().toStdString();
}

// A rename still open would otherwise store its text into a window that is gone. The
// boards get their on_stop state while the port is still open.
void main_form::closeEvent(QCloseEvent* event) {
  rename_->close();
  core_.release_line();
  event->accept();
}

// The com<n> link beside the name file may appear after start (the operator starts a
// virtual board), so the tooltip is worked out afresh each time it is shown.
bool main_form::eventFilter(QObject* watched, QEvent* event) {
  if (watched == controls_.port_box && event->type() == QEvent::ToolTip) update_port_tooltip();
  return QWidget::eventFilter(watched, event);
}

void main_form::update_port_tooltip() {
  const std::string number = port_number_text();
  const std::string text =
      line_map_tooltip(number, link_dir_).value_or(port_tooltip(number, link_dir_));
  controls_.port_box->setToolTip(plain_tooltip(QString::fromStdString(text)));
}

void main_form::centre_on_screen() {
  if (const QScreen* where = screen()) {
    const QRect available = where->availableGeometry();
    move(available.center() - rect().center());
  }
}
