// Signals as the programs use them: stop requests, signal reports, termination requests.
// Handlers run in signal context: they may only set flags and write fixed texts.
#pragma once

// Writes to a reader that has gone become error returns instead of ending the process.
void ignore_broken_pipes();

// `on_stop` runs (in signal context) for the terminal's and the system's stop requests
// (SIGINT, SIGTERM, SIGHUP; on Windows the console's control events) with the signal's number.
// A SIGHUP ignored when we started (nohup) stays ignored.
// A wait_for_events in progress, or the next one, then returns at once, so a request never
// slips in between a look at the caller's flag and the wait that follows it.
void install_stop_requests(void (*on_stop)(int sig));

// `on_end` runs, like a stop request (the wait is woken up too), for every other signal that
// would end the program at its default action and is neither a stop request nor a fault:
// SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO, SIGSTKFLT, SIGPWR and
// the real-time signals. Windows has none of these: nothing is installed there.
void install_end_requests(void (*on_end)(int sig));

// `report` runs for SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGQUIT, SIGBUS, SIGTRAP and SIGSYS (a
// wait in progress is woken up) and the program goes on.
// After a real fault raised by the program itself the default action is put back first, so
// the program ends instead of faulting again forever.
void install_signal_reports(void (*report)(int sig));

// `on_forward` runs (in signal context, waking the wait) for SIGUSR1 and SIGUSR2, which a
// supervisor passes on to its child; installed after install_end_requests, it takes them over
// from there. Windows has neither: nothing is installed there.
void install_forwarded_signals(void (*on_forward)(int sig));

// The signal's name as the system calls it ("SIGTERM", "SIGRTMIN+2"), in a static area.
const char* signal_name(int sig);

// Ends the process the way `sig` would have ended it without a handler.
[[noreturn]] void die_by_signal(int sig);

// Ends the process as a writer to a pipe whose reader has gone ends: by SIGPIPE (exit status
// 141 in a shell; Windows: exit status 141).
[[noreturn]] void die_as_broken_pipe_writer();

// Writes a text to a descriptor from inside a signal handler.
void signal_safe_write(int fd, const char* text);

// Formats "prefix<number>suffix" into buf without stdio (for signal handlers); returns buf.
char* signal_safe_format(char* buf, unsigned long size, const char* prefix, int number,
                         const char* suffix);
