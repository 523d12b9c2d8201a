#pragma once

#include "common/message_boxes.h"

// Shows the core's messages as modal message boxes over the active window.
class QtMessageBoxes : public MessageBoxes {
 public:
  void show(const Message& message) override;
};
