#include "line_forgetting.h"

#include <iostream>

#include "bridge/line_claim.h"

namespace {

// Its own client id: the line's bridge may still be connected under the usual one.
BrokerSettings forgetting_settings(const BridgeOptions& options) {
  BrokerSettings settings = broker_settings(options, "", "");
  settings.client_id += "-forget";
  return settings;
}

}  // namespace

LineForgetting::LineForgetting(DaemonHost& host, const BridgeOptions& options, LogLine log)
    : topics_(options.prefix, options.forget_line.value_or(options.line), options.discovery_prefix),
      log_(std::move(log)),
      link_(host.broker_link(forgetting_settings(options), log_)),
      snapshot_(line_sweep_snapshot(topics_, forgetting_settings(options).client_id)),
      patience_timer_(host.timer(
          [this] {
            log_("line " + topics_.line() + ": the broker did not answer within " +
                 std::to_string(patience.count()) + " s; nothing cleared for sure");
            finish(1);
          },
          false)) {}

std::optional<std::string> LineForgetting::start(std::function<void(int)> done) {
  done_ = std::move(done);
  link_->on_connected = [this] { snapshot_.start(*link_); };
  link_->on_message = [this](const MqttMessage& message) { take(message); };
  if (auto failure = link_->start()) return failure;
  patience_timer_->start(patience);
  return std::nullopt;
}

void LineForgetting::take(const MqttMessage& message) {
  if (!snapshot_.take(message)) return;
  if (const auto refusal = line_claim_refusal(snapshot_.retained(), topics_, "")) {
    log_(*refusal + ": stop its bridge first; nothing cleared");
    link_->disconnect(std::chrono::seconds(3), [this] { finish(2); });
    return;
  }
  const std::vector<std::string> topics = line_retained_topics(snapshot_.retained(), topics_);
  bool sent = true;
  for (const std::string& topic : topics) sent = link_->publish(topic, "", true) && sent;
  link_->disconnect(std::chrono::seconds(3), [this, sent, count = topics.size()] {
    if (!sent || !link_->all_acknowledged()) {
      log_("line " + topics_.line() + ": the broker did not confirm every removal of " +
           std::to_string(count) + " retained topics");
      return finish(1);
    }
    std::cout << "line " << topics_.line() << ": " << count << " retained topics cleared\n"
              << std::flush;
    finish(0);
  });
}

void LineForgetting::finish(int status) {
  patience_timer_->stop();
  if (done_) std::exchange(done_, {})(status);
}
