// Child processes on Linux: fork and exec, the reaper's registry in the platform record, pidfds,
// and SIGKILL for our descendants: through the run's cgroup where it has one, through the
// process tree otherwise. Our own children are collected by one reaping over waitpid(-1), which
// records each end in its handle; only the short-lived helpers of the layer (the cgroup probe,
// the run keeper's start) are waited for by pid where they are made.
#include "platform/process.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "common/monotonic_clock.h"
#include "platform/child_start.h"
#include "platform/platform_system_linux.h"
#include "platform/process_tree.h"
#include "platform/reaping.h"
#include "platform/run_cgroup_linux.h"
#include "platform/wake_up.h"

extern char** environ;

namespace {

// The longest one reaping goes on while ends keep coming; the rest follows at once.
constexpr std::int64_t reap_slice_ms = 100;
constexpr unsigned reaps_between_clock_looks = 64;

void note_child_event(int) {
  platform* p = handler_platform;
  if (p == nullptr) return;
  p->child_events.fetch_add(1, std::memory_order_relaxed);
  wake_up(p);
}

void register_handle(platform_system* sys, process_handle* h) {
  if (sys->registry_count < registry_slots) sys->registry[sys->registry_count++] = h;
}

void unregister_handle(platform_system* sys, const process_handle* h) {
  for (int i = 0; i < sys->registry_count; ++i) {
    if (sys->registry[i] == h) {
      sys->registry[i] = sys->registry[--sys->registry_count];
      return;
    }
  }
}

int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) return static_cast<int>(fd);
#else
  (void)pid;
#endif
  return -1;
}

int code_from_wait_status(const process_handle* h, int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) {
    if (h->kill_sent && WTERMSIG(status) == SIGKILL) return 127;
    return 128 + WTERMSIG(status);
  }
  return -1;
}

void record_end(process_handle* h, int status) {
  h->reaped = true;
  h->exit_code = code_from_wait_status(h, status);
  h->end_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  h->core_dumped = WIFSIGNALED(status) && WCOREDUMP(status);
  h->exit_code_known = true;
}

void close_pidfd(process_handle* h) {
  if (h->system.pidfd >= 0) close(h->system.pidfd);
  h->system.pidfd = -1;
}

int send_signal(process_handle* h, int sig) {
  if (h->pid <= 0 || h->reaped) return 0;
#ifdef SYS_pidfd_send_signal
  if (h->system.pidfd >= 0 && syscall(SYS_pidfd_send_signal, h->system.pidfd, sig, nullptr, 0) == 0) return 0;
#endif
  return kill(h->pid, sig) == 0 ? 0 : -errno;
}

}  // namespace

void watch_child_events(platform* p) {
  handler_platform = p;
  struct sigaction sa {};
  sa.sa_handler = note_child_event;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  if (sigaction(SIGCHLD, &sa, nullptr) == 0) p->system->child_events_watched = true;
}

void become_subreaper() { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

// The words are passed to the new program whole, so the quoted form is not needed here.
int spawn_process(platform* p, process_handle* handle, char* const argv[], child_stdio stdio, char* const envp[],
                  char* const* /*quoted_argv*/, const child_setup& setup) {
  *handle = process_handle{};
  run_cgroup_record* cgroups = &p->system->cgroups;
  int cgroup = -1;
  // None could be made: the run goes without one.
  if (setup.own_cgroup && run_cgroups_in_use(cgroups)) cgroup = std::max(make_run_cgroup(cgroups), -1);
  pid_t pid = 0;
  bool refused = false;
  int rc = start_child(argv, envp ? envp : environ, stdio, setup, cgroup, &pid, &refused);
  if (refused && cgroup >= 0) {
    // The cgroup could not be entered after all: the run goes without one.
    release_run_cgroup(cgroups, &cgroup);
    rc = start_child(argv, envp ? envp : environ, stdio, setup, -1, &pid);
  }
  if (setup.own_cgroup && run_cgroups_in_use(cgroups) && cgroup < 0) note_run_without_cgroup(cgroups);
  if (rc < 0) {
    release_run_cgroup(cgroups, &cgroup);
    return rc;
  }
  handle->owner = p;
  handle->pid = pid;
  handle->own_child = true;
  handle->system.pidfd = open_pidfd(pid);
  handle->system.cgroup_fd = cgroup;
  if (cgroup >= 0) keep_run_cgroup(p, cgroup);
  register_handle(p->system, handle);
  return 0;
}

void reap_children(platform* p) {
  platform_system* sys = p->system;
  // Every child that waits is collected, until none is left, so that no zombie waits for
  // another child signal (ends that come together share one). Ends that keep coming without
  // a pause are taken in slices of bounded time: the wait that follows one returns at once,
  // and the next slice goes on from there.
  sys->reaping_unfinished = false;
  std::int64_t deadline = system_monotonic_ms() + reap_slice_ms;
  unsigned reaped = 0;
  for (;;) {
    int status = 0;
    pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid <= 0) {
      if (pid < 0 && errno == EINTR) continue;
      break;
    }
    ++reaped;
    for (int i = 0; i < sys->registry_count; ++i) {
      if (sys->registry[i]->pid == pid) {
        record_end(sys->registry[i], status);
        break;
      }
    }
    if (reaped % reaps_between_clock_looks == 0 && system_monotonic_ms() > deadline) {
      sys->reaping_unfinished = true;
      wake_up(p);
      break;
    }
  }
  if (reaped > 0) note_processes_ended(&sys->cgroups);
}

