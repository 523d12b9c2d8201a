#include <unistd.h>

#include <array>

#include "bridge/host_name.h"

std::string this_host_name() {
  std::array<char, 256> name{};
  if (::gethostname(name.data(), name.size() - 1) != 0) return {};
  return name.data();
}
