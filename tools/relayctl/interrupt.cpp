#include "interrupt.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t interrupt_flag = 0;

extern "C" void raise_interrupt_flag(int) {
  interrupt_flag = 1;
}

}  // namespace

void catch_interrupts() {
  std::signal(SIGINT, raise_interrupt_flag);
  std::signal(SIGTERM, raise_interrupt_flag);
}

bool interrupted() {
  return interrupt_flag != 0;
}
