// The supervised child: its status query and termination.
#pragma once
#include "platform/process.h"

// What the cycle knows about asking for its child's status.
struct child_query {
  bool failure_means_running = false;  // WATCHDOG_ERR_IS_ALIVE nonzero: a failed query means running
  int last_exit_status = -1;           // of the child that ended last, as the system gave it; for -x
};

// A query record with WATCHDOG_ERR_IS_ALIVE read from the environment.
child_query read_child_query();

// True while the child runs; false once it has ended or cannot be asked (unless the query
// says a failure means running). Once it has ended, its exit status is kept in the query
// record where the system gives one; a process that is not our child on POSIX gives none, and
// the last exit status stays as it was.
bool child_running(process_handle* handle, child_query* query);

// Ends the child at once (exit code 127) with every process in `scope`; does not wait.
void end_child(process_handle* handle, const stop_scope& scope = {});
