// relay_panel.exe under Wine on the private X server: what the operator sees (messages,
// title, the indicators' colours read from the screen) and what reaches the board and
// the name file, for clicks and keys sent as the operator's.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <QDateTime>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <tuple>
#include <vector>

#include "board_frames.h"
#include "bridge_rig.h"
#include "file_bytes.h"
#include "panel/form_geometry.h"
#include "qt_events.h"
#include "tls_rig.h"
#include "windows_program.h"
#include "wine_session.h"

namespace {

using Frames = std::vector<std::string>;
const std::string query = "55 01 10 00 00 00 00 66";
constexpr std::uint32_t green = 0x00FF00, red = 0xFF0000, yellow = 0xFFFF00;

XScreen& screen() {
  return *WineSession::get().screen;
}

std::int64_t ms_between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// A figure of a process's /proc status in KiB: VmRSS now, VmHWM at its peak.
long status_kib(qint64 pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with(field)) return std::stol(line.substr(field.size()));
  }
  return -1;
}

// A process's processor time so far (user and system) in clock ticks, from /proc.
long long cpu_ticks(qint64 pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  // The fields after the command's name, which may hold spaces: state is field 3.
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long long user = 0, system = 0;
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) user = std::stoll(field);
    if (number == 15) system = std::stoll(field);
  }
  return user + system;
}

// A process's wake-ups so far: the context switches of all its threads.
long long wakeups(qint64 pid) {
  long long total = 0;
  for (const auto& task : std::filesystem::directory_iterator(
           "/proc/" + std::to_string(pid) + "/task",
           std::filesystem::directory_options::skip_permission_denied)) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos)
        total += std::stoll(line.substr(line.find(':') + 1));
    }
  }
  return total;
}

// The system calls of the processes `pids` while `run` runs, counted by strace; -1 without it.
long long system_calls(const std::vector<qint64>& pids, const std::function<void()>& run) {
  QTemporaryDir dir;
  const QString counts = dir.filePath("counts");
  QStringList arguments{"-f", "-c", "-o", counts};
  for (const qint64 pid : pids) arguments << "-p" << QString::number(pid);
  QProcess strace;
  strace.start("strace", arguments);
  QByteArray told;
  if (!strace.waitForStarted() || !wait_until([&] {
        told += strace.readAllStandardError();
        return told.count("attached") >= static_cast<qsizetype>(pids.size());
      })) {
    return -1;
  }
  run();
  ::kill(static_cast<pid_t>(strace.processId()), SIGINT);
  strace.waitForFinished();
  std::ifstream table(counts.toStdString());
  long long calls = -1;
  for (std::string line; std::getline(table, line);) {
    // "% time, seconds, usecs/call, calls[, errors] total"
    std::istringstream words(line);
    std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
    if (fields.size() >= 5 && fields.back() == "total") calls = std::stoll(fields[3]);
  }
  return calls;
}

// The Wine server of this session's prefix: other prefixes on the machine have their own.
qint64 wineserver_pid() {
  const std::string prefix = "WINEPREFIX=" + WineSession::get().prefix.string();
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream comm(entry.path() / "comm");
    std::string name;
    if (!std::getline(comm, name) || !name.starts_with("wineserver")) continue;
    std::ifstream environ(entry.path() / "environ");
    std::string setting;
    while (std::getline(environ, setting, '\0')) {
      if (setting == prefix) return std::stoll(entry.path().filename().string());
    }
  }
  return -1;
}

// The Win32 panel installed in a folder of its own, with its messages on standard error;
// on `Base`, the rig beside it.
template <class Base>
class PanelExeOn : public Base {
 protected:
  PanelExeOn() : program(install_program("relay_panel.exe", folder())) {}

  std::filesystem::path folder() const { return temp.path().toStdString(); }

