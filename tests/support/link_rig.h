#pragma once

#include <string>
#include <vector>

#include "fake_indicators.h"
#include "fake_serial_port.h"
#include "fixed_address.h"
#include "hex.h"
#include "link/poll_cycle.h"

// The poll cycle wired to a fake line and fake indicators, as the window wires it.
struct LinkRig {
  LinkRig() {
    port.set_receive_handler([this](int code) { poll.MSComm1_OnComm(code); });
  }

  // Frames written since the last call, as hex text.
  std::vector<std::string> take_writes() {
    std::vector<std::string> frames;
    for (const auto& bytes : port.writes) frames.push_back(hex_text(bytes));
    port.writes.clear();
    return frames;
  }

  FakeSerialPort port;
  FakeIndicators indicators;
  FixedAddress address{"1"};
  Module1 module1{port, address};
  PollCycle poll{module1, port, indicators};
};
