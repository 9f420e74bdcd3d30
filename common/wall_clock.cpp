// The system time of day, behind a replaceable source.
#include "common/wall_clock.h"

#include <ctime>

wall_time system_wall_clock() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return wall_time{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::int32_t>(ts.tv_nsec / 1000)};
}

wall_clock_source wall_clock_now = system_wall_clock;