namespace {

// Reaps every child that has ended since the last child event was looked at (every time when
// child events are not watched); goes on with what a reaping cut short left.
void reap_after_child_events(platform* p) {
  platform_system* sys = p->system;
  // Without the watcher there is no count to go by: ask the kernel every time.
  unsigned events = p->child_events.load(std::memory_order_relaxed);
  if (!sys->child_events_watched || events != sys->events_reaped || sys->reaping_unfinished) {
    // Noted before the reaping, so an end that comes during it is looked at next time.
    sys->events_reaped = events;
    reap_children(p);
  }
  // A run's cgroup may have lost its last process: looked at now and then, not every time.
  remove_empty_run_cgroups(&sys->cgroups, true);
}

}  // namespace

void reap_after_wake_up(platform* p) {
  if (p->system->child_events_watched) reap_after_child_events(p);
}

process_state process_status(process_handle* handle) {
  if (handle->pid <= 0 || handle->owner == nullptr) return process_state::not_known;
  if (handle->reaped) return process_state::ended;
  // Whatever has ended is collected in every query, the adopted process's included, so no
  // zombie of ours waits for a query about its own handle.
  reap_after_child_events(handle->owner);
  if (handle->own_child) return handle->reaped ? process_state::ended : process_state::running;
  // A process that is not ours: its pidfd turns readable once it has ended.
  if (handle->system.pidfd >= 0) {
    struct pollfd p {
      handle->system.pidfd, POLLIN, 0
    };
    int n = poll(&p, 1, 0);
    if (n < 0) return process_state::not_known;
    if (n == 0) return process_state::running;
    handle->reaped = true;
    return process_state::ended;
  }
  if (kill(handle->pid, 0) == 0 || errno == EPERM) return process_state::running;
  handle->reaped = true;
  return process_state::ended;
}

int terminate_process(process_handle* handle) {
  if (handle->pid <= 0 || handle->reaped) return 0;
  handle->kill_sent = true;
  return send_signal(handle, SIGKILL);
}

int signal_process(process_handle* handle, int sig) { return send_signal(handle, sig); }

int terminate_process_tree(process_handle* handle, const stop_scope& scope) {
  bool alive = handle->pid > 0 && !handle->reaped;
  if (handle->system.cgroup_fd >= 0) {
    // The cgroup holds everything the run started, wherever it went: one kill ends it all.
    if (alive) handle->kill_sent = true;
    return kill_run_cgroup(handle->system.cgroup_fd);
  }
  if (handle->owner == nullptr) return 0;
  if (alive) {
    handle->kill_sent = true;
    // Freeze the process first so the tree cannot change under us, then its descendants.
    send_signal(handle, SIGSTOP);
  }
  std::vector<pid_t> tree = stop_descendants(handle->owner, alive ? handle->pid : 0, scope);
  int rc = alive ? send_signal(handle, SIGKILL) : 0;
  for (pid_t pid : tree) kill(pid, SIGKILL);
  return rc;
}

int signal_process_tree(process_handle* handle, int sig, const stop_scope& scope) {
  if (handle->system.cgroup_fd >= 0) {
    signal_run_cgroup(handle->system.cgroup_fd, sig);
    return 0;
  }
  if (handle->owner == nullptr) return 0;
  bool alive = handle->pid > 0 && !handle->reaped;
  std::vector<pid_t> tree = list_descendants(handle->owner, alive ? handle->pid : 0, scope);
  int rc = alive ? send_signal(handle, sig) : 0;
  if (alive) send_signal(handle, SIGCONT);
  for (pid_t pid : tree) {
    kill(pid, sig);
    kill(pid, SIGCONT);  // a stopped process would not see the request until it goes on
  }
  return rc;
}

bool process_tree_running(process_handle* handle, const stop_scope& scope) {
  if (handle->owner == nullptr) return false;
  reap_children(handle->owner);
  if (handle->pid > 0 && process_status(handle) == process_state::running) return true;
  if (handle->system.cgroup_fd >= 0) return run_cgroup_populated(handle->system.cgroup_fd);
  return !list_descendants(handle->owner, handle->pid > 0 && !handle->reaped ? handle->pid : 0, scope).empty();
}

int adopt_process(platform* p, process_handle* handle, pid_t pid) {
  *handle = process_handle{};
  if (pid <= 0) return -ESRCH;
  // Only a process we may signal can be supervised: we could not end it otherwise.
  if (kill(pid, 0) != 0) return -errno;
  handle->owner = p;
  handle->pid = pid;
  handle->system.pidfd = open_pidfd(pid);
  if (handle->system.pidfd < 0 && errno != ENOSYS) {
    int err = errno;
    *handle = process_handle{};
    return -err;
  }
  return 0;
}

void release_process(process_handle* handle) {
  platform* p = handle->owner;
  if (p == nullptr) {
    *handle = process_handle{};
    return;
  }
  unregister_handle(p->system, handle);
  if (handle->system.cgroup_fd >= 0) keep_run_cgroup(p, -1);
  close_pidfd(handle);
  release_run_cgroup(&p->system->cgroups, &handle->system.cgroup_fd);
  *handle = process_handle{};
  // Whatever has ended meanwhile, released children included, is collected now; the rest
  // is collected by a later call after its child event.
  reap_children(p);
}

pid_t own_process_id() { return getpid(); }

bool process_held(const process_handle* handle) { return handle->pid > 0; }

bool held_in_cgroup(const process_handle* handle) { return handle->system.cgroup_fd >= 0; }

int process_id_of(const process_handle* handle) { return handle->pid > 0 ? handle->pid : -1; }

char* const* current_environment() { return environ; }
