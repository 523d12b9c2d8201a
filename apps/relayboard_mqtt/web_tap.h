#pragma once

#include <functional>
#include <string>

#include "mqtt/mqtt_client.h"

// The broker as the bridge's logic sees it when the web page is on: everything goes to
// the broker as before, and the page learns of each publication; answers to the page's
// own commands (their response topic starts with `answer_prefix`) go to the page alone.
class WebTap : public MqttClient {
 public:
  using Published = std::function<void(const std::string& topic, const std::string& payload)>;
  WebTap(MqttClient& client, std::string answer_prefix, Published published, Published answer)
      : client_(client),
        answer_prefix_(std::move(answer_prefix)),
        published_(std::move(published)),
        answer_(std::move(answer)) {}

  bool publish(const std::string& topic, const std::string& payload, bool retain) override {
    published_(topic, payload);
    return client_.publish(topic, payload, retain);
  }
  void subscribe(const std::string& pattern) override { client_.subscribe(pattern); }
  void subscribe_as_published(const std::string& pattern) override {
    client_.subscribe_as_published(pattern);
  }
  bool reply(const std::string& topic, const std::string& payload,
             const std::string& correlation_data) override {
    if (topic.starts_with(answer_prefix_)) {
      answer_(topic, payload);
      return true;
    }
    return client_.reply(topic, payload, correlation_data);
  }

 private:
  MqttClient& client_;
  std::string answer_prefix_;
  Published published_;
  Published answer_;
};
