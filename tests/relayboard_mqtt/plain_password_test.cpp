// A password goes to a broker elsewhere in clear only where the operator allows it:
// relayctl, the bridge and the panel's core on a served line, against a listener on
// 127.0.0.2 (the kernel answers for all of 127/8; the programs count it as elsewhere).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "loop/qt_descriptor_loop.h"
#include "serial/posix_serial_port.h"
#include "logged_process.h"
#include "qt_events.h"
#include "mqtt/line_map.h"
#include "panel/line_choice_port.h"
#include "mqtt/served_line_port.h"

namespace {

constexpr const char* password = "s3cret-pass";

// Logs the first bytes of each connection and accepts them as the CONNECT of an MQTT 5
// client, so that the client goes on as with a broker.
constexpr const char* listener = R"(
import os, socket
s = socket.socket()
s.bind(("127.0.0.2", 0))
s.listen(8)
os.write(1, b"port %d\n" % s.getsockname()[1])
while True:
    c, _ = s.accept()
    os.write(1, b"connect %r\n" % c.recv(65536))
    c.sendall(b"\x20\x03\0\0\0")
)";

enum class Client { relayctl, bridge, panel };

class PlainPassword : public ::testing::Test {
 protected:
  PlainPassword() {
    start_qt();
    std::ofstream(path("password")) << password << "\n";
    std::filesystem::permissions(path("password"), std::filesystem::perms::owner_read);
    EXPECT_TRUE(broker.wait_for_log("port ")) << broker.log();
    port = broker.log().substr(5, broker.log().find('\n') - 5);
  }
  std::string path(const std::string& name) const { return temp.path().toStdString() + "/" + name; }

  // What the operator is told: the program's output and exit status, or the open's
  // reason and the port box's tooltip; once the password arrived, or the program ended.
  std::string run(Client client, const std::vector<std::string>& words, bool sent) {
    std::vector<std::string> arguments{"--user", "op", "--password-file", path("password")};
    if (client == Client::relayctl) arguments.insert(arguments.end(), {"--line", "l", "status"});
    if (client == Client::bridge) {
      arguments.insert(arguments.end(), {"--device", path("none"), "--names", path("name.txt"),
                                         "--host", "127.0.0.2", "--mqtt-port", port});
    }
    arguments.insert(arguments.end(), words.begin(), words.end());
    const int before = broker.log_count(password);
    if (client != Client::panel) {
      LoggedProcess process(client == Client::relayctl ? RELAYCTL_PATH : RELAYBOARD_MQTT_PATH,
                            arguments, path("client" + std::to_string(++runs) + ".log"));
      // Refused, the program ends; allowed, it goes on once the password is out.
      const auto code = sent ? std::nullopt : process.wait_exit();
      if (sent) broker.wait_for_log(password, before + 1);
      return process.log() + (code ? "exit " + std::to_string(*code) : "");
    }
    std::ofstream(path("lines.conf"))
        << "3 = mqtt://127.0.0.2:" << port << "/relayboard/l\n"
        << "3.user = op\n3.password_file = " << path("password") << "\n"
        << (words.empty() ? "" : words.front()) << "\n";
    PosixSerialPort serial{temp.path().toStdString(), QtDescriptorLoop::program()};
    ServedLinePort served;
    LineChoicePort line{serial, served, temp.path().toStdString()};
    line.select_port(3);
    const OpenResult opened = line.open();
    line.close();
    return (opened.ok ? "opened" : opened.reason) + "\n" +
           line_map_tooltip("3", temp.path().toStdString()).value_or("");
  }

  QTemporaryDir temp;
  LoggedProcess broker{"python3", {"-c", listener}, path("broker.log")};
  std::string port;
  int runs = 0;
};

TEST_F(PlainPassword, GoesInClearOnlyWhereTheOperatorAllowsIt) {
  const std::string url = "mqtt://127.0.0.2:" + port;
  std::ofstream(path("relayctl.conf")) << "broker = " << url << "\nallow-plain-password = yes\n";
  std::ofstream(path("bridge.conf")) << "allow-plain-password = yes\n";
  const std::string refused = "the password would be sent in clear: ", ctl = "relayctl: " + url;
  const std::string ctl_refused =
      ctl + ": " + refused + "use mqtts:// with --cafile, or give " +
      "--allow-plain-password to send it anyway (see relayctl --help)\nexit 1";
  const std::string bridge = "relayboard-mqtt: broker 127.0.0.2:" + port + ": ";
  const std::string sent = "the password is sent in clear, as --allow-plain-password allows\n";
  const struct {
    Client client;
    std::vector<std::string> words;
    bool sent;
    std::string told;
  } cases[] = {
      {Client::relayctl, {"--broker", url}, false, ctl_refused},
      {Client::relayctl, {"--broker", url, "--allow-plain-password"}, true, ctl + ": " + sent},
      {Client::relayctl, {"--config", path("relayctl.conf")}, true, ctl + ": " + sent},
      // The file allows it for its own broker, not for one the command line names.
      {Client::relayctl, {"--broker", url, "--config", path("relayctl.conf")}, false, ctl_refused},
      {Client::bridge,
       {},
       false,
       bridge + refused +
           "give --cafile for TLS, or give --allow-plain-password to send it anyway\nexit 2"},
      {Client::bridge, {"--allow-plain-password"}, true, bridge + sent},
      {Client::bridge, {"--config", path("bridge.conf")}, true, bridge + sent},
      {Client::panel,
       {},
       false,
       refused + "map the port to mqtts:// with its cafile, or give the port plain_password = "
                 "yes in lines.conf to send it anyway\n"},
      {Client::panel,
       {"3.plain_password = yes"},
       true,
       "opened\nPort 3: " + url +
           "/relayboard/l\nthe password is sent in clear, as 3.plain_password = yes allows\n"},
  };
  for (const auto& c : cases) {
    const int connections = broker.log_count("connect ");
    const int passwords = broker.log_count(password);
    const std::string told = run(c.client, c.words, c.sent);
    // Refused before a connection: not even the user name went.
    EXPECT_EQ(broker.log_count("connect ") > connections, c.sent) << told;
    EXPECT_EQ(broker.log_count(password) > passwords, c.sent) << told;
    EXPECT_NE(told.find(c.told), std::string::npos) << told;
  }
}

}  // namespace
