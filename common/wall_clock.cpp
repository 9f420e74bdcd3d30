// The replaceable sources of both clocks; the system's own clocks sit in their own files.
#include "common/monotonic_clock.h"
#include "common/wall_clock.h"

wall_clock_source wall_clock_now = system_wall_clock;
monotonic_clock_source monotonic_now = system_monotonic_ms;
