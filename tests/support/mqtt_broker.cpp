#include "mqtt_broker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;
// Generous: a loaded CI machine may take seconds to start the broker or make a key.
constexpr auto start_deadline = std::chrono::seconds(20);
constexpr auto stop_deadline = std::chrono::seconds(10);
constexpr auto poll_interval = std::chrono::milliseconds(5);

// The kernel's choice of a free loopback port; the broker binds it right after.
int free_port(const std::string& host) {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
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
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  const bool connected =
      ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(probe);
  return connected;
}

pid_t spawn(const std::string& program, const char* const* arguments, const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = -1;
  if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, const_cast<char* const*>(arguments),
                   environ) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// True once `pid` has ended (its status reaped); waits no longer than `deadline`.
bool reaped(pid_t pid, Clock::time_point deadline) {
  for (;;) {
    if (::waitpid(pid, nullptr, WNOHANG) != 0) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(poll_interval);
  }
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

int run_program(const std::string& program, const char* const* arguments, const std::string& log) {
  const pid_t pid = spawn(program, arguments, log);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

bool MqttBroker::make_password_file() {
  const std::string file = folder_ + "/passwords";
  const char* const arguments[] = {
      "mosquitto_passwd",        "-b",   "-c", file.c_str(), options_.user.c_str(),
      options_.password.c_str(), nullptr};
  if (run_program("mosquitto_passwd", arguments, folder_ + "/setup.log") != 0)
    error_ = "mosquitto_passwd failed: " + file_text(folder_ + "/setup.log");
  return error_.empty();
}

bool MqttBroker::make_certificates() {
  const std::string out = folder_ + "/setup.log";
  std::ofstream(folder_ + "/names.ext") << "subjectAltName = IP:127.0.0.1, DNS:localhost\n"
                                        << "basicConstraints = CA:false\n";
  // Elliptic-curve keys: made in milliseconds where RSA keys take a loaded machine seconds.
  const auto run = [&](std::vector<std::string> words) {
    std::vector<const char*> arguments;
    for (const auto& word : words) arguments.push_back(word.c_str());
    arguments.push_back(nullptr);
    return run_program("openssl", arguments.data(), out) == 0;
  };
  const auto path = [&](const char* name) { return folder_ + "/" + name; };
  bool made = run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                   "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
                   "/CN=relay test CA", "-keyout", path("ca.key"), "-out", path("ca.crt")});
  for (const char* party : {"server", "client"}) {
    const std::string name = party;
    made = made &&
           run({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                "-nodes", "-subj", "/CN=" + (name == "server" ? std::string("localhost") : name),
                "-keyout", path((name + ".key").c_str()), "-out", path((name + ".csr").c_str())}) &&
           run({"openssl", "x509", "-req", "-days", "2", "-in", path((name + ".csr").c_str()),
                "-CA", path("ca.crt"), "-CAkey", path("ca.key"), "-CAcreateserial", "-extfile",
                path("names.ext"), "-out", path((name + ".crt").c_str())});
  }
  if (!made) error_ = "openssl could not make the certificates: " + file_text(out);
  return made;
}

bool MqttBroker::start() {
  if (running()) return true;
  if (folder_.empty() || port_ == 0) return false;
  error_.clear();
  const std::string config = folder_ + "/mosquitto.conf";
  const char* const arguments[] = {"mosquitto", "-c", config.c_str(), nullptr};
  pid_ = spawn("/usr/sbin/mosquitto", arguments, folder_ + "/mosquitto.log");
  if (pid_ < 0) {
    error_ = "could not start /usr/sbin/mosquitto";
    return false;
  }
  return wait_until_listening(Clock::now() + start_deadline);
}

bool MqttBroker::wait_until_listening(Clock::time_point deadline) {
  while (!accepts_connections(host_, port_)) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "mosquitto ended at start: " + log();
      return false;
    }
    if (Clock::now() > deadline) {
      kill();
      error_ = "mosquitto did not listen on port " + std::to_string(port_) + ": " + log();
      return false;
    }
    std::this_thread::sleep_for(poll_interval);
  }
  return true;
}

void MqttBroker::stop() {
  if (!running()) return;
  ::kill(pid_, SIGTERM);
  if (!reaped(pid_, Clock::now() + stop_deadline)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  pid_ = -1;
}

void MqttBroker::kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string MqttBroker::log() const {
  return file_text(folder_ + "/mosquitto.log");
}
