// The pause before a restart. Without -w it is always a second; with -w<max> it doubles after
// each run that ended less than <max> seconds after its start (1, 2, 4, ... up to <max>
// seconds), so a service that fails at start is not restarted every second, and a run that
// lasted <max> seconds or more starts the sequence again at one second.
#pragma once
#include <cstdint>

struct restart_pause {
  int short_runs = 0;  // runs in a row that ended sooner than the maximum, after the sequence began
};

// The pause in milliseconds after a run that lasted `run_ms`, with `max_sec` the -w maximum
// (0: no -w, the pause stays one second). Moves the sequence on.
std::int64_t next_restart_pause(restart_pause* pause, std::int64_t run_ms, int max_sec);
