#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "board_process.h"
#include "form_fixture.h"
#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "names/default_name_text.h"
#include "names/profile_store.h"

namespace fs = std::filesystem;

namespace {

// Generous: a loaded machine may take long to start a program.
constexpr int wait_ms = 60'000;
// The operator's user ids where the tests run as root, who could write anywhere.
constexpr uid_t operator_id = 65534;

// Everything below `path` made read-only, as a package's files are to a user.
void make_read_only(const fs::path& path) {
  for (const auto& entry : fs::recursive_directory_iterator(path)) {
    if (!entry.is_symlink()) {
      fs::permissions(entry.path(),
                      fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    }
  }
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// A folder for the operator alone.
void give_to_operator(const fs::path& path) {
  if (geteuid() == 0 && ::chown(path.c_str(), operator_id, operator_id) != 0) {
    ADD_FAILURE() << "chown " << path;
  }
}

// What one run of an installed program printed and how it ended.
struct PanelRun {
  std::vector<std::string> messages;  // the message lines before the window was up
  std::string title;                  // from "shown: <title>"; empty if never shown
  std::string output;
};

// The unpacked package copied to a temporary root that the operator cannot write, and
// a home of the operator's own.
class InstalledPanel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    fs::permissions(root(), fs::perms::all);  // the operator enters it
    fs::copy(fs::path(RELAY_INSTALL_STAGE) / "usr", root() / "usr",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    make_read_only(root() / "usr");
    for (const auto& folder : {home(), runtime()}) {
      fs::create_directories(folder);
      give_to_operator(folder);
    }
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
  }

  fs::path root() const { return root_.path().toStdString(); }
  fs::path home() const { return root() / "home"; }
  fs::path runtime() const { return root() / "runtime"; }
  fs::path program(const char* name) const { return root() / "usr/bin" / name; }
  fs::path state_folder() const { return home() / ".config/relay_panel"; }

  // The installed program run as the operator, with HOME pointing into the test.
  void start(QProcess& process, const char* name, const QStringList& arguments) const {
    as_operator(process);
    process.start(QString::fromStdString(program(name).string()), arguments);
  }
  // What start sets up before the program starts.
  void as_operator(QProcess& process) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(home().string()));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                       QString::fromStdString(runtime().string()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*=false"));
    environment.insert(QStringLiteral("RELAY_PANEL_MESSAGES"), QStringLiteral("stderr"));
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier([] {
      if (geteuid() != 0) return;
      if (::setgroups(0, nullptr) != 0 || ::setgid(operator_id) != 0 ||
          ::setuid(operator_id) != 0) {
        ::_exit(126);
      }
    });
  }

  // One start of the installed panel up to its window; then it is ended.
  PanelRun run_panel() const {
    QProcess panel;
    start(panel, "relay_panel", {});
    PanelRun run;
    QByteArray err;
    const QDeadlineTimer deadline(wait_ms);
    while (!err.contains("shown: ") || !err.endsWith('\n')) {
      if (deadline.hasExpired() || panel.state() == QProcess::NotRunning) break;
      panel.waitForReadyRead(200);
      err += panel.readAllStandardError();
    }
    panel.terminate();
    panel.waitForFinished(wait_ms);
    err += panel.readAllStandardError();
    run.output = err.toStdString();
    for (const QByteArray& line : err.split('\n')) {
      if (line.startsWith("shown: ")) {
        run.title = line.mid(7).toStdString();
        break;
      }
      if (!line.isEmpty()) run.messages.push_back(line.toStdString());
    }
    return run;
  }

  // What a program prints on standard output for the arguments.
  std::string output_of(const char* name, const QStringList& arguments) const {
    QProcess process;
    start(process, name, arguments);
    if (!process.waitForFinished(wait_ms)) return "(did not end)";
    return process.readAllStandardOutput().toStdString();
  }

 private:
  QTemporaryDir root_;
};

TEST_F(InstalledPanel, AnswersForItselfWithoutAWindow) {
  EXPECT_EQ(output_of("relay_panel", {"--version"}), "relay_panel " RELAY_PANEL_VERSION "\n");
  EXPECT_EQ(output_of("relay_board_sim", {"--version"}),
            "relay_board_sim " RELAY_PANEL_VERSION "\n");
  const std::string help = output_of("relay_panel", {"--help"});
  EXPECT_NE(help.find("--names <FILE>"), std::string::npos) << help;
  EXPECT_NE(help.find("~/.config/relay_panel"), std::string::npos) << help;
}

TEST_F(InstalledPanel, KeepsItsNamesPerUserWhereItsFolderIsReadOnly) {
  const fs::path name_file = state_folder() / "name.txt";
  const PanelRun first = run_panel();
  ASSERT_EQ(first.title, "Corvanti") << first.output;
  EXPECT_EQ(first.messages,
            (std::vector<std::string>{"File Not Found: " + name_file.string() + " not found.",
                                      "name file created"}));
  EXPECT_EQ(read_bytes(name_file), default_name_text());
  EXPECT_FALSE(fs::exists(program("name.txt")));

  // A title and a name stored as a rename stores them: the next start reads them and
  // says nothing.
  const WriteOutcome written =
      ProfileStore().write_value(name_file, "Software properties", "The name", "Pump house");
  ASSERT_TRUE(written.written);
  const PanelRun second = run_panel();
  EXPECT_EQ(second.title, "Pump house") << second.output;
  EXPECT_EQ(second.messages, std::vector<std::string>{});
  EXPECT_EQ(written.error, std::nullopt);
}

// The window over the per-user folder that the installed panel made: names load, a
// rename survives a restart, and a com1 link placed there (by the installed virtual
// board) is the device that port 1 opens.
TEST_F(InstalledPanel, ThePerUserFolderHoldsNamesAndPortLinks) {
  ASSERT_EQ(run_panel().title, "Corvanti");
  const fs::path name_file = state_folder() / "name.txt";
  RecordingMessageBoxes messages;

  {
    FakeSerialPort port;
    main_form form(name_file, state_folder(), messages, port);
    form.set_up();
    form.show();
    auto* label = form.findChild<QLabel*>("Label4_3");
    ASSERT_NE(label, nullptr);
    const QString before = label->text();
    EXPECT_FALSE(before.isEmpty());
    QTest::mouseClick(label, Qt::LeftButton);
    auto* text = form.rename_dialog().findChild<QLineEdit*>("mingcheng");
    auto* ok = form.rename_dialog().findChild<QPushButton*>("Command_ok");
    ASSERT_TRUE(text && ok);
    text->setText(QStringLiteral("Inlet valve"));
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(label->text(), "Inlet valve");
  }
  const PanelRun restart = run_panel();
  EXPECT_EQ(restart.messages, std::vector<std::string>{}) << restart.output;

  // Stopped last, when the panel has let go of the line.
  BoardProcess board(QString::fromStdString(program("relay_board_sim").string()),
                     {"--link-dir", QString::fromStdString(state_folder().string()), "--port", "1"},
                     [this](QProcess& process) { as_operator(process); });
  ASSERT_FALSE(board.device.isEmpty());
  const std::string device = board.device.toStdString();
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::is_symlink(state_folder() / "com1"); }, wait_ms));
  EXPECT_EQ(fs::read_symlink(state_folder() / "com1"), device);

  PosixSerialPort port(state_folder(), QtDescriptorLoop::program());
  main_form form(name_file, state_folder(), messages, port);
  form.set_up();
  form.show();
  EXPECT_EQ(form.findChild<QLabel*>("Label4_3")->text(), "Inlet valve");
  form.findChild<QLineEdit*>("chuankou_num")->setText(QStringLiteral("1"));
  auto* port_button = form.findChild<QPushButton*>("open_comm");
  QTest::mouseClick(port_button, Qt::LeftButton);
  ASSERT_EQ(messages.shown, std::vector<Message>{});
  EXPECT_EQ(port_button->text(), "close com");
  auto* box = form.findChild<IndicatorBox*>("Picture1_1");
  EXPECT_TRUE(QTest::qWaitFor([&] { return box->colour() == colour_red; }, wait_ms));
  QTest::mouseClick(port_button, Qt::LeftButton);
  board.terminate();
  board.waitForFinished(wait_ms);
}

