#include "web_server.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "settings/settings_files.h"
#include "text/json_text.h"
#include "web/web_requests.h"
#include "web_listener.h"
#include "web_tls.h"

namespace {

// The page's files: nothing else is ever served from the folder.
constexpr const char* page_files[] = {"index.html", "app.css", "app.js", "favicon.svg"};

// WebSocket messages: a command or a name is far shorter.
constexpr quint64 page_message_byte_limit = 4u << 10;
// A page's WebSocket handshake: sent at once by a browser.
constexpr int websocket_handshake_ms = 5000;

std::string header(const WebRequest& request, std::string_view name) {
  return std::string(request_header(request, name));
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
      answer_prefix_("$relayboard-web/" + random_hex(16) + '/'),
      websockets_("relayboard-mqtt", QWebSocketServer::NonSecureMode) {
  websockets_.setHandshakeTimeout(websocket_handshake_ms);
  connect(&websockets_, &QWebSocketServer::newConnection, this, &WebServer::page_opened);
  connect(&expiry_timer_, &QTimer::timeout, this, &WebServer::close_expired_pages);
  connect(&users_timer_, &QTimer::timeout, this, &WebServer::reread_users);
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
    users_stamp_ = web_users_stamp(*setup_.users);
    auto read = read_web_users(*setup_.users);
    if (const auto* why = std::get_if<std::string>(&read)) return *why;
    users_ = std::make_shared<const WebUsers>(std::get<WebUsers>(std::move(read)));
    expiry_timer_.start(std::chrono::seconds(30));
    // A look at the file's times every two seconds costs nothing; an edit, an added user
    // or a new password takes effect without a restart.
    users_timer_.start(std::chrono::seconds(2));
    checker_ = std::make_unique<LoginChecker>();
  }
  std::optional<QSslConfiguration> tls;
  if (setup_.cert) {
    auto configured = web_tls_configuration(*setup_.cert, *setup_.key);
    if (const auto* why = std::get_if<std::string>(&configured)) return *why;
    tls = std::get<QSslConfiguration>(std::move(configured));
  }
  WebListener::Handlers handlers{
      [this](const WebRequest& request) { return refuse_early(request); },
      [this](const WebRequest& request, const QString& peer, WebListener::Later later) {
        return respond(request, peer, std::move(later));
      },
      [](const WebRequest& request) { return request.path == "/live"; }};
  listener_ = std::make_unique<WebListener>(std::move(handlers), std::move(tls), websockets_);
  const QString host = QString::fromStdString(setup_.endpoint.host);
  const QHostAddress address =
      host == "localhost" ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
  if (address.isNull()) return "--web " + setup_.endpoint.host + ": not an IP address or localhost";
  const quint16 port =
      listener_->listen(address, setup_.endpoint.port) ? listener_->serverPort() : 0;
  if (port == 0) {
    return "--web " + setup_.endpoint.host + ':' + std::to_string(setup_.endpoint.port) +
           ": cannot listen there";
  }
  const std::string shown_host = address.protocol() == QAbstractSocket::IPv6Protocol
                                     ? '[' + address.toString().toStdString() + ']'
                                     : address.toString().toStdString();
  url_ = std::string(setup_.cert ? "https://" : "http://") + shown_host + ':' +
         std::to_string(port) + '/';
  log_("web page on " + url_ + (users_ ? " (login required)" : ""));
  return std::nullopt;
}

std::string WebServer::respond(const WebRequest& request, const QString& peer,
                               WebListener::Later later) {
  const Reply reply = answer_request(
      request, peer, [this, keep_alive = request.keep_alive, later](const Reply& given) {
        WebRequest asked;
        asked.keep_alive = keep_alive;
        later(send(asked, given));
      });
  return reply.status == 0 ? std::string() : send(request, reply);
}

std::optional<std::string> WebServer::refuse_early(const WebRequest& request) {
  // What answer_request refuses whatever the body says, refused before it is read.
  const bool tls = setup_.cert.has_value();
  if (!trusted_host(header(request, "host"), tls) ||
      (request.method == "POST" &&
       !same_origin(header(request, "origin"), header(request, "host"), tls))) {
    WebRequest closing = request;  // the body is not read: the connection ends
    closing.keep_alive = false;
    return send(closing, answer_request(closing, {}, {}));
  }
  return std::nullopt;
}

WebServer::Reply WebServer::answer_request(const WebRequest& request, const QString& peer,
                                           Later later) {
  const bool tls = setup_.cert.has_value();
  if (!trusted_host(header(request, "host"), tls)) {
    return {421, "text/plain; charset=utf-8", "this page answers to localhost only\n", {}};
  }
  const std::string& path = request.path;
  if (request.method == "POST") {
    // A form or a script of another site may post here with the user's cookie.
    if (!same_origin(header(request, "origin"), header(request, "host"), tls)) {
      return {403, "application/json", refusal_json("not from this page"), {}};
    }
    if (path == "/login") return login(request, peer, std::move(later));
    if (path == "/logout") {
      sessions_.close(session_token(header(request, "cookie")));
      close_expired_pages();  // the session's other pages too, at once
      return {200, "application/json", "{}",
              session_cookie_header("", std::chrono::seconds(0), tls)};
    }
    return {404, "application/json", refusal_json("no such request"), {}};
  }
  if (request.method != "GET") {
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

WebServer::Reply WebServer::login(const WebRequest& request, const QString& address, Later later) {
  if (!users_) return {200, "application/json", "{}", {}};
  const Json body = json_object(request.body).value_or(Json::object());
  const std::string user = json_text_field(body, "user").value_or("");
  std::string password = json_text_field(body, "password").value_or("");
  const std::string peer = address.toStdString();
  // Refused at once and before any hash, the same for every name: the guesser waits, the
  // bridge does not, and an unknown name reads as a known one.
  const auto wait = throttle_.wait(peer, user, LoginThrottle::Clock::now());
  if (wait > LoginThrottle::Clock::duration::zero()) {
    const auto seconds = static_cast<int>(std::chrono::ceil<std::chrono::seconds>(wait).count());
    const std::string why = refusal_json("too many failed logins: try again later");
    return {429, "application/json", why, {}, seconds};
  }
  const bool queued = checker_->check(
      users_, user, std::move(password),
      [this, users = users_, peer, user, later = std::move(later)](std::optional<WebRole> role) {
        later(login_checked(users, peer, user, role));
      });
  if (!queued) {
    return {503, "application/json", refusal_json("too many logins at once: try again"), {}, 1};
  }
  return {0, {}, {}, {}};
}

WebServer::Reply WebServer::login_checked(const LoginChecker::Users& checked,
                                          const std::string& peer, const std::string& user,
                                          std::optional<WebRole> role) {
  // The file was read again while the hash was derived: the password checked must still
  // be the user's.
  if (role && checked != users_ && !web_user_unchanged(*checked, *users_, user)) role.reset();
  if (!role) {
    const auto failure = throttle_.failed(peer, user, LoginThrottle::Clock::now());
    log_("web login refused for " + json_string(user));
    const std::string held = " held back: too many failures";
    if (failure.address_locked_now) log_("web logins from " + peer + held);
    if (failure.user_locked_now) log_("web logins as " + json_string(user) + held);
    return {401, "application/json", refusal_json("wrong user name or password"), {}};
  }
  throttle_.succeeded(peer, user);
  const std::string token = sessions_.open(user, *role, WebSessions::Clock::now());
  if (token.empty())
    return {500, "application/json", refusal_json("no random bytes for a session"), {}};
  log_("web login: " + user + " (" + std::string(web_role_name(*role)) + ')');
  return {200, "application/json", login_json(user, *role),
          session_cookie_header(token, sessions_.lifetime(), setup_.cert.has_value())};
}

void WebServer::reread_users() {
  const auto stamp = web_users_stamp(*setup_.users);
  if (stamp == users_stamp_) return;
  users_stamp_ = stamp;
  auto read = read_web_users(*setup_.users);
  if (const auto* why = std::get_if<std::string>(&read)) {
    log_(*why + " (the users read before stay)");
    return;
  }
  auto fresh = std::make_shared<const WebUsers>(std::get<WebUsers>(std::move(read)));
  // A removed user, a new password or another role ends the user's sessions: whoever
  // knew the old password is out.
  for (const WebUser& user : *users_) {
    if (!web_user_unchanged(*users_, *fresh, user.name)) sessions_.close_user(user.name);
  }
  users_ = std::move(fresh);
  log_("web users file " + setup_.users->string() +
       " read again: " + std::to_string(users_->size()) + " users");
  close_expired_pages();
}

std::string WebServer::send(const WebRequest& request, const Reply& reply) {
  std::vector<std::pair<std::string, std::string>> headers{
      {"Content-Type", reply.type},
      {"Content-Security-Policy", std::string(web_content_security_policy)},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"}};
  if (!reply.cookie.empty()) headers.emplace_back("Set-Cookie", reply.cookie);
  if (reply.retry_after > 0) headers.emplace_back("Retry-After", std::to_string(reply.retry_after));
  return http_response(reply.status, headers, reply.body, request.keep_alive);
}

std::optional<WebSessions::Session> WebServer::session(const std::string& token) {
  if (!users_) return WebSessions::Session{"", WebRole::operator_, {}};
  return sessions_.find(token, WebSessions::Clock::now());
}

void WebServer::page_opened() {
  while (websockets_.hasPendingConnections()) {
    std::unique_ptr<QWebSocket> socket(websockets_.nextPendingConnection());
    socket->setParent(nullptr);  // the server's child otherwise, deleted twice at the end
    // Refused as soon as a frame says it is longer, never read in full.
    socket->setMaxAllowedIncomingFrameSize(page_message_byte_limit);
    socket->setMaxAllowedIncomingMessageSize(page_message_byte_limit);
    socket->setReadBufferSize(static_cast<qint64>(page_message_byte_limit) * 4);
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
