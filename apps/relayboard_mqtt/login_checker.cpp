#include "login_checker.h"

#include <QMetaObject>
#include <utility>

LoginChecker::LoginChecker(std::size_t queue_limit)
    : queue_limit_(queue_limit), worker_([this] { work(); }) {}

LoginChecker::~LoginChecker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

bool LoginChecker::check(Users users, std::string user, std::string password, Answer answer) {
  {
    std::lock_guard lock(mutex_);
    if (jobs_.size() >= queue_limit_) return false;
    jobs_.push_back({std::move(users), std::move(user), std::move(password), std::move(answer)});
  }
  wake_.notify_one();
  return true;
}

void LoginChecker::work() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    const std::optional<WebRole> role = check_web_login(*job.users, job.user, job.password);
    // Queued to this object: once it is gone, with the server that asked, so is the answer.
    QMetaObject::invokeMethod(
        this, [answer = std::move(job.answer), role] { answer(role); }, Qt::QueuedConnection);
  }
}
