// watchdog's own lines on standard error (events, traces, system errors). Once the output
// queues are open they go through the standard-error queue, behind whatever of the child's
// standard error is still held there, so the order of that stream is kept; before that (or
// with no queues at all) they are written to stderr at once.
#pragma once

#include "watchdog/output_queue.h"

[[gnu::format(printf, 2, 3)]] void say(our_outputs* to, const char* format, ...);

// "<name>: <system's text for err>" on standard error, as perror would print it.
void say_error(our_outputs* to, const char* name, int err);

// Bytes written as they are (chunk traces may hold any byte).
void say_bytes(our_outputs* to, const char* bytes, unsigned long len);
