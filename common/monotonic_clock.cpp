// The replaceable source of the monotonic clock; the system's own clock sits in its own file.
#include "common/monotonic_clock.h"

monotonic_clock_source monotonic_now = system_monotonic_ms;
