#pragma once

#include <functional>
#include <string>

// A switch that the owner of a line (a bridge serving it) did not carry out after the
// panel sent it: its rules refused it, or its broker did not allow this operator to
// switch. Relay 0 stands for all relays.
struct LineRefusal {
  int relay = 0;
  bool on = false;
  std::string reason;  // in the words the panel shows after "Not switched: "
};

// The refusals of a line that another program owns; the panel's port provides them
// where it can open such a line.
class LineRefusals {
 public:
  virtual ~LineRefusals() = default;
  // Called from the host's event loop for each refused switch.
  virtual void set_refusal_handler(std::function<void(const LineRefusal&)> handler) = 0;
};
