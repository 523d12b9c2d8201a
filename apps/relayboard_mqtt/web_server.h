#pragma once

#include <QAbstractHttpServer>
#include <QTimer>
#include <QWebSocket>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge/bridge_names.h"
#include "mqtt/bridge_topics.h"
#include "mqtt/mqtt_client.h"
#include "web/web_boards.h"
#include "web/web_endpoint.h"
#include "web/web_sessions.h"
#include "web/web_users.h"

// The web page: its files, the login, and a WebSocket per open page that carries the
// boards as they change and the page's commands, each handed to the bridge's logic as a
// command from the broker would be, its answer sent back to that page alone.
class WebServer : public QAbstractHttpServer {
 public:
  struct Setup {
    WebEndpoint endpoint;
    std::optional<std::filesystem::path> cert;
    std::optional<std::filesystem::path> key;
    std::optional<std::filesystem::path> users;
    std::filesystem::path files;  // the page's HTML, CSS and JavaScript
  };
  using Command = std::function<void(const MqttMessage&)>;
  using LogLine = std::function<void(const std::string&)>;

  WebServer(Setup setup, const BridgeTopics& topics, std::vector<std::uint8_t> addresses,
            Command command, LogLine log);
  ~WebServer() override;

  // Reads the files and listens; why not, when the page cannot be served.
  std::optional<std::string> start();

  // Where the answers to the page's commands go: they never reach the broker.
  const std::string& answer_prefix() const { return answer_prefix_; }
  // What the bridge publishes, and the answers to the page's commands.
  void published(const std::string& topic, const std::string& payload);
  void answer(const std::string& topic, const std::string& payload);
  void names_changed(const BridgeNames& names);
  // An event of the line as relayctl log prints it: to every page, and kept for those
  // that open later.
  void event(const std::string& text);

 protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

 private:
  struct Page {
    std::unique_ptr<QWebSocket> socket;
    std::string token;  // its session's, empty without a login
    std::string id;     // in its commands' response topics
  };
  struct Reply {
    int status = 200;
    std::string type = "application/json";
    std::string body;
    std::string cookie;
  };

  Reply answer_request(const QHttpServerRequest& request);
  Reply login(const QHttpServerRequest& request);
  void send(QHttpServerRequest const& request, QTcpSocket* socket, const Reply& reply);
  void page_opened();
  void page_message(QWebSocket* socket, const QString& text);
  // The page's session: who uses it and what they may do; nothing once it has expired.
  std::optional<WebSessions::Session> session(const std::string& token);
  void broadcast(const std::string& json);
  // Pages whose login has expired are sent to the login form: they stop seeing the boards.
  void close_expired_pages();

  Setup setup_;
  BridgeTopics topics_;
  WebBoards boards_;
  Command command_;
  LogLine log_;
  std::optional<WebUsers> users_;
  WebSessions sessions_;
  std::map<std::string, std::string> files_;  // "/app.js" -> its bytes
  std::map<QWebSocket*, Page> pages_;
  std::string answer_prefix_;
  unsigned next_page_ = 0;
  std::map<std::string, QWebSocket*> page_ids_;
  QTimer expiry_timer_;
};