  // Starts the panel and waits for its window, whose client area it reports (the Linux
  // panel does not: its window is found by its size, unframed here).
  void start(const QStringList& environment = {}, const std::filesystem::path& which = {}) {
    panel.reset();
    started = Clock::now();
    panel =
        std::make_unique<WindowsProgram>(which.empty() ? program : which, QStringList{},
                                         QStringList{"RELAY_PANEL_MESSAGES=stderr"} + environment);
    const auto client = panel->wait_for_line(which.empty() ? "client: " : "shown: ", 60000);
    ASSERT_TRUE(client) << "the window did not come up";
    shown = Clock::now();
    if (which.empty()) {
      std::istringstream(client->substr(8)) >> left >> top >> width >> height;
      return;
    }
    const PixelRect size = main_form_geometry.client();
    std::optional<std::pair<int, int>> at;
    ASSERT_TRUE(wait_for_screen([&] {
      at = screen().window_of_size(size.width, size.height);
      return at.has_value();
    }));
    std::tie(left, top) = *at;
  }
  // The poll's rhythm from the board's frame times over 100 ticks, and the panel's memory.
  void print_poll_figures(LoggedBoard& board, const char* system) {
    const std::size_t from = board.count();
    ASSERT_TRUE(wait_until([&] { return board.count() >= from + 101; }, 60000));
    const Frames polled = board.take_frames();
    EXPECT_TRUE(std::all_of(polled.begin(), polled.end(), [](auto& f) { return f == query; }));
    // However loaded the machine, a tick never comes early: 100 of them take 5 s.
    EXPECT_GE(board.arrivals[from + 100] - board.arrivals[from], std::chrono::milliseconds(4800));
    std::vector<std::int64_t> deviations;
    for (std::size_t i = from + 1; i <= from + 100; ++i) {
      const auto gap = std::chrono::duration_cast<std::chrono::microseconds>(board.arrivals[i] -
                                                                             board.arrivals[i - 1]);
      deviations.push_back(std::abs(gap.count() - 50000));
    }
    std::sort(deviations.begin(), deviations.end());
    std::printf("figure %s_start_to_shown_ms %lld\n", system,
                static_cast<long long>(ms_between(started, shown)));
    std::printf("figure %s_panel_rss_kib %ld peak %ld\n", system,
                status_kib(panel->processId(), "VmRSS:"), status_kib(panel->processId(), "VmHWM:"));
    std::printf("figure %s_tick_deviation_us median %lld p99 %lld\n", system,
                static_cast<long long>(deviations[50]), static_cast<long long>(deviations[98]));
  }
  static void print_click_figures(std::vector<std::int64_t> click_to_wire, const char* system) {
    std::sort(click_to_wire.begin(), click_to_wire.end());
    std::printf("figure %s_click_to_wire_ms median %lld max %lld\n", system,
                static_cast<long long>(click_to_wire[click_to_wire.size() / 2]),
                static_cast<long long>(click_to_wire.back()));
  }

  // Processor time and wake-ups of the panel (and of the Wine server, when `server` is
  // one) over 400 ticks with the port open, then their system calls over 100 more.
  void print_cost_figures(LoggedBoard& board, const char* system, qint64 server) {
    // A pointer left over the window keeps its hover tracking and tooltips busy.
    screen().point(0, 0);
    const qint64 pid = panel->processId();
    const long long panel_from = cpu_ticks(pid), woken_from = wakeups(pid);
    const long long server_from = server > 0 ? cpu_ticks(server) : 0;
    const long long server_woken_from = server > 0 ? wakeups(server) : 0;
    std::size_t from = board.count();
    const auto measured_from = Clock::now();
    ASSERT_TRUE(wait_until([&] { return board.count() >= from + 400; }, 60000));
    const double seconds = std::chrono::duration<double>(Clock::now() - measured_from).count();
    const double ticks = static_cast<double>(board.count() - from);
    const auto percent = [&](long long cpu) {
      return 100.0 * static_cast<double>(cpu) / static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
    };
    std::printf("figure %s_cpu_percent_port_open panel %.2f wineserver %.2f over %.1f s\n", system,
                percent(cpu_ticks(pid) - panel_from),
                server > 0 ? percent(cpu_ticks(server) - server_from) : 0.0, seconds);
    std::printf(
        "figure %s_wakeups_per_tick panel %.1f wineserver %.1f\n", system,
        static_cast<double>(wakeups(pid) - woken_from) / ticks,
        server > 0 ? static_cast<double>(wakeups(server) - server_woken_from) / ticks : 0.0);
    from = board.count();
    const long long calls =
        system_calls(server > 0 ? std::vector{pid, server} : std::vector{pid},
                     [&] { wait_until([&] { return board.count() >= from + 100; }, 60000); });
    std::printf("figure %s_system_calls_per_tick %.1f (panel and Wine server, under strace)\n",
                system, static_cast<double>(calls) / static_cast<double>(board.count() - from));
  }

