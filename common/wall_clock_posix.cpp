// The system time of day on POSIX.
#include <ctime>

#include "common/wall_clock.h"

wall_time system_wall_clock() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return wall_time{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec / 1000)};
}
