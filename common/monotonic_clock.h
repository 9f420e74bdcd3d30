// The monotonic clock: milliseconds from an arbitrary start, never stepped by changes of the
// time of day. Every interval the programs measure (silence, timeouts, grace waits, pauses,
// frame pacing) is measured on it, so a wall-clock step neither fires nor hides anything.
#pragma once
#include <cstdint>

// The clock's source; tests replace it to drive time exactly.
using monotonic_clock_source = std::int64_t (*)();
extern monotonic_clock_source monotonic_now;

// The system's own monotonic clock in milliseconds.
std::int64_t system_monotonic_ms();
