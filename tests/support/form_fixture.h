#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>
#include <string>

#include "fake_serial_port.h"
#include "file_bytes.h"
#include "loop/poll_timer.h"
#include "recording_message_boxes.h"
#include "relay_panel/indicator_box.h"
#include "relay_panel/main_form.h"
#include "relay_panel/name_form.h"
#include "relay_panel/spin_bar.h"

// A set-up name file whose names tell their address apart ("a7 r1" is relay 1 of
// address 7), so a test sees which address the labels were loaded for.
inline std::string name_file_text() {
  std::string text = "[Software properties]\r\nThe name=Test panel\r\n";
  for (int address = 0; address <= 255; ++address) {
    text += "[address " + std::to_string(address) + "]\r\n";
    for (int relay = 1; relay <= 16; ++relay) {
      text += "relay" + std::to_string(relay) + "name=a" + std::to_string(address) + " r" +
              std::to_string(relay) + "\r\n";
    }
  }
  return text;
}

// The board at address 1 reports relay 5 opened, the rest closed.
inline const std::vector<std::uint8_t> relay5_opened{0x22, 0x01, 0, 0, 0, 0, 0x10, 0x33};

// The main window with every load of the 16 names counted: each load sets label 1
// first.
class CountingForm : public main_form {
 public:
  using main_form::main_form;
  void set_name_label(int relay, const std::string& name) override {
    if (relay == 1) ++loads;
    main_form::set_name_label(relay, name);
  }
  int loads = 0;
};

// A started main window over a fake line, in a temporary program folder holding a
// set-up name file.
class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    write_bytes(name_file(), name_file_text());
    form = std::make_unique<CountingForm>(program_dir(), messages, port);
    form->set_up();
    form->loads = 0;
  }

  std::filesystem::path program_dir() const { return dir.path().toStdString(); }
  std::filesystem::path name_file() const { return program_dir() / "name.txt"; }

  template <typename Widget = QWidget>
  Widget* child(const QString& name) const {
    auto* widget = form->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
  QLineEdit* address_box() const { return child<QLineEdit>("add"); }
  QLineEdit* port_box() const { return child<QLineEdit>("chuankou_num"); }
  SpinBar* address_bar() const { return child<SpinBar>("VScroll1"); }
  SpinBar* port_bar() const { return child<SpinBar>("VScroll2"); }
  QPushButton* button(const char* name) const { return child<QPushButton>(name); }
  IndicatorBox* box(int relay) const {
    return child<IndicatorBox>(QStringLiteral("Picture1_%1").arg(relay));
  }
  QLabel* name_label(int relay) const {
    return child<QLabel>(QStringLiteral("Label4_%1").arg(relay));
  }
  QString name(int relay) const { return name_label(relay)->text(); }
  QString state(int relay) const { return box(relay)->state_label()->text(); }

  QTemporaryDir dir;
  RecordingMessageBoxes messages;
  FakeSerialPort port;
  std::unique_ptr<CountingForm> form;
};
