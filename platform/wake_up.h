// Inside the platform layer: how signal handlers and system event threads end a wait that is
// in progress (or the next one) without a race between a flag check and the wait.
#pragma once

struct platform;

// Async-signal-safe: makes the current or next wait_for_events on the record return at once.
void wake_up(platform* p);

// Consumes the wake-ups seen so far; true when there was one.
bool take_wake_ups(platform* p);

// A stop request from a handler or an event thread: the program's word first (on_stop), then
// the request, kept from the first one; the wait wakes. Does nothing on a null record.
void request_stop(platform* p, int sig);

// A signal that is reported, not a stop (install_signal_reports): the program's report, and
// the wait wakes; without a report of the program's, a stop request.
void report_signal(platform* p, int sig);
