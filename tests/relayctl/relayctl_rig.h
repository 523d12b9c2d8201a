#pragma once

#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board_model.h"
#include "com_link.h"
#include "frame_reader.h"
#include "link_rig.h"
#include "panel_link.h"
#include "pseudo_terminal.h"
#include "relay_selection.h"

using Clock = std::chrono::steady_clock;

// The virtual board's model on the board's end of a pseudo-terminal, served in the
// test's own event loop, so that every frame is seen as it arrives, byte for byte and
// time-stamped. It can stay silent or ignore switch commands, and its relays can be
// switched at the board itself.
class TerminalBoard {
 public:
  TerminalBoard() : model_(1) {
    std::string error;
    terminal_ = PseudoTerminal::create(error);
    if (!terminal_) {
      ADD_FAILURE() << error;
      return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(terminal_->master_fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { read_line(); });
  }

  const std::string& device() const { return terminal_->slave_path(); }
  RelayMask opened() const { return model_.opened_mask(); }
  // As if the relays were switched by someone else, without a frame on this line.
  void switch_at_board(RelayMask opened) {
    model_.handle(CommandFrame::build(1, BoardCommand::SetAllRelays,
                                      static_cast<std::uint8_t>(opened >> 8),
                                      static_cast<std::uint8_t>(opened & 0xFF)));
  }
  // Frames received since the last call, as hex text.
  std::vector<std::string> take_frames() { return std::exchange(frames_, {}); }

  std::vector<Clock::time_point> arrivals;  // when each frame was complete
  std::vector<Clock::time_point> answered;  // just before each answer was written
  bool silent = false;
  bool deaf = false;                  // answers, but carries out no switch command
  std::chrono::milliseconds late{0};  // how long after its frame each answer leaves

 private:
  void read_line() {
    std::uint8_t buffer[256];
    const ssize_t count = ::read(terminal_->master_fd(), buffer, sizeof buffer);
    if (count <= 0) return;
    const auto now = Clock::now();
    reader_.feed(std::span(buffer, static_cast<std::size_t>(count)));
    while (const auto frame = reader_.next()) {
      frames_.push_back(hex_text(frame->bytes));
      arrivals.push_back(now);
      if (silent || !model_.addressed(*frame)) continue;
      const StatusFrame answer =
          deaf ? StatusFrame::build(model_.opened_mask(), 1) : model_.handle(*frame);
      if (late.count() == 0) {
        send(answer);
        continue;
      }
      QTimer::singleShot(late, notifier_.get(), [this, answer] { send(answer); });
    }
  }
  void send(const StatusFrame& answer) {
    // Taken before the answer leaves: nothing that waits for it can start earlier.
    answered.push_back(Clock::now());
    ASSERT_EQ(::write(terminal_->master_fd(), answer.bytes.data(), answer.bytes.size()), 8);
  }

  BoardModel model_;
  std::optional<PseudoTerminal> terminal_;
  std::unique_ptr<QSocketNotifier> notifier_;
  FrameReader reader_;
  std::vector<std::string> frames_;
};

struct CtlResult {
  int code = -1;
  std::string out;
  std::string err;
};

// relayctl copied into a folder of its own with its event log module, as installed beside
// the panel: the port numbers map to com<n> links there, and name.txt there is its name
// file.
class RelayctlRig : public ::testing::Test {
 protected:
  RelayctlRig() {
    start_qt();
    program = QString::fromStdString((dir() / "relayctl").string());
    EXPECT_TRUE(QFile::copy(QStringLiteral(RELAYCTL_PATH), program));
    const auto events = std::filesystem::path(RELAYCTL_PATH).parent_path() / "relayctl_events.so";
    EXPECT_TRUE(QFile::copy(QString::fromStdString(events.string()),
                            QString::fromStdString((dir() / "relayctl_events.so").string())));
  }

  std::filesystem::path dir() const { return temp.path().toStdString(); }
  void link_port(int port, const std::string& device) {
    std::filesystem::create_symlink(device, dir() / ("com" + std::to_string(port)));
  }
  // How a silent board's message names port 1 linked to `device`.
  std::string on_port_1(const std::string& device) const {
    return " on " + (dir() / "com1").string() + " (port 1: a link to " + device + ")";
  }
  void write_names(const std::string& bytes) {
    std::ofstream(dir() / "name.txt", std::ios::binary) << bytes;
  }

  // Starts relayctl and leaves it running (a watch). Unless a test says otherwise, an
  // answer may take ten seconds: a loaded machine must not turn a slow answer into a
  // retry that changes the frames on the line.
  std::unique_ptr<QProcess> start(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    const QStringList patient = QStringList{"--timeout", "10000"} + arguments;
    process->start(program, arguments.contains("--timeout") ? arguments : patient);
    EXPECT_TRUE(process->waitForStarted(15000));
    return process;
  }
  // Runs relayctl to its end while the test's board answers.
  CtlResult run(const QStringList& arguments) {
    auto process = start(arguments);
    return finish(*process);
  }
  static CtlResult finish(QProcess& process) {
    EXPECT_TRUE(wait_until([&] { return process.state() == QProcess::NotRunning; }, 30000))
        << "relayctl did not end";
    CtlResult result;
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput().toStdString();
    result.err = process.readAllStandardError().toStdString();
    return result;
  }

  QTemporaryDir temp;
  QString program;
};
