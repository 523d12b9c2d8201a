// Whole-program figures for the panel, from the command line:
//   xvfb-run -a -s '-screen 0 1024x768x24' build/bench/ui/ui_panel_bench
//       [--seconds N] [--screenshot FILE.png] [--flood N]
// The bench starts the virtual board linked as com1 in a temporary program folder that
// holds a set-up name file, then starts itself again as the panel, which opens port 1
// and polls the board. It prints the time from the panel's start to its window being
// shown, its resident memory after the polling and its CPU use during it.
// With --flood N the board sends its status as fast as the terminal takes it for N
// seconds from the panel's first request, and then answers normally;
// the bench prints the panel's resident memory before, at its peak and after the flood.
#include <sys/resource.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "board_process.h"
#include "loop/qt_event_wait.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "qt_events.h"
#include "relay_panel/indicator_box.h"
#include "relay_panel/main_form.h"
#include "relay_panel/qt_message_boxes.h"

namespace {

std::int64_t wall_clock_us() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A figure of /proc/self/status in KiB: VmRSS now, VmHWM at its peak so far.
long status_kib(const std::string& field = "VmRSS:") {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// How many indicators show the board's relays closed, as the board has them.
int closed_boxes(const QWidget& form) {
  int closed = 0;
  for (const auto* box : form.findChildren<IndicatorBox*>()) closed += box->colour() == colour_red;
  return closed;
}

// The flooded panel: settled, flooded from its first request on, then settled again.
int run_flooded_panel(const QWidget& form, QPushButton& port_button, int flood_seconds) {
  QtEventWait().run_for(std::chrono::milliseconds(1000));
  std::printf("before_kib %ld\n", status_kib());
  port_button.click();
  // Samples what the operator sees through the flood, every 100 ms.
  int shown = 0, samples = 0;
  for (; samples < flood_seconds * 10; ++samples) {
    QtEventWait().run_for(std::chrono::milliseconds(100));
    shown += closed_boxes(form) == 16;
  }
  std::printf("shown_during %d of %d\n", shown, samples);
  QtEventWait().run_for(std::chrono::milliseconds(3000));
  std::printf("shown_after %d\n", closed_boxes(form));
  std::printf("after_kib %ld\npeak_kib %ld\n", status_kib(), status_kib("VmHWM:"));
  return 0;
}

// Notes the moment the window is first exposed on screen.
class ShownProbe : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose && shown_us == 0) {
      if (auto* window = qobject_cast<QWindow*>(watched); window && window->isExposed()) {
        shown_us = wall_clock_us();
      }
    }
    return false;
  }
  std::int64_t shown_us = 0;
};

