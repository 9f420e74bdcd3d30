// The supervision cycle: start, watch, kill and restart the command until an end holds.
#pragma once
#include <ctime>

struct supervision_state {
  int run_count = 0;         // children started so far (adoptions do not count)
  int end_reason = 0;        // how the latest run ended: 1 ended, 2 silence, 3 error string,
                             // 4 stale file, 5 file missing; 0 none yet
  int end_mark = 0;          // why the cycle ended: 1 -x exit status, 2 -X file
  std::time_t timeout_start = 0;  // start of the first run, for -t
};

extern supervision_state supervision;

// Runs the cycle; returns 0, or the -t exit status after a timeout. Exits with status 1
// when the command cannot be started.
int supervise();
