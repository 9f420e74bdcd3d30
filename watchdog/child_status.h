// The supervised child: its status query and termination.
#pragma once
#include "platform/process.h"

// Exit status of the child that ended last; -1 until one has been seen. Compared by -x.
extern int last_exit_status;

// True while the child runs; false once it has ended (its exit status recorded) or cannot be
// asked, unless WATCHDOG_ERR_IS_ALIVE says a failed query means running.
bool child_running(process_handle* handle);

// Ends the child at once (exit code 127) with every process in `scope`; does not wait.
void end_child(process_handle* handle, const stop_scope& scope = {});

// Forgets the once-read WATCHDOG_ERR_IS_ALIVE setting (for tests).
void reset_child_status();
