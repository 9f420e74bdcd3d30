// Readiness probing and sleeping.
#pragma once

// Marks ready[i] for each fds[i] that holds at least one byte to read now. Never waits.
// A pipe whose writers are gone and which holds nothing is not ready; neither is a
// descriptor that is not open. Returns the number of ready descriptors, or -errno.
int probe_readable(const int* fds, int count, bool* ready);

// Sleeps the whole time, resuming after signals.
void sleep_ms(long ms);
