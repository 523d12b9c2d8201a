#include <ctime>

#include "schedule/local_clock.h"

bool local_fields(std::time_t time, std::tm& fields) {
  return localtime_r(&time, &fields) != nullptr;
}