  // The messages before the window came up.
  std::vector<std::string> messages_before_shown() {
    std::vector<std::string> before;
    for (const auto& line : panel->lines()) {
      if (line.starts_with("shown: ")) return before;
      before.push_back(line);
    }
    return before;
  }
  // The first line from line `from` on that holds `part`, once it has come.
  std::optional<std::string> message(const std::string& part, std::size_t from = 0) {
    std::optional<std::string> found;
    wait_until([&] {
      const auto& lines = panel->lines();
      for (std::size_t i = from; i < lines.size() && !found; ++i) {
        if (lines[i].find(part) != std::string::npos) found = lines[i];
      }
      return found.has_value();
    });
    return found;
  }

  // A control's place in pixels at the desktop's DPI.
  PixelRect scaled(const Twips& t) const {
    const auto pixels = [&](int twips) { return (twips * dpi + 720) / 1440; };
    return {pixels(t.left), pixels(t.top), pixels(t.width), pixels(t.height)};
  }
  void click(const Twips& control, int dy = 0) {
    const PixelRect r = scaled(control);
    screen().click(left + r.left + r.width / 2, top + r.top + r.height / 2 + dy);
  }
  // An indicator's colour, at its right end inside, where its caption never reaches.
  std::uint32_t colour(int relay) {
    const PixelRect box = scaled(main_form_geometry.indicator(relay));
    return screen().pixel(left + box.left + box.width - 5, top + box.top + box.height / 2);
  }
  std::string colours() {
    std::string text;
    for (int relay = 1; relay <= 16; ++relay) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%06X ", colour(relay));
      text += hex;
    }
    return text;
  }
  // Waits until every indicator shows `expected`, but those in `except` the other colour.
  bool shows(std::uint32_t expected, std::vector<int> except = {}, std::uint32_t other = 0) {
    return wait_for_screen([&] {
      for (int relay = 1; relay <= 16; ++relay) {
        const bool odd = std::find(except.begin(), except.end(), relay) != except.end();
        if (colour(relay) != (odd ? other : expected)) return false;
      }
      return true;
    });
  }
  // Waits for `frame` on the wire; how long after `since` it came (-1: it did not).
  std::int64_t wait_for_frame(LoggedBoard& board, const std::string& frame,
                              Clock::time_point since) {
    std::int64_t after = -1;
    wait_until([&] {
      const auto frames = board.take_frames();
      const std::size_t first = board.arrivals.size() - frames.size();
      for (std::size_t i = 0; i < frames.size() && after < 0; ++i) {
        if (frames[i] == frame) after = ms_between(since, board.arrivals[first + i]);
      }
      return after >= 0;
    });
    return after;
  }

  QTemporaryDir temp;
  std::filesystem::path program;
  std::unique_ptr<WindowsProgram> panel;
  Clock::time_point started, shown;
  int left = 0, top = 0, width = 0, height = 0;
  int dpi = 96;
};
using PanelExe = PanelExeOn<::testing::Test>;

TEST_F(PanelExe, FirstStartTellsTwiceAndWritesTheLinuxPanelsFileThenTheTitleComesFromIt) {
  // The Linux panel's first start in a folder of its own, for the bytes to expect.
  QTemporaryDir linux_dir;
  const QString linux_panel = linux_dir.filePath("relay_panel");
  ASSERT_TRUE(QFile::copy(RELAY_LINUX_PANEL, linux_panel));
  QProcess reference;
  QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
  headless.insert("QT_QPA_PLATFORM", "offscreen");
  headless.insert("RELAY_PANEL_MESSAGES", "stderr");
  reference.setProcessEnvironment(headless);
  reference.start(linux_panel);
  QByteArray reference_lines;
  ASSERT_TRUE(wait_until([&] {
    reference_lines += reference.readAllStandardError();
    return reference_lines.contains("shown: ");
  }));
  reference.kill();
  reference.waitForFinished();
  const std::string expected = read_bytes(linux_dir.filePath("name.txt").toStdString());
  ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 4354);

  start();
  const auto told = messages_before_shown();
  ASSERT_EQ(told.size(), 2u) << panel->lines().front();
  EXPECT_TRUE(told[0].starts_with("File Not Found: ") && told[0].ends_with("\\name.txt not found."))
      << told[0];
  EXPECT_EQ(told[1], "name file created");
  EXPECT_EQ(panel->wait_for_line("shown: "), "shown: Corvanti");
  // The caption at creation ends in a line break, which the first start replaces: the
  // title's line is followed by the next line, not by an empty one.
  ASSERT_TRUE(panel->wait_for_line("client: "));
  const auto& lines = panel->lines();
  const auto shown = std::find(lines.begin(), lines.end(), "shown: Corvanti");
  ASSERT_NE(shown, lines.end());
  EXPECT_TRUE(std::next(shown)->starts_with("client: ")) << *std::next(shown);
  EXPECT_EQ(read_bytes(folder() / "name.txt"), expected);

  // The title as the code page 936 file holds it: 泵房 2 ("pump room 2").
  std::string chinese = expected;
  chinese.replace(chinese.find("Corvanti"), 8, "\xB1\xC3\xB7\xBF 2");
  write_bytes(folder() / "name.txt", chinese);
  start();
  EXPECT_EQ(messages_before_shown(), std::vector<std::string>{});
  EXPECT_EQ(panel->wait_for_line("shown: "), "shown: 泵房 2");
  EXPECT_EQ(read_bytes(folder() / "name.txt"), chinese);
}

