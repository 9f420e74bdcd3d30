// The wall clock: whole seconds and microseconds since 1970-01-01 00:00 UTC.
#pragma once
#include <cstdint>

struct wall_time {
  std::int64_t sec;
  std::int32_t usec;
};

// The clock's source; tests replace it to step time exactly.
using wall_clock_source = wall_time (*)();
extern wall_clock_source wall_clock_now;

// The system's real time of day.
wall_time system_wall_clock();
