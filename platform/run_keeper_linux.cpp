// The run keeper: a small process of ours that outlives us only to end the run we leave. We
// tell it, through a pipe, the cgroup of the run in progress whenever that changes; when the
// pipe ends without our saying goodbye (we were killed outright), it kills that cgroup, so
// nothing of the run goes on unsupervised. It is our sibling, not our child (the child of our
// parent, which collects it as it collects us), in a session of its own: no tree operation of
// ours meets it, no reaping of ours waits for it, and a signal to our process group spares it.
// Where we have no parent to give it (we are a namespace's first process), it is started
// before we become a subreaper and leaves us at once.
#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform_system_linux.h"
#include "platform/run_cgroup.h"
#include "platform/run_cgroup_linux.h"

namespace {

// Reads the names of the current run's cgroup, one a line (an empty line: no run), until we
// have gone, then ends the last one named.
[[noreturn]] void keep_runs(int from_us) {
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  dup2(from_us, 3);
  close_range(4, ~0U, 0);
  signal(SIGPIPE, SIG_IGN);
  prctl(PR_SET_NAME, "watchdog-keeper");
  std::string current, line;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(3, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      current = line;
      line.clear();
    }
  }
  // A goodbye ("\n" after the last run) leaves nothing to end.
  int cgroup = current.empty() ? -1 : open(current.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (cgroup >= 0) kill_run_cgroup(cgroup);
  _exit(0);
}

void tell_keeper(int keeper_pipe, const std::string& line) {
  if (keeper_pipe < 0) return;
  std::string text = line + "\n";
  // A keeper that has gone (killed with us) leaves the write failing; nothing else depends on it.
  ssize_t n = write(keeper_pipe, text.data(), text.size());
  (void)n;
}

// A copy of us as our parent's child (a fork that the kernel gives our parent); -1 where we
// have none to give it.
pid_t start_sibling() {
  return static_cast<pid_t>(syscall(SYS_clone, CLONE_PARENT | SIGCHLD, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace

void start_run_keeper(platform* p) {
  int& keeper_pipe = p->system->keeper_pipe;
  if (!run_cgroups_in_use(&p->system->cgroups) || keeper_pipe >= 0) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_t sibling = start_sibling();
  if (sibling == 0) {
    setsid();
    keep_runs(fds[0]);
  }
  pid_t between = sibling > 0 ? -1 : fork();
  if (between == 0) {
    setsid();
    if (fork() == 0) keep_runs(fds[0]);
    _exit(0);
  }
  close(fds[0]);
  if (sibling < 0 && between < 0) {
    close(fds[1]);
    return;
  }
  while (between > 0 && waitpid(between, nullptr, 0) < 0 && errno == EINTR) {
  }
  keeper_pipe = fds[1];
  fcntl(keeper_pipe, F_SETFL, O_NONBLOCK);
}

void keep_run_cgroup(platform* p, int cgroup) {
  int keeper_pipe = p->system->keeper_pipe;
  if (keeper_pipe < 0) return;
  char link[64], path[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", cgroup);
  ssize_t n = cgroup >= 0 ? readlink(link, path, sizeof path - 1) : -1;
  tell_keeper(keeper_pipe, n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string());
}

void stop_run_keeper(platform* p) {
  int& keeper_pipe = p->system->keeper_pipe;
  if (keeper_pipe < 0) return;
  tell_keeper(keeper_pipe, "");
  close(keeper_pipe);
  keeper_pipe = -1;
}
