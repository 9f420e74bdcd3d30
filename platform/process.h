// Child processes: start by search path, query, terminate, adopt by pid, release and reap.
// Functions return 0 on success or a negative errno value; nothing here prints.
#pragma once
#include <sys/types.h>

struct process_handle {
  pid_t pid = 0;            // 0: no process
  int pidfd = -1;           // stable reference where the kernel offers one
  bool own_child = false;   // started by us, so we reap it and can read its exit code
  bool reaped = false;      // the end has been seen; exit_code is valid for our own child
  bool kill_sent = false;   // our termination request went out
  int exit_code = -1;       // exit status, 127 after our kill, 128+N after signal N from elsewhere
  unsigned seen_events = 0; // child-event count at the last real query
};

// Standard descriptors for the child: -1 keeps the one it inherits from us.
struct child_stdio {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts argv[0] found along PATH, without waiting. The child gets every signal at its
// default action and an empty signal mask. Returns 0 or -errno (the start failed).
int spawn_process(process_handle* handle, char* const argv[], child_stdio stdio);

// 1 while the process runs, 0 once it has ended (exit_code filled for our own child),
// -errno when it cannot be asked.
int process_status(process_handle* handle);

// Asks the process to end at once (SIGKILL); does not wait.
int terminate_process(process_handle* handle);

// Takes hold of a running process by pid. Fails with -errno when it does not exist or is
// not ours to signal.
int adopt_process(process_handle* handle, pid_t pid);

// Lets go of the handle. Our own child that has not ended yet is remembered and reaped
// later by reap_released, so no zombie is left.
void release_process(process_handle* handle);

// Reaps every released child that has ended since; cheap when there is none.
void reap_released();

// Blocks until our own child has ended and reaps it.
void wait_process(process_handle* handle);

// Installs a SIGCHLD watcher so that status queries of our own children only ask the
// kernel after a child event. Call once, before the first spawn.
void watch_child_events();

pid_t own_process_id();
