// The run keeper: a small process of ours that outlives us only to end the run we leave. We
// tell it, through a pipe, the cgroup of the run in progress whenever that changes; when the
// pipe ends without our saying goodbye (we were killed outright), it kills that cgroup, so
// nothing of the run goes on unsupervised. It leaves us at once (a double fork, before we
// become a subreaper), for a session of its own: no tree operation of ours meets it, no reaping
// of ours waits for it, and a signal to our process group spares it. It is called run-keeper,
// so that what looks for us by name (pidof, pkill) does not find it, and it ignores every
// signal it can. Where we are the first process of a PID namespace, orphans come to us, and it
// stays our child: the process tree leaves it out.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform_system_linux.h"
#include "platform/run_cgroup.h"
#include "platform/run_cgroup_linux.h"

namespace {

constexpr char keeper_name[] = "run-keeper";

// The keeper's own name: its command name, and its command line, written over ours (which it
// shares as a copy of us) as far as that reaches.
void take_keeper_name() {
  prctl(PR_SET_NAME, keeper_name);
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  char scratch[4096];
  std::size_t length = 0;
  for (ssize_t n; (n = read(fd, scratch, sizeof scratch)) > 0;) length += static_cast<std::size_t>(n);
  close(fd);
  if (length <= sizeof keeper_name) return;
  std::memset(program_invocation_name, 0, length);
  std::memcpy(program_invocation_name, keeper_name, sizeof keeper_name);
}

// Reads the names of the current run's cgroup, one a line (an empty line: no run), until we
// have gone, then ends the last one named.
[[noreturn]] void keep_runs(int from_us) {
  int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) dup2(null, fd);
  dup2(from_us, 3);
  close_range(4, ~0U, 0);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) signal(sig, SIG_IGN);
  take_keeper_name();
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

}  // namespace

void start_run_keeper(platform* p) {
  int& keeper_pipe = p->system->keeper_pipe;
  if (!run_cgroups_in_use(&p->system->cgroups) || keeper_pipe >= 0) return;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  // As the first process of a PID namespace we would get it back as an orphan: it stays our child.
  const bool namespace_first = getpid() == 1;
  pid_t started = fork();
  if (started == 0) {
    setsid();
    if (namespace_first || fork() == 0) keep_runs(fds[0]);
    _exit(0);
  }
  close(fds[0]);
  if (started < 0) {
    close(fds[1]);
    return;
  }
  if (namespace_first) {
    p->system->keeper_pid = started;
  } else {
    while (waitpid(started, nullptr, 0) < 0 && errno == EINTR) {
    }
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
