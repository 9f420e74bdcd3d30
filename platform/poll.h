// Readiness probing and sleeping.
#pragma once

// Marks ready[i] for each fds[i] that holds at least one byte to read now, and finished[i]
// for each that can never hold data again (its writers are gone and it is empty, or it is
// not open). Never waits. Returns the number of ready descriptors, or -errno.
int probe_readable(const int* fds, int count, bool* ready, bool* finished);

// Sleeps the whole time, resuming after signals. (Waits the programs must be able to end go
// through wait_for_events in platform/wait.h.)
void sleep_ms(long ms);
