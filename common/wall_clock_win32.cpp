// The system time of day on Windows: 100-nanosecond ticks since 1601-01-01 UTC, moved to 1970.
#include <windows.h>

#include "common/wall_clock.h"

wall_time system_wall_clock() {
  constexpr std::int64_t ticks_1601_to_1970 = 116444736000000000LL;
  FILETIME ft{};
  GetSystemTimeAsFileTime(&ft);
  std::int64_t ticks = (static_cast<std::int64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - ticks_1601_to_1970;
  return wall_time{ticks / 10000000, static_cast<std::int32_t>(ticks % 10000000 / 10)};
}
