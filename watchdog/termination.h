// Ending watchdog itself by SIGTERM, SIGINT or SIGHUP without leaving its child behind.
#pragma once

// Installs the handlers that note a termination request.
void watch_termination_signals();

// The signal that asked us to end, or 0.
int termination_signal();

// True once a termination signal has arrived (for interruptible sleeps).
bool termination_requested();