TEST_F(PanelExe, OpenPortPollsEveryTickAndTheControlsPutTheirFramesOnTheWire) {
  LoggedBoard board;
  start({"RELAY_PANEL_OPEN_PORT=1"});
  ASSERT_TRUE(shows(red)) << colours();
  print_poll_figures(board, "windows");

  const MainFormGeometry& g = main_form_geometry;
  const auto up_arrow = -scaled(g.address_bar).height / 4;
  const struct {
    std::string step;
    Twips control;
    int dy;
    std::string frame;
    std::uint32_t colour;
    std::vector<int> except = {};
    std::uint32_t other = 0;
  } rows[] = {
      {"relay 5", g.indicator(5), 0, "55 01 12 00 00 00 05 6D", red, {5}, green},
      {"relay 5 again", g.indicator(5), 0, "55 01 11 00 00 00 05 6C", red},
      {"open all", g.open_all_button, 0, "55 01 13 00 00 FF FF 67", green},
      {"relay 16", g.indicator(16), 0, "55 01 11 00 00 00 10 77", green, {16}, red},
      {"close all", g.close_all_button, 0, "55 01 13 00 00 00 00 69", red},
      {"address up", g.address_bar, up_arrow, "55 02 10 00 00 00 00 67", yellow},
      {"address down", g.address_bar, -up_arrow, query, red},
  };
  std::vector<std::int64_t> click_to_wire;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.step);
    board.take_frames();
    const auto clicked = Clock::now();
    click(row.control, row.dy);
    click_to_wire.push_back(wait_for_frame(board, row.frame, clicked));
    EXPECT_GE(click_to_wire.back(), 0) << "not on the wire";
    EXPECT_TRUE(shows(row.colour, row.except, row.other)) << colours();
  }
  print_click_figures(click_to_wire, "windows");

  click(g.port_button);
  EXPECT_TRUE(shows(WineSession::get().gray_text)) << colours();
  EXPECT_EQ(messages_before_shown().size(), 2u) << "only the first start's messages";

  // Wine reports no receive events: the line is looked at only while an answer is due,
  // a handful of times per request at most, not every millisecond.
  WindowsProgram close("taskkill.exe", {"/im", "relay_panel.exe"});
  ASSERT_EQ(panel->finish(), 0);
  const auto line = message("line: ");
  ASSERT_TRUE(line);
  unsigned long long looks = 0, requests = 0;
  ASSERT_EQ(std::sscanf(line->c_str(), "line: %llu looks for %llu requests", &looks, &requests), 2);
  EXPECT_GE(requests, 100u);
  EXPECT_LE(looks, 5 * requests) << *line;
}

// The panel owns the line it opens: the board gets its on_start state at the open, and
// its on_stop state when the window is closed, before the port is let go.
TEST_F(PanelExe, TheBoardGetsItsStartStateAtOpenAndItsStopStateWhenTheWindowCloses) {
  std::ofstream(folder() / "rules.conf") << "[address 1]\non_start = 3 on\non_stop = off\n";
  LoggedBoard board;
  start({"RELAY_PANEL_OPEN_PORT=1"});
  EXPECT_GE(wait_for_frame(board, "55 01 12 00 00 00 03 6B", started), 0) << "no start state";
  WindowsProgram close("taskkill.exe", {"/im", "relay_panel.exe"});
  EXPECT_GE(wait_for_frame(board, "55 01 13 00 00 00 00 69", started), 0) << "no stop state";
  EXPECT_EQ(panel->finish(), 0);
}

