// Child processes: start by search path, query, signal and terminate (with descendants),
// adopt by pid, release and reap. Functions return 0 on success or a negative errno code (on
// every system: see system_error.h); nothing here prints.
#pragma once
#include <sys/types.h>

struct platform;

// Each system's own part of a handle: the layer reads it, the programs never do (they call the
// functions below).
struct process_system_part {
  int pidfd = -1;             // Linux: a stable reference where the kernel offers one
  int cgroup_fd = -1;         // Linux: the run's own cgroup, which holds the child and all it starts
  void* handle = nullptr;     // Windows: the process handle the status and end calls take
  void* tree = nullptr;       // Windows: the job object that holds the child's descendants
  void* end_watch = nullptr;  // Windows: the registered wait that wakes the wait at the process's end
};

struct process_handle {
  platform* owner = nullptr;     // the record whose reaper and waits serve this process
  pid_t pid = 0;                 // 0: no process
  bool own_child = false;        // started by us, so we reap it
  bool reaped = false;           // the end has been seen
  bool exit_code_known = false;  // exit_code holds the exit status (POSIX: only our own child's)
  bool kill_sent = false;        // our termination request went out
  int exit_code = -1;            // exit status, 127 after our kill, 128+N after signal N from elsewhere
  int end_signal = 0;            // POSIX: the signal N that ended our own child, 0 when it exited itself
  bool core_dumped = false;      // POSIX: that signal left a core dump
  process_system_part system;
};

// True while the handle holds a process (started or adopted, not yet released).
bool process_held(const process_handle* handle);

// True when the handle's run is held in a cgroup of its own (Linux).
bool held_in_cgroup(const process_handle* handle);

// Standard descriptors for the child: -1 keeps the one it inherits from us.
struct child_stdio {
  int in = -1;
  int out = -1;
  int err = -1;
};

constexpr int kill_signal = 9;  // SIGKILL (a name Windows does not have)

// What a child is given at its start besides its descriptors (Linux; elsewhere ignored).
struct child_setup {
  int parent_death_signal = 0;  // sent to the child when we end, however we end (0: none)
  // The child starts with SIGHUP ignored: a hang-up of the terminal is ours to act on (we end
  // it in order); it must not end the child by itself first.
  bool ignore_hangup = false;
  // A new cgroup of its own instead, where runs are held in cgroups (run_cgroup.h); the handle
  // keeps it, and the tree operations then reach exactly what it holds.
  bool own_cgroup = false;
};

// Starts argv[0] found along PATH, without waiting. The child gets every signal at its
// default action and an empty signal mask, and what `setup` asks for. The handle must stay where it is until
// release_process: the reaper records the child's end in it. `envp` is the child's
// environment (null: ours). Where the system hands a child one joined command line
// (Windows) and `quoted_argv` is given, those words are joined instead of argv, so words
// with blanks or quotes reach the child whole. Returns 0 or -errno (the C library's error
// number, as perror prints it).
int spawn_process(platform* p, process_handle* handle, char* const argv[], child_stdio stdio,
                  char* const envp[] = nullptr, char* const quoted_argv[] = nullptr, const child_setup& setup = {});

// What a status query found. Once a process has ended, our own child's exit_code is filled.
enum class process_state { running, ended, not_known };  // not_known: the query failed

process_state process_status(process_handle* handle);

// Asks the process to end at once (SIGKILL); does not wait.
int terminate_process(process_handle* handle);

// Sends `sig` to the process alone (Windows: nothing, -ENOSYS).
int signal_process(process_handle* handle, int sig);

constexpr int spared_limit = 1024;

// Processes a run left behind on purpose (a daemon a script started), which later tree
// operations leave alone together with their descendants and the rest of their session. Each
// pid is kept with its start time, so a reused pid is not mistaken for one of them.
struct spared_processes {
  int count = 0;
  pid_t pid[spared_limit] = {};
  unsigned long long started[spared_limit] = {};
};

