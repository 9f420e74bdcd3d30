// The supervised child: its process id, status query, termination, and the readiness poll
// over its output pipes.
#pragma once
#include "platform/process.h"

// Exit status of the child that ended last; -1 until one has been seen. Compared by -x.
extern int last_exit_status;

// 0 while the child runs, -1 once it has ended (its exit status recorded) or cannot be asked,
// unless WATCHDOG_ERR_IS_ALIVE says a failed query means running.
int child_status(process_handle* handle);

// Ends the child at once (exit code 127) with every process in `scope`; does not wait.
void end_child(process_handle* handle, const stop_scope& scope = {});

constexpr int descriptor_set_size = 64;

// Descriptor set of the readiness poll: a count and up to 64 descriptors.
struct descriptor_set {
  unsigned count = 0;
  int fds[descriptor_set_size] = {};
};

struct poll_timeout {
  int sec = 0;
  int usec = 0;
};

void descriptor_set_add(descriptor_set* set, int fd);
bool descriptor_set_has(const descriptor_set* set, int fd);

// Our own streams with held-back output (-1: none), for the poll to wait on as well: the
// wait ends when one of them has room again, and the caller then writes what it holds.
struct output_wait {
  int fds[2] = {-1, -1};
};

// Examines the descriptors below `bound` that are in the set; rewrites the set to the ones
// holding data and returns their number at once. With none, waits up to the timeout (seconds
// and microseconds) for data, for one of `outputs` to have room, a child's end or a stop
// request, zeroes the timeout and returns 0.
int readiness_poll(int bound, descriptor_set* set, poll_timeout* timeout, output_wait* outputs = nullptr);

// Forgets the once-read WATCHDOG_ERR_IS_ALIVE setting (for tests).
void reset_child_status();
