#include "relay_panel/accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QSignalSpy>
#include <utility>
#include <vector>

#include "form_fixture.h"

namespace {

QAccessibleInterface* accessible(QObject* object) {
  return QAccessible::queryAccessibleInterface(object);
}

// The window as a screen reader walks it: each listed child by object name.
std::map<QString, QAccessibleInterface*> listed_children(QObject* object) {
  std::map<QString, QAccessibleInterface*> children;
  QAccessibleInterface* parent = accessible(object);
  for (int index = 0; index < parent->childCount(); ++index) {
    QAccessibleInterface* child = parent->child(index);
    EXPECT_EQ(parent->indexOfChild(child), index);
    children[child->object()->objectName()] = child;
  }
  return children;
}

// What the panel tells a screen reader on its own, as a connected one would hear it.
std::vector<std::pair<QObject*, QAccessible::Event>> announced;
void record(QAccessibleEvent* event) {
  announced.emplace_back(event->object(), event->type());
}

class AccessibilityTest : public FormTest {
 protected:
  void TearDown() override { listen_to_announcements(nullptr); }
  void listen() {
    announced.clear();
    listen_to_announcements(record);
  }
  bool was_announced(QObject* object, QAccessible::Event type) const {
    return std::find(announced.begin(), announced.end(), std::pair{object, type}) !=
           announced.end();
  }
};

TEST_F(AccessibilityTest, EveryControlHasANameToActOnAndDecorationsAreNotListed) {
  const auto children = listed_children(form.get());
  const struct {
    const char* object;
    QAccessible::Role role;
    QString name;
  } controls[] = {
      {"chuankou_num", QAccessible::EditableText, "Port number"},
      {"VScroll2", QAccessible::SpinBox, "Port number arrows"},
      {"open_comm", QAccessible::Button, "open com"},
      {"add", QAccessible::EditableText, "Board address"},
      {"VScroll1", QAccessible::SpinBox, "Board address arrows"},
      {"openall", QAccessible::Button, "Open all"},
      {"closeall", QAccessible::Button, "Close all"},
      {"Label3", QAccessible::StaticText, "Com num"},
      {"Label5", QAccessible::StaticText, "Address"},
      {"Picture1_5", QAccessible::Button, "Relay 5, a1 r5: unknown"},
      {"Picture1_16", QAccessible::Button, "Relay 16, a1 r16: unknown"},
      {"Label4_5", QAccessible::StaticText, "Relay 5 name: a1 r5"},
  };
  for (const auto& control : controls) {
    SCOPED_TRACE(control.object);
    const auto found = children.find(control.object);
    ASSERT_NE(found, children.end());
    EXPECT_EQ(found->second->role(), control.role);
    EXPECT_EQ(found->second->text(QAccessible::Name), control.name);
  }
  // 9 controls at the top and bottom, 16 boxes, 16 names; no stray label ("Label1_n"), and no state
  // caption apart from its box's name.
  EXPECT_EQ(children.size(), 41u);
  for (const auto& [name, child] : children)
    EXPECT_FALSE(name.startsWith("Label1")) << name.toStdString();
  EXPECT_EQ(accessible(box(5))->childCount(), 0);

  // The captions are tied to their boxes.
  const auto labelled_by = children.at("chuankou_num")->relations(QAccessible::Label);
  ASSERT_EQ(labelled_by.size(), 1);
  EXPECT_EQ(labelled_by.front().first->object(), child("Label3"));
}

TEST_F(AccessibilityTest, AnIndicatorSaysItsRelaysNameAsPlainTextAndItsState) {
  const struct {
    std::string stored;
    QString spoken;
  } names[] = {
      {"Pump room", "Relay 5, Pump room: opened"},
      {"<b>Pump</b>", "Relay 5, <b>Pump</b>: opened"},
      {"\xE6\xB3\xB5\xE6\x88\xBF", "Relay 5, 泵房: opened"},
      {"", "Relay 5: opened"},
  };
  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  port.receive(relay5_opened);
  for (const auto& n : names) {
    SCOPED_TRACE(n.stored);
    form->set_name_label(5, n.stored);
    EXPECT_EQ(accessible(box(5))->text(QAccessible::Name), n.spoken);
  }
  EXPECT_EQ(accessible(box(6))->text(QAccessible::Name), "Relay 6, a1 r6: closed");
}

TEST_F(AccessibilityTest, AScreenReaderPressesAnIndicatorAndOpensItsRename) {
  QAccessibleActionInterface* actions = accessible(box(9))->actionInterface();
  ASSERT_NE(actions, nullptr);
  QSignalSpy pressed(box(9), &IndicatorBox::clicked);
  actions->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(pressed.size(), 1);
  EXPECT_FALSE(form->rename_dialog().loaded());
  actions->doAction(QAccessibleActionInterface::showMenuAction());
  EXPECT_TRUE(form->rename_dialog().loaded());
  EXPECT_EQ(form->rename_dialog().relay_text(), "9");
  form->rename_dialog().close();
}

// The spin bar keeps the negated number inside; a screen reader hears and sets the
// number the box shows.
TEST_F(AccessibilityTest, ASpinBarHoldsTheNumberOfItsBox) {
  QAccessibleValueInterface* value = accessible(address_bar())->valueInterface();
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->currentValue().toInt(), 1);
  EXPECT_EQ(value->minimumValue().toInt(), 0);
  EXPECT_EQ(value->maximumValue().toInt(), 255);
  address_box()->setText("200");
  EXPECT_EQ(value->currentValue().toInt(), 200);
  EXPECT_EQ(accessible(address_bar())->text(QAccessible::Value), "200");
  value->setCurrentValue(7);
  EXPECT_EQ(address_box()->text(), "7");
  EXPECT_EQ(name(1), "a7 r1");
}

TEST_F(AccessibilityTest, ChangesAreAnnouncedWhereTheOperatorIs) {
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 15000));
  box(5)->setFocus();
  ASSERT_TRUE(box(5)->hasFocus());
  QTest::mouseClick(button("open_comm"), Qt::LeftButton);
  box(5)->setFocus();

  listen();
  port.receive(relay5_opened);
  EXPECT_TRUE(was_announced(box(5), QAccessible::NameChanged));
  EXPECT_FALSE(was_announced(box(6), QAccessible::NameChanged)) << "not where the operator is";

  listen();
  port.receive(relay5_opened);
  EXPECT_FALSE(was_announced(box(5), QAccessible::NameChanged)) << "the same report again";

  port_bar()->set_number(4);
  EXPECT_TRUE(was_announced(port_bar(), QAccessible::ValueChanged));
}

}  // namespace
