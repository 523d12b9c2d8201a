#pragma once

#include <QObject>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "bridge/bridge_names.h"
#include "login_checker.h"
#include "mqtt/bridge_topics.h"
#include "mqtt/mqtt_client.h"
#include "web/http_request.h"
#include "web/login_throttle.h"
#include "web/web_boards.h"
#include "web/web_endpoint.h"
#include "web/web_sessions.h"
#include "web/web_users.h"
#include "web_listener.h"
#include "web_users_file.h"

// The web page: its files, the login, and a WebSocket per open page that carries the
// boards as they change and the page's commands, each handed to the bridge's logic as a
// command from the broker would be, its answer sent back to that page alone.
class WebServer : public QObject {
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
  // Where the page is served, once it listens.
  const std::string& url() const { return url_; }
  // What the bridge publishes, and the answers to the page's commands.
  void published(const std::string& topic, const std::string& payload);
  void answer(const std::string& topic, const std::string& payload);
  void names_changed(const BridgeNames& names);
  // An event of the line as relayctl log prints it: to every page, and kept for those
  // that open later.
  void event(const std::string& text);

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
    int retry_after = 0;  // seconds, for a refusal that a later attempt may pass
  };
  // Where a reply given after its request was handled goes, such as a login's.
  using Later = std::function<void(const Reply&)>;

  // The bytes of the answer to `request`, and a refusal sent before its body is read.
  // Empty when the answer goes to `later`.
  std::string respond(const WebRequest& request, const QString& peer, WebListener::Later later);
  std::optional<std::string> refuse_early(const WebRequest& request);
  Reply answer_request(const WebRequest& request, const QString& peer, Later later);
  // Status 0: the answer goes to `later` once the password is checked.
  Reply login(const WebRequest& request, const QString& peer, Later later);
  Reply login_checked(const LoginChecker::Users& checked, const std::string& peer,
                      const std::string& user, std::optional<WebRole> role);
  // A changed users file: the sessions of users removed or changed end, with their pages.
  void reread_users();
  std::string send(const WebRequest& request, const Reply& reply);
  void page_opened();
  void page_message(QWebSocket* socket, const QString& text);
  // The page's session: who uses it and what they may do; nothing once it has expired.
  std::optional<WebSessions::Session> session(const std::string& token);
  void broadcast(const std::string& json);
  // Pages whose login has expired or ended are sent to the login form: they stop seeing
  // the boards.
  void close_expired_pages();

  Setup setup_;
  BridgeTopics topics_;
  WebBoards boards_;
  Command command_;
  LogLine log_;
  std::shared_ptr<const WebUsers> users_;  // none without a login
  std::optional<WebUsersStamp> users_stamp_;
  QTimer users_timer_;
  LoginThrottle throttle_;
  WebSessions sessions_;
  std::map<std::string, std::string> files_;  // "/app.js" -> its bytes
  std::map<QWebSocket*, Page> pages_;
  std::string answer_prefix_;
  std::string url_;
  unsigned next_page_ = 0;
  std::map<std::string, QWebSocket*> page_ids_;
  QTimer expiry_timer_;
  QWebSocketServer websockets_;
  std::unique_ptr<WebListener> listener_;
  // Last, so that it goes first: no answer of its comes to a server half gone.
  std::unique_ptr<LoginChecker> checker_;
};
