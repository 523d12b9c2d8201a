#pragma once

#include <QHostAddress>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "web/http_request.h"

class QTcpSocket;
class QWebSocketServer;

// How long each step of a connection may take, and how many connections there may be.
struct WebLimits {
  std::chrono::milliseconds handshake{5000};  // TLS
  std::chrono::milliseconds head{5000};       // from the connection or the first byte
  std::chrono::milliseconds body{5000};
  std::chrono::milliseconds idle{30000};    // a kept-alive connection between requests
  std::chrono::milliseconds closing{5000};  // the last answer taken by the peer
  int per_peer = 64;
  int total = 256;
};

// The page's connections: each request read within bounds and time limits, answered by
// the page's logic, and a WebSocket upgrade handed over with its handshake unread. Every
// connection is taken at once, so that none waits in a queue another can fill; a peer
// (or all of them) past the limit makes way by its oldest connection that has not yet
// sent a request, or, when it has none, is closed.
class WebListener : public QTcpServer {
 public:
  // Where an answer given after its request was taken goes, such as a login's.
  using Later = std::function<void(const std::string&)>;
  struct Handlers {
    // A refusal's bytes sent before the body is read, the connection then closed.
    std::function<std::optional<std::string>(const WebRequest&)> before_body;
    // The answer's bytes; none when they come through `later`. `peer`: its address.
    std::function<std::string(const WebRequest&, const QString& peer, Later later)> answer;
    // Whether an upgrade goes to the WebSockets; one that does not is not found.
    std::function<bool(const WebRequest&)> upgrade;
  };

  // Without `tls`, plain HTTP. `websockets` takes the upgraded connections.
  WebListener(Handlers handlers, std::optional<QSslConfiguration> tls, QWebSocketServer& websockets,
              WebLimits limits = {});
  ~WebListener() override;

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  enum class Stage { handshake, waiting, head, body, answering, closing };
  struct Client {
    QTcpSocket* socket = nullptr;
    QString peer;
    Stage stage = Stage::waiting;
    std::optional<WebRequest> request;  // its head read, its body still to come
    std::uint64_t order = 0;
    QTimer* timer = nullptr;  // the socket's: it goes with it
  };

  void enter(Client& client, Stage stage);
  void take(Client& client);
  void take_head(Client& client);
  void take_body(Client& client);
  void finish(Client& client, const std::string& bytes, bool keep_alive);
  void hand_over(Client& client);
  void drop(QTcpSocket* socket);
  // Room for one more connection of `peer`: false when none can be made.
  bool make_room(const QString& peer);
  void release(const QString& peer);

  Handlers handlers_;
  std::optional<QSslConfiguration> tls_;
  QWebSocketServer& websockets_;
  WebLimits limits_;
  std::map<QTcpSocket*, std::unique_ptr<Client>> clients_;
  std::map<QString, int> per_peer_;  // WebSockets included
  int total_ = 0;
  std::uint64_t next_order_ = 0;
};
