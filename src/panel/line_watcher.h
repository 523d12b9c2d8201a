#pragma once

#include <cstdint>
#include <span>

class PollCycle;

// Sees the line as the core uses it: every frame handed to the port and every receive
// event after the poll cycle has handled it. Tests and probes record and time these.
class LineWatcher {
 public:
  virtual ~LineWatcher() = default;
  // The port was open and the frame went to it.
  virtual void frame_written(std::span<const std::uint8_t> frame) { (void)frame; }
  // `answered`: the event carried a valid status frame, now shown.
  virtual void receive_handled(const PollCycle& poll, bool answered) {
    (void)poll;
    (void)answered;
  }
};
