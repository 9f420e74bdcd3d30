// The monotonic clock on Windows: milliseconds since the system started.
#include <windows.h>

#include "common/monotonic_clock.h"

std::int64_t system_monotonic_ms() { return static_cast<std::int64_t>(GetTickCount64()); }