// The panel and relayctl.exe beside it write one event log, each while the other holds
// it open, and relayctl.exe log reads it back in each form as on Linux, in local times
// (a zone five hours east) that name the same moments as the UTC times of the CSV.
TEST_F(PanelExe, ThePanelAndRelayctlWriteOneEventLogThatRelayctlReads) {
  LoggedBoard board;
  const auto relayctl = install_program("relayctl.exe", folder());
  start({"RELAY_PANEL_OPEN_PORT=1"});
  ASSERT_TRUE(shows(red)) << colours();
  const MainFormGeometry& g = main_form_geometry;
  click(g.indicator(5));
  ASSERT_TRUE(shows(red, {5}, green)) << colours();  // an event once the board reports it
  click(g.port_button);                              // COM1 let go, the log still open
  ASSERT_TRUE(shows(WineSession::get().gray_text)) << colours();
  WindowsProgram open(relayctl, {"--timeout", "10000", "open", "7"});
  ASSERT_EQ(open.finish(), 0) << (open.lines().empty() ? "" : open.lines().front());
  click(g.port_button);
  ASSERT_TRUE(shows(red, {5, 7}, green)) << colours();
  click(g.indicator(7));
  ASSERT_TRUE(shows(red, {5}, green)) << colours();

  // Wine names the Windows user after the Linux one.
  const std::string user = getpwuid(geteuid())->pw_name;
  const auto log = [&](const QStringList& arguments) {
    WindowsProgram read(relayctl, arguments, {"TZ=XYZ-5"});
    EXPECT_EQ(read.finish(), 0) << (read.lines().empty() ? "" : read.lines().front());
    return read.out;
  };
  const std::string text = log({"log"}), csv = log({"log", "--csv"});
  // Each line's time, and the text with "T" in place of the times.
  const auto times = [](const std::string& lines, const std::string& zone) {
    const std::regex time("^[-0-9]{10}T[:.0-9]{12}" + zone, std::regex::multiline);
    std::vector<QDateTime> found;
    for (std::sregex_iterator at(lines.begin(), lines.end(), time), end; at != end; ++at) {
      found.push_back(QDateTime::fromString(QString::fromStdString(at->str()), Qt::ISODateWithMs));
    }
    return std::pair(found, std::regex_replace(lines, time, "T"));
  };
  const auto [text_times, text_rest] = times(text, "\\+05:00");
  const auto [csv_times, csv_rest] = times(csv, "Z");
  EXPECT_EQ(text_rest, "T COM1 board 1 relay 5 opened (was closed) by panel " + user +
                           "\nT COM1 board 1 relay 7 opened (was closed) by relayctl " + user +
                           "\nT COM1 board 1 relay 7 closed (was opened) by panel " + user + "\n");
  EXPECT_EQ(csv_rest,
            "time,event,line,address,relay,was,now,source,who,reason\n"
            "T,switched,COM1,1,5,closed,opened,panel," +
                user + ",\nT,switched,COM1,1,7,closed,opened,relayctl," + user +
                ",\nT,switched,COM1,1,7,opened,closed,panel," + user + ",\n");
  EXPECT_TRUE(text_times == csv_times && csv_times.size() == 3 && csv_times[0].isValid());
  EXPECT_NE(log({"log", "--json"})
                .find(",\"relay\":7,\"was\":\"closed\",\"now\":\"opened\","
                      "\"source\":\"relayctl\",\"who\":\"" +
                      user + "\""),
            std::string::npos);
  EXPECT_EQ(log({"log", "--relay", "1/7"}), text.substr(text.find('\n') + 1));
}

TEST_F(PanelExe, PortTroublesAreToldAndAnUnpluggedBoardComesBackWithoutAClick) {
  LoggedBoard board;
  start({"RELAY_PANEL_OPEN_PORT=7"});
  const auto missing = message(" could not be opened: ");
  ASSERT_TRUE(missing) << "no message";
  EXPECT_NE(missing->find("Port 7 (COM7) could not be opened: No such device. Serial ports "
                          "present: COM1"),
            std::string::npos)
      << *missing;

  const MainFormGeometry& g = main_form_geometry;
  click(g.port_box);
  screen().key("End");
  screen().key("BackSpace");
  screen().type("1");
  {
    // relayctl.exe watching the board holds COM1.
    WindowsProgram watch(install_program("relayctl.exe", folder()), {"watch"});
    ASSERT_TRUE(wait_until([&] { return board.count() >= 2; }, 30000));
    const std::size_t told = panel->lines().size();
    click(g.port_button);
    const auto busy = message(" could not be opened: ", told);
    ASSERT_TRUE(busy) << "no message";
    EXPECT_NE(busy->find("Port 1 (COM1) could not be opened: Device busy"), std::string::npos)
        << *busy;
  }

  click(g.port_button);
  EXPECT_TRUE(shows(red)) << colours();
  board.send(SIGUSR1);
  EXPECT_TRUE(shows(yellow)) << colours();
  board.send(SIGUSR2);
  EXPECT_TRUE(shows(red)) << colours();
}

