#include "relay_panel/accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QWidget>
#include <utility>

#include "relay_panel/indicator_box.h"
#include "relay_panel/spin_bar.h"

namespace {
constexpr char hidden_property[] = "relay_hidden_from_screen_readers";
AnnouncementListener announcement_listener = nullptr;

void announce(QAccessibleEvent& event) {
  if (announcement_listener) announcement_listener(&event);
  QAccessible::updateAccessibility(&event);
}

// A widget whose children a screen reader sees without the hidden ones.
class ListedChildren : public QAccessibleWidget {
 public:
  using QAccessibleWidget::QAccessibleWidget;

  int childCount() const override { return static_cast<int>(listed().size()); }
  QAccessibleInterface* child(int index) const override {
    const QList<QWidget*> children = listed();
    if (index < 0 || index >= children.size()) return nullptr;
    return QAccessible::queryAccessibleInterface(children[index]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    if (!child) return -1;
    return static_cast<int>(listed().indexOf(qobject_cast<QWidget*>(child->object())));
  }

 private:
  QList<QWidget*> listed() const {
    QList<QWidget*> children;
    for (QObject* object : widget()->children()) {
      auto* child = qobject_cast<QWidget*>(object);
      if (child && !child->isWindow() && !hidden_from_screen_readers(*child)) children << child;
    }
    return children;
  }
};

// A relay's indicator: pressing it switches the relay, as a click or Space does; its
// menu action renames the relay, as the context-menu key does.
class IndicatorAccessible : public ListedChildren {
 public:
  explicit IndicatorAccessible(IndicatorBox* box) : ListedChildren(box, QAccessible::Button) {}

  QStringList actionNames() const override {
    return QStringList{pressAction(), showMenuAction()} + ListedChildren::actionNames();
  }
  void doAction(const QString& action) override {
    auto* box = static_cast<IndicatorBox*>(widget());
    if (action == pressAction()) {
      box->press();
    } else if (action == showMenuAction()) {
      box->request_rename();
    } else {
      ListedChildren::doAction(action);
    }
  }
};

// The spin bar holds the negated number so that its arrows point the operator's way;
// a screen reader hears the number itself.
class SpinBarAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit SpinBarAccessible(SpinBar* bar) : QAccessibleWidget(bar, QAccessible::SpinBox) {}

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Value) return QString::number(bar()->number());
    return QAccessibleWidget::text(kind);
  }
  QVariant currentValue() const override { return bar()->number(); }
  void setCurrentValue(const QVariant& value) override { bar()->set_number(value.toInt()); }
  QVariant maximumValue() const override { return SpinBar::top_number; }
  QVariant minimumValue() const override { return SpinBar::bottom_number; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  SpinBar* bar() const { return static_cast<SpinBar*>(widget()); }
};

QAccessibleInterface* panel_interface(const QString& class_name, QObject* object) {
  if (class_name == QLatin1String("IndicatorBox")) {
    return new IndicatorAccessible(static_cast<IndicatorBox*>(object));
  }
  if (class_name == QLatin1String("SpinBar")) {
    return new SpinBarAccessible(static_cast<SpinBar*>(object));
  }
  if (class_name == QLatin1String("main_form")) {
    return new ListedChildren(static_cast<QWidget*>(object));
  }
  return nullptr;
}
}  // namespace

void install_panel_accessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(panel_interface);
    return true;
  }();
  (void)installed;
}

void hide_from_screen_readers(QWidget& widget) {
  widget.setProperty(hidden_property, true);
}

bool hidden_from_screen_readers(const QWidget& widget) {
  return widget.property(hidden_property).toBool();
}

void announce_name_change(QWidget& widget) {
  QAccessibleEvent event(&widget, QAccessible::NameChanged);
  announce(event);
}

void announce_value_change(QWidget& widget, int value) {
  QAccessibleValueChangeEvent event(&widget, value);
  announce(event);
}

AnnouncementListener listen_to_announcements(AnnouncementListener listener) {
  return std::exchange(announcement_listener, listener);
}
