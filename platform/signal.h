// Signal dispositions.
#pragma once
#include <signal.h>

using signal_handler = void (*)(int, siginfo_t*, void*);

// Writes to a reader that has gone become error returns instead of ending the process.
void ignore_broken_pipes();

// Installs `handler` for `sig`. `restart` resumes interrupted system calls. Returns 0 or -errno.
int install_signal_handler(int sig, signal_handler handler, bool restart);

// Puts `sig` back to its default action.
void restore_default_signal(int sig);

// Blocks the given signals (null-terminated by 0) and stores the previous mask in *old.
void block_signals(const int* sigs, sigset_t* old);

// Writes a text to a descriptor from inside a signal handler (async-signal-safe).
void signal_safe_write(int fd, const char* text);

// Formats "prefix<number>suffix" into buf without stdio (async-signal-safe); returns buf.
char* signal_safe_format(char* buf, unsigned long size, const char* prefix, int number,
                         const char* suffix);
