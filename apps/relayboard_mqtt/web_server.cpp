#include "web_server.h"

#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>
#include <QUrl>

#include "settings/settings_files.h"
#include "text/json_text.h"
#include "web/web_requests.h"

namespace {

// The page's files: nothing else is ever served from the folder.
constexpr const char* page_files[] = {"index.html", "app.css", "app.js", "favicon.svg"};

std::string header(const QHttpServerRequest& request, std::string_view name) {
  for (const auto& [key, value] : request.headers()) {
    if (key.compare(QByteArray(name.data(), static_cast<qsizetype>(name.size())),
                    Qt::CaseInsensitive) == 0) {
      return value.toStdString();
    }
  }
  return {};
}

// The answer to the page's command `id`: the bridge's result object.
std::string result_json(int id, const Json& answer) {
  return json_text({{"type", "result"}, {"id", id}, {"answer", answer}});
}

Json refusal(std::string_view why) {
  return {{"result", "refused"}, {"reason", why}};
}

std::string refusal_json(std::string_view why) {
  return json_text(refusal(why));
}

std::string login_json(std::string_view user, WebRole role) {
  return json_text({{"login", true}, {"user", user}, {"role", web_role_name(role)}});
}

}  // namespace

WebServer::WebServer(Setup setup, const BridgeTopics& topics, std::vector<std::uint8_t> addresses,
                     Command command, LogLine log)
    : setup_(std::move(setup)),
      topics_(topics),
      boards_(topics, std::move(addresses)),
      command_(std::move(command)),
      log_(std::move(log)),
      answer_prefix_("$relayboard-web/" + random_hex(16) + '/') {
  connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::page_opened);
  connect(&expiry_timer_, &QTimer::timeout, this, &WebServer::close_expired_pages);
}

WebServer::~WebServer() = default;

std::optional<std::string> WebServer::start() {
  for (const char* name : page_files) {
    const auto path = setup_.files / name;
    const FileText read = read_limited_file(path, settings_file_byte_limit);
    if (!read.text) return "web page file " + path.string() + ": " + read.reason;
    files_[std::string("/") + name] = *read.text;
  }
  if (setup_.users) {
    const FileText read = read_settings_file(*setup_.users);
    if (!read.text) return "web users file " + read.reason;
    auto parsed = parse_web_users(*read.text, setup_.users->string());
    if (const auto* why = std::get_if<std::string>(&parsed)) {
      return "web users file " + *why;
    }
    users_ = std::get<WebUsers>(std::move(parsed));
    expiry_timer_.start(std::chrono::seconds(30));
  }
  if (setup_.cert) {
    // Read as the broker's TLS files are: bounded, and never waiting on a FIFO.
    const FileText cert_text = read_limited_file(*setup_.cert, certificate_file_byte_limit);
    if (!cert_text.text)
      return "web certificate " + setup_.cert->string() + ": " + cert_text.reason;
    const FileText key_text = read_limited_file(*setup_.key, certificate_file_byte_limit);
    if (!key_text.text) return "web key " + setup_.key->string() + ": " + key_text.reason;
    const QSslCertificate certificate(QByteArray::fromStdString(*cert_text.text), QSsl::Pem);
    const QByteArray key_bytes = QByteArray::fromStdString(*key_text.text);
    QSslKey key(key_bytes, QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) key = QSslKey(key_bytes, QSsl::Ec, QSsl::Pem);
    if (certificate.isNull())
      return "web certificate " + setup_.cert->string() + ": not a PEM certificate";
    if (key.isNull())
      return "web key " + setup_.key->string() + ": not a PEM key without a passphrase";
    sslSetup(certificate, key);
  }
  const QString host = QString::fromStdString(setup_.endpoint.host);
  const QHostAddress address =
      host == "localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
  if (address.isNull()) return "--web " + setup_.endpoint.host + ": not an IP address or localhost";
  const quint16 port = listen(address, setup_.endpoint.port);
  if (port == 0) {
    return "--web " + setup_.endpoint.host + ':' + std::to_string(setup_.endpoint.port) +
           ": cannot listen there";
  }
  const std::string shown_host = address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? '[' + address.toString().toStdString() + ']'
                                     : address.toString().toStdString();
  log_(std::string("web page on ") + (setup_.cert ? "https://" : "http://") + shown_host + ':' +
       std::to_string(port) + '/' + (users_ ? " (login required)" : ""));
  return std::nullopt;
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  // A request that two parsers could read two ways goes no further, nor a handshake.
  std::vector<std::string> names;
  for (const auto& each : request.headers()) names.push_back(each.first.toStdString());
  if (const auto why = ambiguous_request(names)) {
    send(request, socket, {400, "text/plain; charset=utf-8", "bad request: " + *why + "\n", {}});
    return true;
  }
  // Qt's server hands an upgrade to a WebSocket over when it is taken and nothing was
  // written (page_opened checks it), and answers one not taken with missingHandler.
  if (QByteArray::fromStdString(header(request, "upgrade"))
          .compare("websocket", Qt::CaseInsensitive) == 0) {
    return request.url().path() == "/live";
  }
  send(request, socket, answer_request(request));
  return true;
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  send(request, socket, {404, "text/plain; charset=utf-8", "not found\n", {}});
}

