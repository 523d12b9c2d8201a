#pragma once

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "web/web_users.h"

// Derives the password hashes of logins on a thread of its own, so that the line's thread
// goes on polling while a login is checked. Logins wait in a short queue; when it is full
// a login is refused at once rather than queued without bound. Each answer comes back on
// the thread that owns the checker, through its event loop.
class LoginChecker : public QObject {
 public:
  using Users = std::shared_ptr<const WebUsers>;
  using Answer = std::function<void(std::optional<WebRole>)>;

  explicit LoginChecker(std::size_t queue_limit = 4);
  ~LoginChecker() override;

  // False, and no answer ever, when the queue is full.
  bool check(Users users, std::string user, std::string password, Answer answer);

 private:
  struct Job {
    Users users;
    std::string user;
    std::string password;
    Answer answer;
  };
  void work();

  std::size_t queue_limit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::thread worker_;
};
