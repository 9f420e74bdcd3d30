// Signals as the programs use them: stop requests, signal reports, termination requests.
// Handlers run in signal context: they may only set flags and write fixed texts.
#pragma once

struct platform;

// Writes to a reader that has gone become error returns instead of ending the process.
void ignore_broken_pipes();

// The terminal's and the system's stop requests (SIGINT, SIGTERM, SIGHUP; on Windows the
// console's control events) set the record's stop request (stop_request in platform.h; the
// first request's signal stays) after `on_stop`, when given, has run in signal context with
// the signal's number. A wait_for_events in progress, or the next one, then returns at once, so
// a request never slips in between a look at the request and the wait that follows it. A SIGHUP
// ignored when we started (nohup) stays ignored. The record becomes the one the handlers reach.
void install_stop_requests(platform* p, void (*on_stop)(int sig) = nullptr);

// Every other signal that would end the program at its default action and is neither a stop
// request nor a fault is a stop request too (with the same `on_stop` of the record): SIGUSR1,
// SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO, SIGSTKFLT, SIGPWR and the
// real-time signals. Windows has none of these: nothing is installed there.
void install_end_requests(platform* p);

// `report` runs for SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGQUIT, SIGBUS, SIGTRAP and SIGSYS (a
// wait in progress is woken up) and the program goes on; with no `report` they are stop
// requests instead. After a real fault raised by the program itself the default action is put
// back first, so the program ends instead of faulting again forever.
void install_signal_reports(platform* p, void (*report)(int sig));

// SIGUSR1 and SIGUSR2, which a supervisor passes on to its child, are noted in the record
// (take_forwarded_signals in platform.h) and wake the wait; installed after
// install_end_requests, this takes them over from there. Windows has neither.
void install_forwarded_signals(platform* p);

// The signal's name as the system calls it ("SIGTERM", "SIGRTMIN+2"), written into `name`.
const char* signal_name(int sig, char* name, unsigned long size);

// Ends the process the way `sig` would have ended it without a handler.
[[noreturn]] void die_by_signal(int sig);

// Ends the process as a writer to a pipe whose reader has gone ends: by SIGPIPE (exit status
// 141 in a shell; Windows: exit status 141).
[[noreturn]] void die_as_broken_pipe_writer();

// Writes a text to a descriptor from inside a signal handler.
void signal_safe_write(int fd, const char* text);

// Formats "prefix<number>suffix" into buf without stdio (for signal handlers); returns buf.
char* signal_safe_format(char* buf, unsigned long size, const char* prefix, int number, const char* suffix);
