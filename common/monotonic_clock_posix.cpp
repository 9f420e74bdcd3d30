// The monotonic clock on POSIX: CLOCK_MONOTONIC.
#include <ctime>

#include "common/monotonic_clock.h"

std::int64_t system_monotonic_ms() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