WebServer::Reply WebServer::answer_request(const QHttpServerRequest& request) {
  const bool tls = setup_.cert.has_value();
  if (!trusted_host(header(request, "host"), tls)) {
    return {421, "text/plain; charset=utf-8", "this page answers to localhost only\n", {}};
  }
  const std::string path = request.url().path().toStdString();
  if (request.method() == QHttpServerRequest::Method::Post) {
    // A form or a script of another site may post here with the user's cookie.
    if (!same_origin(header(request, "origin"), header(request, "host"), tls)) {
      return {403, "application/json", refusal_json("not from this page"), {}};
    }
    if (path == "/login") return login(request);
    if (path == "/logout") {
      sessions_.close(session_token(header(request, "cookie")));
      return {200, "application/json", "{}",
              session_cookie_header("", std::chrono::seconds(0), tls)};
    }
    return {404, "application/json", refusal_json("no such request"), {}};
  }
  if (request.method() != QHttpServerRequest::Method::Get) {
    return {405, "text/plain; charset=utf-8", "method not allowed\n", {}};
  }
  if (path == "/session") {
    if (!users_)
      return {200, "application/json", R"({"login":false,"user":"","role":"operator"})", {}};
    const auto found = session(session_token(header(request, "cookie")));
    if (!found) return {401, "application/json", R"({"login":true})", {}};
    return {200, "application/json", login_json(found->user, found->role), {}};
  }
  const auto file = files_.find(path == "/" ? "/index.html" : path);
  if (file == files_.end()) return {404, "text/plain; charset=utf-8", "not found\n", {}};
  return {200, std::string(web_content_type(file->first)), file->second, {}};
}

WebServer::Reply WebServer::login(const QHttpServerRequest& request) {
  const bool tls = setup_.cert.has_value();
  if (!users_) return {200, "application/json", "{}", {}};
  const QByteArray text = request.body();
  const Json body =
      json_object(std::string_view(text.constData(), static_cast<std::size_t>(text.size())))
          .value_or(Json::object());
  const std::string user = json_text_field(body, "user").value_or("");
  const std::string password = json_text_field(body, "password").value_or("");
  const auto role = check_web_login(*users_, user, password);
  if (!role) {
    log_("web login refused for " + json_string(user));
    return {401, "application/json", refusal_json("wrong user name or password"), {}};
  }
  const std::string token = sessions_.open(user, *role, WebSessions::Clock::now());
  if (token.empty())
    return {500, "application/json", refusal_json("no random bytes for a session"), {}};
  log_("web login: " + user + " (" + std::string(web_role_name(*role)) + ')');
  return {200, "application/json", login_json(user, *role),
          session_cookie_header(token, sessions_.lifetime(), tls)};
}

void WebServer::send(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply) {
  QHttpServerResponder responder = makeResponder(request, socket);
  responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.status));
  responder.writeHeader("Content-Type", QByteArray::fromStdString(reply.type));
  responder.writeHeader("Content-Length",
                        QByteArray::number(static_cast<qsizetype>(reply.body.size())));
  responder.writeHeader("Content-Security-Policy",
                        QByteArray(web_content_security_policy.data(),
                                   static_cast<qsizetype>(web_content_security_policy.size())));
  responder.writeHeader("X-Content-Type-Options", "nosniff");
  responder.writeHeader("Referrer-Policy", "no-referrer");
  responder.writeHeader("Cache-Control", "no-store");
  if (!reply.cookie.empty())
    responder.writeHeader("Set-Cookie", QByteArray::fromStdString(reply.cookie));
  responder.writeBody(QByteArray::fromStdString(reply.body));
}

std::optional<WebSessions::Session> WebServer::session(const std::string& token) {
  if (!users_) return WebSessions::Session{"", WebRole::operator_, {}};
  return sessions_.find(token, WebSessions::Clock::now());
}

