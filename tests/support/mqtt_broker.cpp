#include "mqtt_broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {
using Clock = std::chrono::steady_clock;
// Generous: a loaded CI machine may take seconds to start the broker or make a key.
constexpr auto start_deadline = std::chrono::seconds(20);
constexpr auto stop_deadline = std::chrono::seconds(10);
constexpr auto tool_deadline = std::chrono::seconds(60);

sockaddr_in loopback(const std::string& host, int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  return address;
}

// The kernel's choice of a free loopback port; the broker binds it right after.
int free_port(const std::string& host) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback(host, 0);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(probe);
  return port;
}

bool accepts_connections(const std::string& host, int port) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in address = loopback(host, port);
  const bool connected =
      ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return connected;
}

std::string file_text(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string user_name() {
  const passwd* entry = ::getpwuid(::getuid());
  return entry ? entry->pw_name : "root";
}
}  // namespace

MqttBroker::MqttBroker() : MqttBroker(Options{}) {}

MqttBroker::MqttBroker(const Options& options) : options_(options) {
  std::string pattern = (std::filesystem::temp_directory_path() / "mqtt-broker-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    error_ = "no temporary folder";
    return;
  }
  folder_ = pattern;
  port_ = free_port(host_);
  if (port_ == 0) error_ = "no free loopback port";
  if (error_.empty() && !options_.user.empty()) make_password_file();
  if (error_.empty() && options_.tls) make_certificates();
  if (error_.empty() && write_config()) start();
}

MqttBroker::~MqttBroker() {
  kill();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::string MqttBroker::tls_file(const char* name) const {
  return options_.tls ? folder_ + "/" + name : std::string();
}

bool MqttBroker::write_config() {
  std::ofstream config(folder_ + "/mosquitto.conf");
  // Started as root, mosquitto would drop to its own user and lose the test's folder.
  config << "user " << user_name() << "\n"
         << "log_dest stderr\nlog_type error\nlog_type warning\nlog_type notice\n"
         << "log_type information\nconnection_messages true\n"
         // The flood tests send 2000 commands in a row: on a loaded machine the bridge
         // can fall a thousand behind, past which mosquitto drops what it queues for a
         // client by default, and the test would wait for a command that never came.
         << "max_queued_messages 10000\n"
         << "set_tcp_nodelay " << (options_.tcp_nodelay ? "true" : "false") << "\n"
         << "listener " << port_ << " " << host_ << "\n";
  if (!options_.user.empty())
    config << "allow_anonymous false\npassword_file " << folder_ << "/passwords\n";
  else
    config << "allow_anonymous true\n";
  if (options_.tls) {
    config << "cafile " << ca_file() << "\ncertfile " << folder_ << "/server.crt\nkeyfile "
           << folder_ << "/server.key\n"
           << "require_certificate " << (options_.require_certificate ? "true" : "false") << "\n";
  }
  if (!options_.acl.empty()) {
    std::ofstream(folder_ + "/acl") << options_.acl;
    config << "acl_file " << folder_ << "/acl\n";
  }
  if (options_.persistence) {
    // Saved on every change as well as on a clean stop, so that kill() loses little.
    config << "persistence true\npersistence_location " << folder_
           << "/\nautosave_on_changes true\nautosave_interval 1\n";
  } else {
    config << "persistence false\n";
  }
  config.close();
  if (!config) error_ = "could not write mosquitto.conf in " + folder_;
  return error_.empty();
}

bool MqttBroker::run_tool(const std::string& program, const std::vector<std::string>& arguments) {
  LoggedProcess tool(program, arguments, folder_ + "/setup.log");
  if (tool.wait_exit(tool_deadline) == 0) return true;
  error_ = program + " failed: " + file_text(folder_ + "/setup.log");
  return false;
}

bool MqttBroker::make_password_file() {
  return run_tool("mosquitto_passwd",
                  {"-b", "-c", folder_ + "/passwords", options_.user, options_.password});
}

bool MqttBroker::make_certificates() {
  std::ofstream(folder_ + "/names.ext") << "subjectAltName = " << options_.server_names << "\n"
                                        << "basicConstraints = CA:false\n";
  const auto path = [&](const std::string& name) { return folder_ + "/" + name; };
  // Elliptic-curve keys: made in milliseconds where RSA keys take a loaded machine seconds.
  const auto request = [&](std::vector<std::string> words) {
    words.insert(words.begin() + 1,
                 {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"});
    return run_tool("openssl", words);
  };
  if (!request({"req", "-x509", "-days", "2", "-subj", "/CN=relay test CA", "-keyout",
                path("ca.key"), "-out", path("ca.crt")}))
    return false;
  for (const std::string party : {"server", "client"}) {
    const std::string common_name = party == "server" ? "localhost" : party;
    if (!request({"req", "-subj", "/CN=" + common_name, "-keyout", path(party + ".key"), "-out",
                  path(party + ".csr")}) ||
        !run_tool("openssl", {"x509", "-req", "-days", "2", "-in", path(party + ".csr"), "-CA",
                              path("ca.crt"), "-CAkey", path("ca.key"), "-CAcreateserial",
                              "-extfile", path("names.ext"), "-out", path(party + ".crt")}))
      return false;
  }
  return true;
}

bool MqttBroker::start() {
  if (running()) return true;
  if (folder_.empty() || port_ == 0) return false;
  error_.clear();
  process_ = std::make_unique<LoggedProcess>(
      "/usr/sbin/mosquitto", std::vector<std::string>{"-c", folder_ + "/mosquitto.conf"},
      folder_ + "/mosquitto.log");
  return wait_until_listening(Clock::now() + start_deadline);
}

bool MqttBroker::wait_until_listening(Clock::time_point deadline) {
  // mosquitto logs its listeners as it opens them: each line of its log wakes the wait.
  while (!accepts_connections(host_, port_)) {
    if (!process_->running()) {
      process_.reset();
      error_ = "mosquitto ended at start: " + log();
      return false;
    }
    if (Clock::now() > deadline) {
      kill();
      error_ = "mosquitto did not listen on port " + std::to_string(port_) + ": " + log();
      return false;
    }
    const auto logged = log().size();
    // A second at most: a listener opened after the last line is found on the next look.
    eventually(
        [&] { return log().size() != logged || !process_->running(); },
        std::min(std::chrono::milliseconds(1000),
                 std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())));
  }
  return true;
}

void MqttBroker::stop() {
  if (!running()) return;
  process_->signal(SIGTERM);
  process_->wait_exit(stop_deadline);
  process_.reset();  // killed if it did not go in time
}

void MqttBroker::kill() {
  process_.reset();
}

std::string MqttBroker::log() const {
  return file_text(folder_ + "/mosquitto.log");
}
