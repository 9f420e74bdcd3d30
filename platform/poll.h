// Readiness probing and sleeping.
#pragma once

// Marks ready[i] for each fds[i] that holds at least one byte to read now, and finished[i]
// for each that can never hold data again (its writers are gone and it is empty, or it is
// not open). Never waits. Returns the number of ready descriptors, or -errno.
int probe_readable(const int* fds, int count, bool* ready, bool* finished);

// Waits until one of fds holds data (or hangs up), a signal arrives, or timeout_ms passes.
// Returns > 0 when woken by a descriptor, 0 otherwise.
int wait_readable(const int* fds, int count, long timeout_ms);

// Sleeps the whole time, resuming after signals; with `stop`, ends early once stop() holds.
void sleep_ms(long ms, bool (*stop)() = nullptr);
