// watchdog's own lines on standard error (events, traces, system errors). Once the output
// queues are open they go through the standard-error queue, behind whatever of the child's
// standard error is still held there, so the order of that stream is kept.
#pragma once

[[gnu::format(printf, 1, 2)]] void say(const char* format, ...);

// "<name>: <system's text for err>" on standard error, as perror would print it.
void say_error(const char* name, int err);

// Bytes written as they are (chunk traces may hold any byte).
void say_bytes(const char* bytes, unsigned long len);