// Every file below `folder`, by its path there.
std::set<std::string> files_below(const fs::path& folder) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    files.insert(fs::relative(entry.path(), folder).string());
  }
  return files;
}

// Root running the package from a system folder: the unpacked tree, seen by each program
// (in a mount namespace of its own) as /opt/relay-panel, the way a package for /opt
// installs it. Root may write there; the programs keep their state in root's per-user
// folder all the same, and the tree is as it was after a status, a switch, a rename, the
// panel's start and the bridge's.
TEST_F(InstalledPanel, RunByRootFromASystemFolderItWritesNothingBesideItself) {
  if (geteuid() != 0) GTEST_SKIP() << "root runs this";
  const fs::path home = root() / "root-home";
  const fs::path state = home / ".config/relay_panel";
  fs::create_directories(state);
  const std::string tree = (root() / "usr").string();
  const auto as_installed_root = [&](QProcess& process) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
    environment.insert(QStringLiteral("HOME"), QString::fromStdString(home.string()));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("RELAY_PANEL_MESSAGES"), QStringLiteral("stderr"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setChildProcessModifier([tree] {
      if (::unshare(CLONE_NEWNS) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("none", "/opt", "tmpfs", 0, "mode=0755") != 0 ||
          ::mkdir("/opt/relay-panel", 0755) != 0 ||
          ::mount(tree.c_str(), "/opt/relay-panel", nullptr, MS_BIND | MS_REC, nullptr) != 0) {
        ::_exit(125);
      }
    });
  };
  // A program run until it ends, or until it has printed `until`; its output.
  const auto run = [&](const char* name, const QStringList& arguments, const char* until = "") {
    QProcess process;
    as_installed_root(process);
    process.start(QStringLiteral("/opt/relay-panel/bin/") + QString::fromLatin1(name), arguments);
    std::string output;
    const QDeadlineTimer deadline(wait_ms);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired() &&
           (!*until || output.find(until) == std::string::npos)) {
      process.waitForReadyRead(100);
      output += process.readAll().toStdString();
    }
    process.terminate();
    process.waitForFinished(wait_ms);
    output += process.readAll().toStdString();
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 125) {
      output = "(no mount namespace)";
    }
    return output;
  };
  if (run("relayctl", {"--version"}) == "(no mount namespace)") {
    GTEST_SKIP() << "this system gives the test no mount namespace";
  }
  const std::set<std::string> before = files_below(root() / "usr");
  BoardProcess board({"--link-dir", QString::fromStdString(state.string()), "--port", "1"});
  ASSERT_FALSE(board.device.isEmpty());

  const std::string status = run("relayctl", {"--port", "1", "status"});
  EXPECT_NE(status.find("relay  state"), std::string::npos) << status;
  const std::string switched = run("relayctl", {"--port", "1", "open", "3"}) +
                               run("relayctl", {"--port", "1", "rename", "3", "Pump"});
  const std::string panel = run("relay_panel", {}, "shown: ");
  EXPECT_NE(panel.find("shown: "), std::string::npos) << panel;
  const std::string bridge =
      run("relayboard-mqtt", {"--port", "1", "--mqtt-port", "1"}, "serial line port 1");
  EXPECT_NE(bridge.find("serial line port 1"), std::string::npos) << bridge;

  EXPECT_EQ(files_below(root() / "usr"), before);
  EXPECT_NE(read_bytes(state / "name.txt").find("Pump"), std::string::npos) << switched;
  EXPECT_TRUE(fs::exists(state / "events.db")) << switched;
}