void WebServer::page_opened() {
  while (hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
    const QNetworkRequest request = socket->request();
    const std::string host = request.rawHeader("Host").toStdString();
    const std::string token = session_token(request.rawHeader("Cookie").toStdString());
    const bool tls = setup_.cert.has_value();
    std::string refusal;
    if (!same_origin(socket->origin().toStdString(), host, tls) || !trusted_host(host, tls)) {
      refusal = "not from this page";
    } else if (!session(token)) {
      refusal = "log in first";
    }
    if (!refusal.empty()) {
      socket->close(QWebSocketProtocol::CloseCodePolicyViolated, QString::fromStdString(refusal));
      socket.release()->deleteLater();
      continue;
    }
    QWebSocket* raw = socket.get();
    const std::string id = std::to_string(++next_page_);
    connect(raw, &QWebSocket::textMessageReceived, this,
            [this, raw](const QString& text) { page_message(raw, text); });
    connect(raw, &QWebSocket::disconnected, this, [this, raw, id] {
      page_ids_.erase(id);
      const auto found = pages_.find(raw);
      if (found == pages_.end()) return;
      found->second.socket.release()->deleteLater();
      pages_.erase(found);
    });
    const auto who = session(token);
    raw->sendTextMessage(QString::fromStdString(
        json_text({{"type", "hello"}, {"user", who->user}, {"role", web_role_name(who->role)}})));
    for (const std::uint8_t address : boards_.addresses()) {
      raw->sendTextMessage(QString::fromStdString(boards_.board_json(address)));
    }
    for (const std::string& event : boards_.events_json()) {
      raw->sendTextMessage(QString::fromStdString(event));
    }
    page_ids_[id] = raw;
    pages_[raw] = Page{std::move(socket), token, id};
  }
}

void WebServer::page_message(QWebSocket* socket, const QString& text) {
  const auto page = pages_.find(socket);
  if (page == pages_.end()) return;
  const Json object = json_object(text.toStdString()).value_or(Json::object());
  const int id = json_int_field(object, "id").value_or(0);
  const auto who = session(page->second.token);
  if (!who) {
    socket->sendTextMessage(R"({"type":"expired"})");
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, "the session expired");
    return;
  }
  // The page asks now and then, to learn that the bridge still hears it.
  if (json_text_field(object, "op") == "ping") {
    socket->sendTextMessage(R"({"type":"pong"})");
    return;
  }
  const WebCommand command{
      json_text_field(object, "op").value_or(""), json_int_field(object, "address").value_or(-1),
      json_int_field(object, "relay").value_or(0), json_text_field(object, "value").value_or("")};
  auto message = web_command_message(topics_, command, who->role);
  if (const auto* why = std::get_if<std::string>(&message)) {
    log_("web command of " + (who->user.empty() ? std::string("the page") : who->user) +
         " refused: " + *why);
    socket->sendTextMessage(QString::fromStdString(result_json(id, refusal(*why))));
    return;
  }
  MqttMessage& taken = std::get<MqttMessage>(message);
  log_("web command of " + (who->user.empty() ? std::string("the page") : who->user) + ": " +
       taken.topic + ' ' + json_string(taken.payload));
  taken.response_topic = answer_prefix_ + page->second.id + '/' + std::to_string(id);
  taken.sender = who->user;
  command_(taken);
}

void WebServer::answer(const std::string& topic, const std::string& payload) {
  const std::string rest = topic.substr(answer_prefix_.size());
  const std::size_t slash = rest.find('/');
  const auto page = page_ids_.find(rest.substr(0, slash));
  if (page == page_ids_.end()) return;  // the page has gone
  const int id = std::atoi(rest.c_str() + slash + 1);
  // The bridge wrote the result; what is not one reaches the page as no answer.
  page->second->sendTextMessage(
      QString::fromStdString(result_json(id, json_object(payload).value_or(Json()))));
}

void WebServer::published(const std::string& topic, const std::string& payload) {
  if (const auto address = boards_.published(topic, payload)) {
    broadcast(boards_.board_json(*address));
  }
}

void WebServer::event(const std::string& text) {
  broadcast(boards_.event_json(text));
}

void WebServer::names_changed(const BridgeNames& names) {
  for (const std::uint8_t address : boards_.names_changed(names)) {
    broadcast(boards_.board_json(address));
  }
}

void WebServer::broadcast(const std::string& json) {
  const QString text = QString::fromStdString(json);
  for (auto& [socket, page] : pages_) socket->sendTextMessage(text);
}

void WebServer::close_expired_pages() {
  // Collected first: a socket that closes leaves pages_.
  std::vector<QWebSocket*> expired;
  for (auto& [socket, page] : pages_) {
    if (!session(page.token)) expired.push_back(socket);
  }
  for (QWebSocket* socket : expired) {
    socket->sendTextMessage(R"({"type":"expired"})");
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, "the session expired");
  }
}