// Another program's rename reaches the window through the system's change notice on the
// folder: relay 1's name label is drawn anew without a restart.
TEST_F(PanelExe, ARenameByAnotherProgramIsShownWithoutARestart) {
  start();
  const PixelRect label = scaled(main_form_geometry.name_label(1));
  const auto label_row = [&] {
    std::vector<std::uint32_t> row;
    for (int x = 0; x < label.width; x += 2) {
      row.push_back(screen().pixel(left + label.left + x, top + label.top + label.height / 2));
    }
    return row;
  };
  const auto before = label_row();
  // As a writer replaces it: a whole new file renamed over the old one.
  std::string text = read_bytes(folder() / "name.txt");
  const std::string entry = "relay1name=relay1\r\n";
  text.replace(text.find(entry, text.find("[address 1]\r\n")), entry.size(),
               "relay1name=WWWWWWWWWWWW\r\n");
  write_bytes(folder() / "name.new", text);
  std::filesystem::rename(folder() / "name.new", folder() / "name.txt");
  EXPECT_TRUE(wait_for_screen([&] { return label_row() != before; }));
}

TEST_F(PanelExe, RenameByClickAndByF2ChangesThatLineOfTheFileOnly) {
  start();
  std::string expected = read_bytes(folder() / "name.txt");
  const auto renamed = [&](int relay, const std::string& name) {
    const std::string line = "relay" + std::to_string(relay) + "name=";
    const auto at = expected.find(line, expected.find("[address 1]\r\n")) + line.size();
    expected.replace(at, expected.find('\r', at) - at, name);
  };
  const NameFormGeometry& dialog = name_form_geometry;
  const struct {
    std::string way;
    int relay;
    std::string name;
  } rows[] = {{"F2", 3, "Pump room"}, {"click", 12, "Gate 2"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.way);
    if (row.way == "F2") {
      // From the port box, where the window opens, along the focus order to the box.
      screen().point(left + 2, top + 2);
      for (int step = 0; step < 6 + row.relay; ++step) screen().key("Tab");
      screen().key("F2");
    } else {
      click(main_form_geometry.name_label(row.relay));
    }
    std::optional<std::pair<int, int>> at;
    ASSERT_TRUE(wait_for_screen([&] {
      at = screen().window_of_size(dialog.client().width, dialog.client().height);
      return at.has_value();
    })) << "no dialog";
    const auto click_dialog = [&](const Twips& control) {
      const PixelRect r = scaled(control);
      screen().click(at->first + r.left + r.width / 2, at->second + r.top + r.height / 2);
    };
    click_dialog(dialog.name_box);
    screen().key("End");
    for (int i = 0; i < 12; ++i) screen().key("BackSpace");
    screen().type(row.name);
    click_dialog(dialog.ok_button);
    renamed(row.relay, row.name);
    EXPECT_TRUE(wait_for_screen([&] { return read_bytes(folder() / "name.txt") == expected; }))
        << read_bytes(folder() / "name.txt").substr(0, 400);
    ASSERT_TRUE(wait_for_screen([&] {
      return !screen().window_of_size(dialog.client().width, dialog.client().height);
    })) << "the dialog stays";
  }
}

// On a Western system (code page 1252) the message font has no Chinese glyphs: the
// rename dialog's buttons take the labels' face and draw their captions, not the empty
// boxes that would make both buttons look alike.
TEST_F(PanelExe, OnCodePage1252TheRenameDialogsButtonsDrawTheirCaptions) {
  start({"LANG=en_US.UTF-8", "LC_ALL=en_US.UTF-8"});
  click(main_form_geometry.name_label(1));
  const NameFormGeometry& dialog = name_form_geometry;
  std::optional<std::pair<int, int>> at;
  ASSERT_TRUE(wait_for_screen([&] {
    at = screen().window_of_size(dialog.client().width, dialog.client().height);
    return at.has_value();
  })) << "no dialog";
  // Which pixels of a button's inside, its edges left out, are dark: its caption's.
  const auto caption = [&](const Twips& button) {
    const PixelRect r = scaled(button);
    std::vector<bool> dark;
    for (int y = r.top + 4; y < r.top + r.height - 4; ++y) {
      for (int x = r.left + 4; x < r.left + r.width - 4; ++x) {
        const std::uint32_t c = screen().pixel(at->first + x, at->second + y);
        dark.push_back((c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF) < 3 * 96);
      }
    }
    return dark;
  };
  std::vector<bool> ok, cancel;
  // Painted (a window not yet painted is black) and with a caption in it.
  const auto drawn = [](const std::vector<bool>& dark) {
    const auto count = std::count(dark.begin(), dark.end(), true);
    return count > 20 && count < static_cast<long>(dark.size()) / 3;
  };
  EXPECT_TRUE(wait_for_screen([&] {
    ok = caption(dialog.ok_button);
    cancel = caption(dialog.cancel_button);
    return drawn(ok) && drawn(cancel);
  })) << "a caption is not drawn";
  EXPECT_NE(ok, cancel) << "both captions drawn alike, as boxes";
}

