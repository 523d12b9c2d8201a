#include "web_listener.h"

#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QWebSocketServer>

namespace {

// What a connection may hold unread: a head and a body, never more.
constexpr qint64 read_buffer_bytes = http_head_byte_limit + http_body_byte_limit;

std::string refusal_bytes(int status, const std::string& reason) {
  return http_response(status, {{"Content-Type", "text/plain; charset=utf-8"}},
                       std::string(http_status_text(status)) + ": " + reason + "\n", false);
}

}  // namespace

WebListener::WebListener(Handlers handlers, std::optional<QSslConfiguration> tls,
                         QWebSocketServer& websockets, WebLimits limits)
    : handlers_(std::move(handlers)),
      tls_(std::move(tls)),
      websockets_(websockets),
      limits_(limits) {}

WebListener::~WebListener() {
  for (auto& [socket, client] : clients_) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
}

void WebListener::incomingConnection(qintptr descriptor) {
  QTcpSocket* socket = tls_ ? new QSslSocket : new QTcpSocket;
  if (!socket->setSocketDescriptor(descriptor)) {
    delete socket;
    return;
  }
  const QString peer = socket->peerAddress().toString();
  if (!make_room(peer)) {
    socket->abort();
    socket->deleteLater();
    return;
  }
  ++per_peer_[peer];
  ++total_;
  socket->setReadBufferSize(read_buffer_bytes);
  auto owned = std::make_unique<Client>();
  Client& client = *owned;
  client.socket = socket;
  client.peer = peer;
  client.order = next_order_++;
  client.timer = new QTimer(socket);
  client.timer->setSingleShot(true);
  clients_[socket] = std::move(owned);
  connect(client.timer, &QTimer::timeout, this, [this, socket] { drop(socket); });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { drop(socket); });
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
    if (const auto found = clients_.find(socket); found != clients_.end()) take(*found->second);
  });
  if (!tls_) {
    enter(client, Stage::waiting);
    return;
  }
  auto* secure = static_cast<QSslSocket*>(socket);
  secure->setSslConfiguration(*tls_);
  connect(secure, &QSslSocket::encrypted, this, [this, socket] {
    if (const auto found = clients_.find(socket); found != clients_.end())
      enter(*found->second, Stage::waiting);
  });
  connect(secure, &QSslSocket::sslErrors, this, [this, socket] { drop(socket); });
  enter(client, Stage::handshake);
  secure->startServerEncryption();
}

void WebListener::enter(Client& client, Stage stage) {
  client.stage = stage;
  switch (stage) {
    case Stage::handshake:
      client.timer->start(limits_.handshake);
      break;
    // A connection that has sent no request yet: its first must come soon, a kept-alive
    // one may wait longer for its next.
    case Stage::waiting:
      client.timer->start(client.request ? limits_.idle : limits_.head);
      client.request.reset();
      if (client.socket->bytesAvailable() > 0) take(client);
      break;
    case Stage::head:
      client.timer->start(limits_.head);
      break;
    case Stage::body:
      client.timer->start(limits_.body);
      break;
    // What the peer sends meanwhile waits unread: answers go out in the order asked.
    case Stage::answering:
      client.timer->start(limits_.idle);
      break;
    case Stage::closing:
      client.timer->start(limits_.closing);
      break;
  }
}

void WebListener::take(Client& client) {
  if (client.stage == Stage::waiting || client.stage == Stage::head) {
    take_head(client);
  } else if (client.stage == Stage::body) {
    take_body(client);
  } else if (client.stage == Stage::closing) {
    client.socket->skip(client.socket->bytesAvailable());
  }
}

void WebListener::take_head(Client& client) {
  // Peeked, not read: a WebSocket's handshake is read again by the WebSocket server.
  const QByteArray bytes = client.socket->peek(read_buffer_bytes);
  if (bytes.isEmpty()) return;
  const HttpParse parsed = parse_http_head(std::string_view(bytes.constData(), bytes.size()));
  if (const auto* refusal = std::get_if<HttpRefusal>(&parsed)) {
    finish(client, refusal_bytes(refusal->status, refusal->reason), false);
    return;
  }
  if (std::holds_alternative<std::monostate>(parsed)) {
    if (client.stage == Stage::waiting) enter(client, Stage::head);
    return;
  }
  const HttpHead& head = std::get<HttpHead>(parsed);
  if (head.request.upgrade) {
    if (handlers_.upgrade(head.request) && head.request.content_length == 0) {
      hand_over(client);
    } else {
      finish(client, refusal_bytes(404, "no WebSocket here"), false);
    }
    return;
  }
  client.socket->skip(static_cast<qint64>(head.head_bytes));
  if (const auto refusal = handlers_.before_body(head.request)) {
    finish(client, *refusal, false);
    return;
  }
  client.request = head.request;
  enter(client, Stage::body);
  take_body(client);
}

void WebListener::take_body(Client& client) {
  WebRequest& request = *client.request;
  const auto length = static_cast<qint64>(request.content_length);
  if (client.socket->bytesAvailable() < length) return;
  request.body = client.socket->read(length).toStdString();
  const bool keep_alive = request.keep_alive;
  const QPointer<QTcpSocket> socket = client.socket;
  const std::string bytes =
      handlers_.answer(request, client.peer, [this, socket, keep_alive](const std::string& later) {
        const auto found = socket ? clients_.find(socket) : clients_.end();
        if (found != clients_.end() && found->second->stage == Stage::answering)
          finish(*found->second, later, keep_alive);
      });
  if (bytes.empty()) {
    enter(client, Stage::answering);
    return;
  }
  finish(client, bytes, keep_alive);
}

void WebListener::finish(Client& client, const std::string& bytes, bool keep_alive) {
  client.socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (keep_alive) {
    enter(client, Stage::waiting);
    return;
  }
  // What the peer still sends is dropped; the answer goes out before the connection ends.
  enter(client, Stage::closing);
  client.socket->skip(client.socket->bytesAvailable());
  client.socket->disconnectFromHost();
}

void WebListener::hand_over(Client& client) {
  QTcpSocket* socket = client.socket;
  const QString peer = client.peer;
  socket->disconnect(this);
  delete client.timer;
  clients_.erase(socket);
  // Still counted against its peer while the page is open.
  connect(socket, &QObject::destroyed, this, [this, peer] { release(peer); });
  websockets_.handleConnection(socket);
}

void WebListener::drop(QTcpSocket* socket) {
  const auto found = clients_.find(socket);
  if (found == clients_.end()) return;
  const QString peer = found->second->peer;
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
  clients_.erase(found);
  release(peer);
}

void WebListener::release(const QString& peer) {
  --total_;
  if (--per_peer_[peer] <= 0) per_peer_.erase(peer);
}

bool WebListener::make_room(const QString& peer) {
  const auto count = per_peer_.find(peer);
  const bool peer_full = count != per_peer_.end() && count->second >= limits_.per_peer;
  if (!peer_full && total_ < limits_.total) return true;
  // The oldest that has sent nothing yet: a peer that holds connections open without a
  // request keeps none of them from the next one.
  QTcpSocket* oldest = nullptr;
  std::uint64_t order = 0;
  for (const auto& [socket, client] : clients_) {
    const bool idle = client->stage == Stage::handshake || client->stage == Stage::waiting ||
                      client->stage == Stage::head;
    if (idle && (!peer_full || client->peer == peer) && (!oldest || client->order < order)) {
      oldest = socket;
      order = client->order;
    }
  }
  if (!oldest) return false;
  drop(oldest);
  return true;
}
