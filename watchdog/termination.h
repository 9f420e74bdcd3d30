// The signals that reach watchdog itself: each one whose default would end it is either a stop
// request (the run is ended in order, then watchdog ends by the signal) or, SIGUSR1 and
// SIGUSR2, passed on to the current run's child.
#pragma once

// Installs the handlers that note a stop request or a signal to pass on.
void watch_termination_signals();

// The signal that asked us to end, or 0.
int termination_signal();

// True once a stop request has arrived (for interruptible waits).
bool termination_requested();

// The signals waiting to be passed on to the child, as a mask of 1 << signal number; taking
// them clears the mask.
unsigned take_forwarded_signals();