TEST_F(PanelExe, At120DpiTheWindowAndItsControlsAreScaledByAQuarter) {
  LoggedBoard board;
  ASSERT_TRUE(WineSession::get().set_dpi(dpi = 120));
  start({"RELAY_PANEL_OPEN_PORT=1"});
  const bool reset = WineSession::get().set_dpi(96);
  EXPECT_EQ(std::pair(width, height), std::pair(560, 664));
  EXPECT_TRUE(shows(red)) << colours();
  click(main_form_geometry.indicator(12));
  EXPECT_TRUE(shows(red, {12}, green)) << colours();
  const Frames frames = board.take_frames();
  EXPECT_NE(std::find(frames.begin(), frames.end(), "55 01 12 00 00 00 0C 74"), frames.end());
  ASSERT_TRUE(reset) << "the DPI stays 120";
}

// Port 3 mapped in lines.conf to the line that the bridge serves for the virtual board,
// over TLS: a wrong CA file or a certificate made out to another host keeps the port
// closed and says why; with the right one the indicators follow the states the bridge
// publishes, a click reaches the board as the bridge's command, and a rename is the
// bridge's to store.
using ServedPanelExe = PanelExeOn<TlsBridgeRig>;

TEST_F(ServedPanelExe, APortMappedToAServedLineShowsSwitchesAndRenamesTheBridgesBoard) {
  const std::string bridge_file =
      "[address 0]\r\n[Software properties]\r\nThe name=Site\r\n[address 1]\r\n"
      "relay1name=Pump\r\nrelay2name=Fan\r\n";
  write_names(bridge_file);
  auto bridge = start_bridge_online();
  const auto open_port_3_on = [&](const MqttBroker& at, const std::string& cafile) {
    std::ofstream(folder() / "lines.conf", std::ios::binary)
        << "3 = " << url(at) << "/relayboard/com1\r\n3.cafile = " << windows_path(cafile) << "\r\n";
    start({"RELAY_PANEL_OPEN_PORT=3"});
  };
  const struct {
    const MqttBroker& at;
    std::string cafile;
    std::string refusal;
  } wrong[] = {
      {broker, elsewhere.ca_file(),
       "the broker's certificate is from an authority that the CA file does not hold"},
      {elsewhere, elsewhere.ca_file(), "the broker's certificate is not made out to 127.0.0.1"},
  };
  for (const auto& row : wrong) {
    open_port_3_on(row.at, row.cafile);
    const auto refused = message(" could not be opened: ");
    ASSERT_TRUE(refused) << "no message";
    EXPECT_NE(refused->find(row.refusal), std::string::npos) << *refused;
  }
  open_port_3_on(broker, broker.ca_file());
  const auto told = [&] {
    std::string text;
    for (const auto& line : panel->lines()) text += line + "\n";
    return text;
  };
  ASSERT_TRUE(shows(red)) << colours() << told();
  ASSERT_TRUE(watcher->publish(topic("1/4/set"), "ON"));
  EXPECT_TRUE(shows(red, {4}, green)) << colours();
  ASSERT_EQ(wait_switch_frames(1), Frames{"55 01 12 00 00 00 04 6C"});

  click(main_form_geometry.indicator(5));
  EXPECT_EQ(wait_switch_frames(1), Frames{"55 01 12 00 00 00 05 6D"}) << board->log();
  EXPECT_TRUE(shows(red, {4, 5}, green)) << colours() << told();

  // A rename lands in the bridge's file, and the dialog closes on its answer.
  click(main_form_geometry.name_label(2));
  const NameFormGeometry& dialog = name_form_geometry;
  std::optional<std::pair<int, int>> at;
  ASSERT_TRUE(wait_for_screen([&] {
    at = screen().window_of_size(dialog.client().width, dialog.client().height);
    return at.has_value();
  })) << "no dialog";
  const PixelRect ok = scaled(dialog.ok_button);
  screen().key("End");
  for (int i = 0; i < 3; ++i) screen().key("BackSpace");
  screen().type("Air 2");
  screen().click(at->first + ok.left + ok.width / 2, at->second + ok.top + ok.height / 2);
  std::string renamed = bridge_file;
  renamed.replace(renamed.find("Fan"), 3, "Air 2");
  EXPECT_TRUE(wait_for_screen([&] { return read_bytes(dir() + "/name.txt") == renamed; }))
      << read_bytes(dir() + "/name.txt") << told();
  EXPECT_TRUE(wait_for_screen([&] {
    return !screen().window_of_size(dialog.client().width, dialog.client().height);
  })) << "the dialog stays";
}