// Which processes a tree operation reaches: always the handle's process and its descendants;
// with `everything_below_us` every other descendant of ours too (orphans re-parented to us as
// subreaper, detached ones included), except those in `spared`, what is below them and what
// shares a session of theirs other than ours. Never ourselves or an ancestor of ours. A handle
// with a cgroup of its own is held by it: a tree operation reaches exactly what the cgroup
// holds, whatever the scope; and no tree operation reaches into another run's cgroup.
struct stop_scope {
  bool everything_below_us = false;
  const spared_processes* spared = nullptr;
};

// Ends the process and every process in `scope` at this moment: they are stopped first, so
// none can fork away while the tree is read, then killed. Does not wait.
int terminate_process_tree(process_handle* handle, const stop_scope& scope = {});

// Sends `sig` to the process and every process in `scope`, and lets stopped ones go on, so
// that each can act on it.
int signal_process_tree(process_handle* handle, int sig, const stop_scope& scope = {});

// True while the process or any other process in `scope` still runs.
bool process_tree_running(process_handle* handle, const stop_scope& scope = {});

// Adds every process below us that is not spared yet (and forgets those that have gone).
// Nothing to do while every run has a cgroup of its own: that spares its processes.
void spare_processes_below_us(platform* p, spared_processes* spared);

// True for our own pid and the pids of our ancestors.
bool is_self_or_ancestor(pid_t pid);

// False when our ancestors cannot all be read (no /proc, one of another PID namespace, entries
// we may not read), so that is_self_or_ancestor cannot rule a pid out.
bool ancestry_readable();

// What stop_process does first, before the grace.
enum class stop_action {
  already_asked,    // nothing: the caller has already asked, for example by closing its input
  ask_with_signal,  // sends the signal to the process and every process in the scope
  kill_at_once,     // ends them all at once (exit code 127)
};

struct stop_first_step {
  stop_action action = stop_action::already_asked;
  int sig = 0;  // with ask_with_signal
};

constexpr stop_first_step already_asked{stop_action::already_asked, 0};
constexpr stop_first_step kill_at_once{stop_action::kill_at_once, 0};
constexpr stop_first_step ask_with_signal(int sig) { return {stop_action::ask_with_signal, sig}; }

// Ends a process in order, the one way both programs do it: takes the `first` step with the
// process and every process in `scope`, then waits up to grace_ms until none of them runs (the
// wait ends early when they are gone; `while_waiting`, when given, does the waiting in steps of
// at most the milliseconds it is passed, with `context`, so the caller can go on relaying
// output), then kills whatever still runs and reaps the process. Returns true when everything
// ended within the grace. A `while_waiting` that returns false ends the grace at once: nothing
// more is done, and false is returned (the caller has something more urgent to do).
bool stop_process(process_handle* handle, stop_first_step first, long grace_ms, const stop_scope& scope = {},
                  bool (*while_waiting)(long ms, void* context) = nullptr, void* context = nullptr);

// Takes hold of a running process by pid. Fails with -errno when it does not exist or is
// not ours to signal.
int adopt_process(platform* p, process_handle* handle, pid_t pid);

// Lets go of the handle. Our own child that has not ended yet is reaped later, whenever it
// ends, so no zombie is left. The run's cgroup is removed once all its processes have ended.
void release_process(process_handle* handle);

// Reaps every child that has ended, until none waits: records it in its handle, or just
// collects it when it was released or is an orphan handed to us as subreaper.
void reap_children(platform* p);

// Installs a SIGCHLD watcher: a child's end wakes the wait up, which then reaps what has
// ended, and status queries only ask the kernel after a child event. Call once, before the
// first spawn. (Windows: the end of every process started or adopted after it wakes the wait.)
void watch_child_events(platform* p);

// Makes orphaned descendants of our children ours rather than init's, so they are reaped
// here and cannot pile up unseen.
void become_subreaper();

pid_t own_process_id();

// The process id behind a handle; -1 when the system cannot tell (Windows: looked up through
// the system routine that exists, -2 when the native query left the id untouched).
int process_id_of(const process_handle* handle);

// Our own environment, as a null-terminated list of "NAME=value" entries.
char* const* current_environment();
