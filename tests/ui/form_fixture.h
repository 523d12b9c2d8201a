#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "fake_serial_port.h"
#include "link_qt/poll_timer.h"
#include "name_file_text.h"
#include "recording_message_boxes.h"
#include "ui/indicator_box.h"
#include "ui/main_form.h"
#include "ui/name_form.h"
#include "ui/spin_bar.h"

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
    write_file(name_file(), name_file_text());
    form = std::make_unique<CountingForm>(program_dir(), messages, port);
    form->Form_Initialize();
    form->loads = 0;
  }

  std::filesystem::path program_dir() const { return dir.path().toStdString(); }
  std::filesystem::path name_file() const { return program_dir() / "name.txt"; }

  template <typename Widget>
  Widget* child(const QString& name) const {
    auto* widget = form->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name.toStdString();
    return widget;
  }
  QLineEdit* add() const { return child<QLineEdit>("add"); }
  QLineEdit* chuankou_num() const { return child<QLineEdit>("chuankou_num"); }
  SpinBar* VScroll1() const { return child<SpinBar>("VScroll1"); }
  SpinBar* VScroll2() const { return child<SpinBar>("VScroll2"); }
  QPushButton* button(const char* name) const { return child<QPushButton>(name); }
  IndicatorBox* box(int relay) const {
    return child<IndicatorBox>(QStringLiteral("Picture1_%1").arg(relay));
  }
  QString name_label(int relay) const {
    return child<QLabel>(QStringLiteral("Label4_%1").arg(relay))->text();
  }
  QString state_label(int relay) const {
    return child<QLabel>(QStringLiteral("Label2_%1").arg(relay))->text();
  }

  QTemporaryDir dir;
  RecordingMessageBoxes messages;
  FakeSerialPort port;
  std::unique_ptr<CountingForm> form;
};

// A status frame from the board with the given relays opened (bit r-1 for relay r).
inline std::vector<std::uint8_t> status_frame(std::uint16_t opened) {
  std::vector<std::uint8_t> bytes{0x22,
                                  0x01,
                                  0x00,
                                  0x00,
                                  0x00,
                                  static_cast<std::uint8_t>(opened >> 8),
                                  static_cast<std::uint8_t>(opened & 0xFF)};
  unsigned sum = 0;
  for (auto byte : bytes) sum += byte;
  bytes.push_back(static_cast<std::uint8_t>(sum));
  return bytes;
}