// Not a check: the panel's wake-ups and processor time on a served line over five
// seconds in which nothing changes (bench/windows/figures runs it).
TEST_F(ServedPanelExe, DISABLED_WakeupsOnAQuietServedLine) {
  write_names("[address 0]\r\n[Software properties]\r\nThe name=Site\r\n");
  auto bridge = start_bridge_online();
  std::ofstream(folder() / "lines.conf", std::ios::binary)
      << "3 = " << url(broker)
      << "/relayboard/com1\r\n3.cafile = " << windows_path(broker.ca_file()) << "\r\n";
  start({"RELAY_PANEL_OPEN_PORT=3"});
  ASSERT_TRUE(shows(red)) << colours();
  const qint64 pid = panel->processId();
  const long long woken_from = wakeups(pid), cpu_from = cpu_ticks(pid);
  const auto from = Clock::now();
  wait_until([] { return false; }, 5000);
  const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
  std::printf("figure windows_served_quiet_wakeups_per_second %.1f cpu_percent %.2f\n",
              static_cast<double>(wakeups(pid) - woken_from) / seconds,
              100.0 * static_cast<double>(cpu_ticks(pid) - cpu_from) /
                  static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds);
}

// Not a check: the same figures for the Linux panel on the same screen and board, for
// comparison (bench/windows/figures runs it).
TEST_F(PanelExe, DISABLED_LinuxPanelFiguresAlongside) {
  LoggedBoard board;
  const auto linux_panel = folder() / "relay_panel";
  std::filesystem::copy_file(RELAY_LINUX_PANEL, linux_panel);
  std::filesystem::create_symlink(WineSession::get().ports / "com1", folder() / "com1");
  start({"QT_QPA_PLATFORM=xcb", "RELAY_PANEL_OPEN_PORT=1"}, linux_panel);
  ASSERT_TRUE(shows(red)) << colours();
  print_poll_figures(board, "linux");
  std::vector<std::int64_t> click_to_wire;
  for (int click_number = 0; click_number < 8; ++click_number) {
    const bool opens = click_number % 2 == 0;
    board.take_frames();
    const auto clicked = Clock::now();
    click(main_form_geometry.indicator(5));
    click_to_wire.push_back(wait_for_frame(
        board, opens ? "55 01 12 00 00 00 05 6D" : "55 01 11 00 00 00 05 6C", clicked));
    ASSERT_TRUE(shows(red, {5}, opens ? green : red)) << colours();
  }
  print_click_figures(click_to_wire, "linux");
}

// Not a check: what the panel and the Wine server cost while the port is open and the
// board answers, then the Linux panel on the same board (bench/windows/figures runs it).
TEST_F(PanelExe, DISABLED_CpuWithThePortOpen) {
  LoggedBoard board;
  start({"RELAY_PANEL_OPEN_PORT=1"});
  ASSERT_TRUE(shows(red)) << colours();
  const qint64 server = wineserver_pid();
  ASSERT_GT(server, 0);
  print_cost_figures(board, "windows", server);
  WindowsProgram close("taskkill.exe", {"/im", "relay_panel.exe"});
  ASSERT_EQ(panel->finish(), 0);

  const auto linux_panel = folder() / "relay_panel";
  std::filesystem::copy_file(RELAY_LINUX_PANEL, linux_panel);
  std::filesystem::create_symlink(WineSession::get().ports / "com1", folder() / "com1");
  start({"QT_QPA_PLATFORM=xcb", "RELAY_PANEL_OPEN_PORT=1"}, linux_panel);
  ASSERT_TRUE(shows(red)) << colours();
  print_cost_figures(board, "linux", -1);
}

}  // namespace
