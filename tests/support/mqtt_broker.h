#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "logged_process.h"

// A real mosquitto broker for the tests, as a site runs it: its own configuration, password
// file, certificates and store in a temporary folder, listening on a free loopback port that
// it keeps across stop() and start(), so that clients reconnect to the same address.
class MqttBroker {
 public:
  struct Options {
    // The store survives a restart, so retained messages come back as on a real site.
    bool persistence = false;
    // Only this user (mosquitto_passwd) may connect; anonymous clients are refused.
    std::string user;
    std::string password;
    // A TLS listener with a CA, a server and a client certificate made here with openssl.
    bool tls = false;
    bool require_certificate = false;
    // The names the server's certificate is made out to.
    std::string server_names = "IP:127.0.0.1, DNS:localhost";
    // set_tcp_nodelay: each packet leaves at once. By default the broker holds a small
    // packet until the peer acknowledges the last one, up to the peer's delayed ACK.
    bool tcp_nodelay = false;
    // The text of an acl_file (mosquitto's topic rules), none when empty.
    std::string acl;
  };

  MqttBroker();
  explicit MqttBroker(const Options& options);
  ~MqttBroker();
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  // Starts the broker (again) and waits until its port accepts connections; false, with
  // error() saying why, when it did not come up.
  bool start();
  // SIGTERM, and waits: a persistent broker saves its store on the way out.
  void stop();
  // SIGKILL: gone at once, as in a power cut.
  void kill();
  bool restart() {
    stop();
    return start();
  }
  bool running() const { return process_ != nullptr; }

  int port() const { return port_; }
  const std::string& host() const { return host_; }
  const std::string& folder() const { return folder_; }
  const std::string& error() const { return error_; }
  // The broker's own log, for a failing test's message.
  std::string log() const;
  // Files made for the TLS mode (empty otherwise) and the password mode.
  std::string ca_file() const { return tls_file("ca.crt"); }
  std::string client_cert() const { return tls_file("client.crt"); }
  std::string client_key() const { return tls_file("client.key"); }
  const Options& options() const { return options_; }

 private:
  std::string tls_file(const char* name) const;
  bool write_config();
  bool make_password_file();
  bool make_certificates();
  // Runs a set-up tool to its end, its output in setup.log; whether it succeeded.
  bool run_tool(const std::string& program, const std::vector<std::string>& arguments);
  bool wait_until_listening(std::chrono::steady_clock::time_point deadline);

  Options options_;
  std::string host_ = "127.0.0.1";
  std::string folder_;
  std::string error_;
  int port_ = 0;
  std::unique_ptr<LoggedProcess> process_;
};
