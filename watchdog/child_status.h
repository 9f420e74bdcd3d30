// The supervised child: its status query and termination.
#pragma once
#include "platform/process.h"

// True while the child runs; false once it has ended or cannot be asked, unless
// WATCHDOG_ERR_IS_ALIVE says a failed query means running. Once it has ended, its exit status
// is stored in `exit_status` where the system gives one (a process that is not our child on
// POSIX gives none, and `exit_status` stays as it was).
bool child_running(process_handle* handle, int* exit_status);

// Ends the child at once (exit code 127) with every process in `scope`; does not wait.
void end_child(process_handle* handle, const stop_scope& scope = {});

// Forgets the once-read WATCHDOG_ERR_IS_ALIVE setting (for tests).
void reset_child_status();
