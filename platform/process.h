// Child processes: start by search path, query, signal and terminate (with descendants),
// adopt by pid, release and reap. Functions return 0 on success or a negative system error
// code (errno on POSIX, the system's last-error code on Windows); nothing here prints.
#pragma once
#include <sys/types.h>

struct process_handle {
  pid_t pid = 0;            // 0: no process
  int pidfd = -1;           // stable reference where the kernel offers one
  bool own_child = false;   // started by us, so we reap it
  bool reaped = false;      // the end has been seen
  bool exit_code_known = false;  // exit_code holds the exit status (POSIX: only our own child's)
  bool kill_sent = false;   // our termination request went out
  int exit_code = -1;       // exit status, 127 after our kill, 128+N after signal N from elsewhere
  unsigned seen_events = 0; // child-event count at the last real query
  void* system_handle = nullptr;  // Windows: the process handle the status and end calls take
  void* tree = nullptr;           // Windows: the job object that holds the child's descendants
};

// Standard descriptors for the child: -1 keeps the one it inherits from us.
struct child_stdio {
  int in = -1;
  int out = -1;
  int err = -1;
};

// Starts argv[0] found along PATH, without waiting. The child gets every signal at its
// default action and an empty signal mask. The handle must stay where it is until
// release_process: the reaper records the child's end in it. `envp` is the child's
// environment (null: ours). Where the system hands a child one joined command line
// (Windows) and `quoted_argv` is given, those words are joined instead of argv, so words
// with blanks or quotes reach the child whole. Returns 0 or -errno (the C library's error
// number, as perror prints it).
int spawn_process(process_handle* handle, char* const argv[], child_stdio stdio, char* const envp[] = nullptr,
                  char* const quoted_argv[] = nullptr);

// 1 while the process runs, 0 once it has ended (exit_code filled for our own child),
// -errno when it cannot be asked.
int process_status(process_handle* handle);

// Asks the process to end at once (SIGKILL); does not wait.
int terminate_process(process_handle* handle);

// Ends the process and every descendant it has at this moment: they are stopped first, so
// none can fork away while the tree is read, then killed. Does not wait.
int terminate_process_tree(process_handle* handle);

// Sends `sig` to the process alone.
int signal_process(process_handle* handle, int sig);

// Ends a process in order: sends `sig` (0: none, the caller has already asked it to end, for
// example by closing its input), waits up to grace_ms for it to end (the wait ends early at the
// process's end), then kills whatever of it still runs, the process and its descendants, and
// reaps it. Returns true when it ended within the grace.
bool stop_process(process_handle* handle, int sig, long grace_ms);

// Takes hold of a running process by pid. Fails with -errno when it does not exist or is
// not ours to signal.
int adopt_process(process_handle* handle, pid_t pid);

// Lets go of the handle. Our own child that has not ended yet is reaped later, whenever it
// ends, so no zombie is left.
void release_process(process_handle* handle);

// Reaps every child that has ended: records it in its handle, or just collects it when it
// was released or is an orphan handed to us as subreaper.
void reap_children();

// Blocks until our own child has ended and reaps it.
void wait_process(process_handle* handle);

// Installs a SIGCHLD watcher so that status queries only ask the kernel after a child
// event. Call once, before the first spawn.
void watch_child_events();

// Child events (ends) seen so far; changes when a child may have ended.
unsigned child_event_count();

// Makes orphaned descendants of our children ours rather than init's, so they are reaped
// here and cannot pile up unseen.
void become_subreaper();

pid_t own_process_id();

// The process id behind a handle; -1 when the system cannot tell (Windows: looked up through
// the system routine that exists, -2 when the native query left the id untouched).
int process_id_of(const process_handle* handle);

// Our own environment, as a null-terminated list of "NAME=value" entries.
char* const* current_environment();
