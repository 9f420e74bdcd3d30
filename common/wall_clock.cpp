// The replaceable source of the wall clock; the system's own clock sits in its own file.
#include "common/wall_clock.h"

wall_clock_source wall_clock_now = system_wall_clock;
