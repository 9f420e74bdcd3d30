// Signals as the programs use them: stop requests, signal reports, termination requests.
// Handlers run in signal context: they may only set flags and write fixed texts.
#pragma once

// Writes to a reader that has gone become error returns instead of ending the process.
void ignore_broken_pipes();

// `on_stop` runs for the terminal's and the system's stop requests (SIGINT, SIGTERM, SIGHUP).
// They are held back except while wait_readable_or_stop waits, so a request can never slip in
// between a look at the stop flag and the wait that follows it.
void install_stop_requests(void (*on_stop)());

// Waits until `fd` can be read (or has hung up), or a stop request arrives.
void wait_readable_or_stop(int fd);

// `report` runs for SIGABRT, SIGFPE, SIGILL, SIGSEGV and SIGQUIT and the program goes on.
// After a real fault raised by the program itself the default action is put back first, so
// the program ends instead of faulting again forever.
void install_signal_reports(void (*report)(int sig));

// `note` runs for SIGTERM, SIGINT and SIGHUP; calls they interrupt are resumed.
void install_termination_watch(void (*note)(int sig));

// Ends the process the way `sig` would have ended it without a handler.
[[noreturn]] void die_by_signal(int sig);

// Writes a text to a descriptor from inside a signal handler.
void signal_safe_write(int fd, const char* text);

// Formats "prefix<number>suffix" into buf without stdio (for signal handlers); returns buf.
char* signal_safe_format(char* buf, unsigned long size, const char* prefix, int number,
                         const char* suffix);