QString option(const QStringList& args, const QString& name, const QString& fallback = {}) {
  const auto at = args.indexOf(name);
  return at >= 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

// The panel side: the same window over the real serial port as the program runs.
int run_panel(QApplication& app, const QStringList& args) {
  const std::filesystem::path dir = option(args, "--dir").toStdString();
  const int seconds = option(args, "--seconds", "10").toInt();
  const QString screenshot = option(args, "--screenshot");

  QtMessageBoxes messages;
  PosixSerialPort port(dir, QtDescriptorLoop::program());
  main_form form(dir, messages, port);
  ShownProbe probe;
  form.set_up();
  form.winId();
  form.windowHandle()->installEventFilter(&probe);
  form.show();
  while (probe.shown_us == 0) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  std::printf("shown_at_us %lld\n", static_cast<long long>(probe.shown_us));
  auto* port_button = form.findChild<QPushButton*>("open_comm");
  const int flood = option(args, "--flood", "0").toInt();
  if (flood > 0) return run_flooded_panel(form, *port_button, flood);

  port_button->click();
  const double cpu_before = cpu_seconds();
  QElapsedTimer polled;
  polled.start();
  if (!screenshot.isEmpty()) {
    // A few relays switched on so the picture shows both colours.
    QTimer::singleShot(300, &form, [&form] {
      for (int relay : {1, 4, 5, 11, 16}) {
        QTimer::singleShot(relay * 60, &form, [&form, relay] {
          auto* box = form.findChild<IndicatorBox*>(QStringLiteral("Picture1_%1").arg(relay));
          emit box->clicked();
        });
      }
    });
  }
  QTimer::singleShot(seconds * 1000, &app, [&] {
    if (!screenshot.isEmpty()) form.screen()->grabWindow(form.winId()).save(screenshot, "PNG");
    app.quit();
  });
  app.exec();
  const double cpu = cpu_seconds() - cpu_before;
  const double wall = static_cast<double>(polled.elapsed()) / 1000.0;
  std::printf("resident_kib %ld\n", status_kib());
  std::printf("cpu_percent %.2f\n", 100.0 * cpu / wall);
  return 0;
}

// The bench side: sets up the folder and the board, starts the panel and reports.
int run_bench(const QStringList& args) {
  QTemporaryDir dir;
  const QString seconds = option(args, "--seconds", "10");
  const QString screenshot = option(args, "--screenshot");
  {
    QFile names(dir.filePath("name.txt"));
    names.open(QIODevice::WriteOnly);
    names.write("[Software properties]\r\nThe name=Relay panel\r\n");
    for (int address = 0; address <= 255; ++address) {
      names.write(QStringLiteral("[address %1]\r\n").arg(address).toLatin1());
      for (int relay = 1; relay <= 16; ++relay) {
        names.write(QStringLiteral("relay%1name=relay%1\r\n").arg(relay).toLatin1());
      }
    }
  }

  const QString flood = option(args, "--flood");
  QStringList board_args{"--link-dir", dir.path(), "--port", "1"};
  if (!flood.isEmpty()) {
    board_args << "--mode"
               << "flood-unpaced"
               << "--mode-ms" << QString::number(flood.toInt() * 1000);
  }
  BoardProcess board(board_args);
  if (board.device.isEmpty()) {
    std::fprintf(stderr, "ui_panel_bench: the virtual board did not start\n");
    return 1;
  }

  QStringList panel_args{"--panel", "--dir", dir.path(), "--seconds", seconds};
  if (!screenshot.isEmpty()) panel_args << "--screenshot" << QDir(screenshot).absolutePath();
  if (!flood.isEmpty()) panel_args << "--flood" << flood;
  QProcess panel;
  panel.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  const std::int64_t started_us = wall_clock_us();
  panel.start(QCoreApplication::applicationFilePath(), panel_args);
  panel.waitForFinished((seconds.toInt() + flood.toInt()) * 1000 + 30000);
  board.terminate();
  board.waitForFinished();

  long long shown_us = 0;
  long resident = 0, before = 0, peak = 0, after = 0;
  int shown_during = 0, samples = 0, shown_after = 0;
  double cpu = 0;
  for (const QByteArray& line : panel.readAllStandardOutput().split('\n')) {
    std::sscanf(line.constData(), "shown_at_us %lld", &shown_us);
    std::sscanf(line.constData(), "resident_kib %ld", &resident);
    std::sscanf(line.constData(), "cpu_percent %lf", &cpu);
    std::sscanf(line.constData(), "before_kib %ld", &before);
    std::sscanf(line.constData(), "peak_kib %ld", &peak);
    std::sscanf(line.constData(), "after_kib %ld", &after);
    std::sscanf(line.constData(), "shown_during %d of %d", &shown_during, &samples);
    std::sscanf(line.constData(), "shown_after %d", &shown_after);
  }
  if (shown_us == 0 || (!flood.isEmpty() && after == 0)) {
    std::fprintf(stderr, "ui_panel_bench: the panel did not report\n");
    return 1;
  }
  if (!flood.isEmpty()) {
    const auto mb = [](long kib) { return static_cast<double>(kib) / 1024.0; };
    std::printf(
        "resident memory, %s s flood: before %.1f MB, peak %.1f MB, after %.1f MB "
        "(goal: after within 3 MB of before)\n",
        flood.toLatin1().constData(), mb(before), mb(peak), mb(after));
    std::printf("the board's states shown in %d of %d looks during the flood, %d of 16 after\n",
                shown_during, samples, shown_after);
    return 0;
  }
  std::printf("start to window shown: %.1f ms (goal < 300 ms)\n",
              static_cast<double>(shown_us - started_us) / 1000.0);
  std::printf("resident memory after %s s polling: %.1f MB (goal < 60 MB)\n",
              seconds.toLatin1().constData(), static_cast<double>(resident) / 1024.0);
  std::printf("CPU during the polling: %.2f %% of one core (goal < 2 %%)\n", cpu);
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QStringList args;
  for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  if (args.contains("--panel")) {
    QApplication app(argc, argv);
    return run_panel(app, args);
  }
  QCoreApplication app(argc, argv);
  return run_bench(args);
}
