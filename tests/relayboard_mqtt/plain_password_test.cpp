// A password goes to a broker elsewhere in clear only when the operator allows it: relayctl,
// the bridge and the panel's core on a served line, each against a listener on 127.0.0.2
// that keeps every byte a client sends.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include "link_qt/qt_serial_port.h"
#include "logged_process.h"
#include "qt_events.h"
#include "served_line/line_map.h"
#include "served_port/line_choice_port.h"
#include "served_port/served_line_port.h"

namespace {

constexpr const char* password = "s3cret-pass";

// Takes every connection on 127.0.0.2 (the kernel answers for all of 127/8 without set-up,
// and the programs count that address as elsewhere), keeps what arrives, and accepts each
// CONNECT as a broker would, so that a client goes on as it would with one.
class ListeningBroker {
 public:
  ListeningBroker() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(0x7F000002);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        ::pipe(stop_) != 0) {
      ADD_FAILURE() << "no listener on 127.0.0.2";
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~ListeningBroker() {
    if (thread_.joinable()) {
      [[maybe_unused]] const auto written = ::write(stop_[1], "x", 1);
      thread_.join();
    }
    for (const int fd : {listener_, stop_[0], stop_[1]}) ::close(fd);
  }

  int port() const { return port_; }
  int connections() const { return connections_; }
  std::string received() const {
    const std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  void serve() {
    std::vector<pollfd> fds{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    while (::poll(fds.data(), fds.size(), -1) > 0 && !(fds[0].revents & POLLIN)) {
      if (fds[1].revents & POLLIN) {
        fds.push_back({::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC), POLLIN, 0});
        ++connections_;
      }
      for (std::size_t i = 2; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        char bytes[4096];
        const auto count = ::read(fds[i].fd, bytes, sizeof bytes);
        if (count <= 0) {
          ::close(fds[i].fd);
          fds.erase(fds.begin() + static_cast<std::ptrdiff_t>(i--));
          continue;
        }
        const std::string packet(bytes, static_cast<std::size_t>(count));
        if (packet.front() == '\x10') {
          // CONNACK, accepted: MQTT 5 adds an empty property list.
          const auto level = packet.find("MQTT");
          const bool v5 = level != std::string::npos && packet[level + 4] == 5;
          [[maybe_unused]] const auto sent =
              ::write(fds[i].fd, v5 ? "\x20\x03\0\0\0" : "\x20\x02\0\0", v5 ? 5 : 4);
        }
        const std::lock_guard lock(mutex_);
        received_ += packet;
      }
      notify_change();
    }
    for (std::size_t i = 2; i < fds.size(); ++i) ::close(fds[i].fd);
  }

  int listener_ = -1;
  int stop_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<int> connections_ = 0;
  mutable std::mutex mutex_;
  std::string received_;
  std::thread thread_;
};

enum class Client { relayctl, bridge, panel };

class PlainPassword : public ::testing::Test {
 protected:
  PlainPassword() {
    start_qt();
    std::ofstream(path("password")) << password << "\n";
    std::filesystem::permissions(path("password"), std::filesystem::perms::owner_read);
  }
  std::string path(const std::string& name) const { return temp.path().toStdString() + "/" + name; }
  std::string where() const { return "127.0.0.2:" + std::to_string(broker.port()); }
  // Whether the password reached the listener since it had `before` bytes.
  bool password_since(std::size_t before) const {
    return broker.received().find(password, before) != std::string::npos;
  }

  // What the operator is told: the program's output and exit status, or the open's
  // reason and the port box's tooltip; once the password arrived, or the program ended.
  std::string run(Client client, const std::vector<std::string>& words, bool sent) {
    const std::size_t before = broker.received().size();
    std::vector<std::string> arguments{"--user", "op", "--password-file", path("password")};
    if (client == Client::relayctl) {
      arguments.insert(arguments.end(), {"--line", "com1", "status"});
    } else if (client == Client::bridge) {
      arguments.insert(arguments.end(),
                       {"--device", path("none"), "--names", path("name.txt"), "--host",
                        "127.0.0.2", "--mqtt-port", std::to_string(broker.port())});
    }
    arguments.insert(arguments.end(), words.begin(), words.end());
    if (client != Client::panel) {
      LoggedProcess process(client == Client::relayctl ? RELAYCTL_PATH : RELAYBOARD_MQTT_PATH,
                            arguments, path("client" + std::to_string(++runs) + ".log"));
      // Refused, the program ends; allowed, it goes on once the password is out.
      const auto code = sent ? std::nullopt : process.wait_exit();
      if (sent) eventually([&] { return password_since(before); });
      return process.log() + (code ? "exit " + std::to_string(*code) : "");
    }
    std::ofstream(path("lines.conf"))
        << "3 = mqtt://" << where() << "/relayboard/com1\n3.user = op\n"
        << "3.password_file = " << path("password") << "\n"
        << (words.empty() ? "" : words.front()) << "\n";
    QtSerialPort serial{temp.path().toStdString()};
    ServedLinePort served;
    LineChoicePort port{serial, served, temp.path().toStdString()};
    port.select_port(3);
    const OpenResult opened = port.open();
    port.close();
    return (opened.ok ? "opened" : opened.reason) + "\n" +
           line_map_tooltip("3", temp.path().toStdString()).value_or("");
  }

  QTemporaryDir temp;
  ListeningBroker broker;
  int runs = 0;
};

TEST_F(PlainPassword, GoesInClearOnlyWhereTheOperatorAllowsIt) {
  const std::string url = "mqtt://" + where();
  std::ofstream(path("relayctl.conf")) << "broker = " << url << "\nallow-plain-password = yes\n";
  std::ofstream(path("bridge.conf")) << "allow-plain-password = yes\n";
  const std::string refused = "the password would be sent in clear: ";
  const std::string ctl = "relayctl: " + url + ": ";
  const std::string ctl_refused = ctl + refused +
                                  "use mqtts:// with --cafile, or give --allow-plain-password to "
                                  "send it anyway (see relayctl --help)\nexit 1";
  const std::string bridge = "relayboard-mqtt: broker " + where() + ": ";
  const std::string sent = "the password is sent in clear, as --allow-plain-password allows\n";
  const struct {
    Client client;
    std::vector<std::string> words;
    bool sent;
    std::string told;
  } cases[] = {
      {Client::relayctl, {"--broker", url}, false, ctl_refused},
      {Client::relayctl, {"--broker", url, "--allow-plain-password"}, true, ctl + sent},
      {Client::relayctl, {"--config", path("relayctl.conf")}, true, ctl + sent},
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
           "/relayboard/com1\nthe password is sent in clear, as 3.plain_password = yes allows\n"},
  };
  for (const auto& c : cases) {
    const std::size_t before = broker.received().size();
    const int connections = broker.connections();
    const std::string told = run(c.client, c.words, c.sent);
    const std::string label = told.substr(0, told.find('\n'));
    if (c.sent) {
      EXPECT_TRUE(password_since(before)) << label;
    } else {
      // Refused before a connection: not even the user name went.
      EXPECT_EQ(broker.connections(), connections) << label;
      EXPECT_FALSE(password_since(before)) << label;
    }
    EXPECT_NE(told.find(c.told), std::string::npos) << told;
  }
}

}  // namespace
