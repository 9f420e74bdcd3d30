// The growing restart pause of -w.
#include "watchdog/restart_pause.h"

#include <algorithm>

std::int64_t next_restart_pause(restart_pause* pause, std::int64_t run_ms, int max_sec) {
  constexpr std::int64_t second = 1000;
  if (max_sec <= 0) return second;
  const std::int64_t max_ms = static_cast<std::int64_t>(max_sec) * second;
  if (run_ms >= max_ms) pause->short_runs = 0;
  std::int64_t ms = second;
  for (int i = 0; i < pause->short_runs && ms < max_ms; ++i) ms *= 2;
  ms = std::min(ms, max_ms);
  // Counting stops once the maximum is reached, so the count cannot grow without bound.
  if (ms < max_ms) ++pause->short_runs;
  return ms;
}
