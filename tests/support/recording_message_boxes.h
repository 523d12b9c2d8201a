#pragma once

#include <vector>

#include "common/message_boxes.h"

// Keeps every message box the core raised, in order.
class RecordingMessageBoxes : public MessageBoxes {
 public:
  void show(const Message& message) override { shown.push_back(message); }
  std::vector<Message> shown;
};
