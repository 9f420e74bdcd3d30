// The monotonic clock: milliseconds from an arbitrary start, never stepped by changes of the
// time of day. Every interval the programs measure (silence, timeouts, grace waits, pauses,
// frame pacing) is measured on it, so a wall-clock step neither fires nor hides anything. The
// clock the programs read is the platform record's (platform.h), which tests replace to drive
// time exactly; this is the system's own.
#pragma once
#include <cstdint>

// The system's own monotonic clock in milliseconds.
std::int64_t system_monotonic_ms();