// The bridge's service starts the installed program, which comes with its manual page and
// an example configuration whose keys are exactly the program's options.
TEST_F(InstalledPanel, ShipsTheBridgeWithItsServiceAndExample) {
  const std::string unit = read_bytes(root() / "usr/lib/systemd/system/relayboard-mqtt@.service");
  EXPECT_NE(unit.find("exec /usr/bin/relayboard-mqtt "), std::string::npos) << unit;
  // systemd ignores a misspelt setting with a warning, and the service then runs without
  // that protection: verify must have nothing to say.
  const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
  if (!analyze.isEmpty()) {
    const fs::path instance = root() / "relayboard-mqtt@ttyUSB0.service";
    fs::copy_file(root() / "usr/lib/systemd/system/relayboard-mqtt@.service", instance);
    QProcess verify;
    verify.start(analyze, {"verify", "--man=no", QString::fromStdString(instance.string())});
    ASSERT_TRUE(verify.waitForFinished(wait_ms));
    EXPECT_EQ(verify.exitCode(), 0);
    EXPECT_EQ(verify.readAllStandardError().toStdString(), "");
  }
  EXPECT_EQ(output_of("relayboard-mqtt", {"--version"}),
            "relayboard-mqtt " RELAY_PANEL_VERSION "\n");
  for (const char* file :
       {"usr/share/man/man1/relayboard-mqtt.1.gz", "usr/share/man/man5/relayboard-mqtt.conf.5.gz",
        "usr/share/bash-completion/completions/relayboard-mqtt"})
    EXPECT_TRUE(fs::is_regular_file(root() / file)) << file;

  const auto words = [](const std::string& text, const std::regex& pattern) {
    std::set<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
      found.insert((*it)[1]);
    }
    return found;
  };
  std::set<std::string> options =
      words(output_of("relayboard-mqtt", {"--help"}), std::regex("--([a-z][a-z-]*)"));
  // Tasks for one run are no configuration keys.
  for (const char* leaves_out : {"help", "version", "config", "forget-line", "add-web-user"}) {
    options.erase(leaves_out);
  }
  ASSERT_TRUE(options.contains("device")) << "no options in relayboard-mqtt --help";
  const std::string example =
      read_bytes(root() / "usr/share/doc/relay-panel/examples/relayboard-mqtt.conf");
  EXPECT_EQ(words(example, std::regex("(?:^|\n)#([a-z-]+) = ")), options) << example;

  // The web page's files are found in the share folder beside the installed program.
  QProcess bridge;
  bridge.setProcessChannelMode(QProcess::MergedChannels);
  bridge.start(QString::fromStdString(program("relayboard-mqtt").string()),
               {"--port", "99", "--names", QString::fromStdString((root() / "name.txt").string()),
                "--mqtt-port", "1", "--web", "127.0.0.1:0"});
  std::string log;
  const QDeadlineTimer deadline(wait_ms);
  while (log.find("web page on http://127.0.0.1:") == std::string::npos &&
         bridge.state() != QProcess::NotRunning && !deadline.hasExpired()) {
    bridge.waitForReadyRead(100);
    log += bridge.readAll().toStdString();
  }
  EXPECT_NE(log.find("web page on http://127.0.0.1:"), std::string::npos) << log;
  bridge.terminate();
  bridge.waitForFinished(wait_ms);
}

}  // namespace
