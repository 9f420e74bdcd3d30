// Starting a child by fork and exec. Between the two the child runs only async-signal-safe
// calls on memory prepared before the fork: the places the program may be run from, and the
// cgroup file it moves itself into.
#include "platform/child_start.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <string>
#include <vector>

namespace {

// Every path the program may be run from, in the order execvp tries them: the word itself
// when it holds a '/', otherwise each entry of PATH (an empty entry is the current folder).
std::vector<std::string> program_candidates(const char* word) {
  std::vector<std::string> paths;
  if (word[0] == '\0') return paths;
  if (std::strchr(word, '/') != nullptr) {
    paths.emplace_back(word);
    return paths;
  }
  const char* search = std::getenv("PATH");
  if (search == nullptr) search = "/bin:/usr/bin";
  for (const char* p = search;; ++p) {
    const char* end = std::strchr(p, ':');
    std::string dir(p, end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p));
    paths.push_back((dir.empty() ? std::string(".") : dir) + "/" + word);
    if (end == nullptr) break;
    p = end;
  }
  return paths;
}

// Reports the errno of a failed set-up to the parent and ends the child. A failed move into
// the cgroup is reported negative, so the parent can tell it from the rest.
[[noreturn]] void fail_child(int report_fd, int err) {
  while (write(report_fd, &err, sizeof err) < 0 && errno == EINTR) {
  }
  _exit(127);
}

int install_descriptor(int from, int to) {
  if (from < 0) return 0;
  // dup2 onto itself would keep close-on-exec set: clear it instead.
  if (from == to) return fcntl(to, F_SETFD, 0) == 0 ? 0 : errno;
  return dup2(from, to) == to ? 0 : errno;
}

// In the child: every signal at its default action and none blocked, as the new program
// expects; our handlers must not run here.
void reset_signals() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig)
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

// In the child: the program at the first of the candidate paths that runs it, by execvp's
// rules: a place that does not hold the program is skipped; one that holds it but may not be
// run is remembered and reported if no later place runs it.
[[noreturn]] void exec_first(char* const argv[], char* const envp[], const std::vector<std::string>& candidates,
                             int report_fd) {
  int err = ENOENT;
  bool denied = false;
  for (const std::string& path : candidates) {
    execve(path.c_str(), argv, envp);
    err = errno;
    if (err == EACCES) {
      denied = true;
    } else if (err != ENOENT && err != ENOTDIR && err != ENODEV && err != ETIMEDOUT && err != ESTALE) {
      break;
    }
  }
  fail_child(report_fd, denied && (err == ENOENT || err == ENOTDIR) ? EACCES : err);
}

// Runs in the child, from the fork to the exec.
[[noreturn]] void run_child(char* const argv[], char* const envp[], const child_stdio& stdio, const child_setup& setup,
                            int cgroup_fd, const std::vector<std::string>& candidates, pid_t parent, int report_fd) {
  reset_signals();
#ifdef __linux__
  if (setup.ignore_hangup) signal(SIGHUP, SIG_IGN);
  if (setup.parent_death_signal > 0) {
    if (prctl(PR_SET_PDEATHSIG, setup.parent_death_signal, 0, 0, 0) != 0) fail_child(report_fd, errno);
    // The parent may have ended before the request was made: then it never comes.
    if (getppid() != parent) _exit(128 + setup.parent_death_signal);
  }
  if (cgroup_fd >= 0) {
    int procs = openat(cgroup_fd, "cgroup.procs", O_WRONLY | O_CLOEXEC);
    if (procs < 0) fail_child(report_fd, -errno);
    if (write(procs, "0\n", 2) != 2) fail_child(report_fd, errno != 0 ? -errno : -EIO);
    close(procs);
  }
#else
  (void)parent;
#endif
  for (int err : {install_descriptor(stdio.in, 0), install_descriptor(stdio.out, 1), install_descriptor(stdio.err, 2)})
    if (err != 0) fail_child(report_fd, err);
  exec_first(argv, envp, candidates, report_fd);
}

}  // namespace

int start_child(char* const argv[], char* const envp[], const child_stdio& stdio, const child_setup& setup,
                int cgroup_fd, pid_t* pid, bool* cgroup_refused) {
  if (cgroup_refused != nullptr) *cgroup_refused = false;
  const std::vector<std::string> candidates = program_candidates(argv[0]);
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -errno;
  // No handler may run in the child before it has put the defaults back.
  sigset_t all, saved;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, &saved);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child == 0) {
    close(report[0]);
    run_child(argv, envp, stdio, setup, cgroup_fd, candidates, parent, report[1]);
  }
  int fork_error = errno;
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  close(report[1]);
  if (child < 0) {
    close(report[0]);
    return -fork_error;
  }
  // The report pipe closes at the exec: nothing read means the program runs.
  int err = 0;
  ssize_t n;
  do {
    n = read(report[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  if (n == static_cast<ssize_t>(sizeof err)) {
    // The child has ended or is about to: collect it here, so no zombie is left.
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (err < 0) {
      if (cgroup_refused != nullptr) *cgroup_refused = true;
      err = -err;
    }
    return -(err != 0 ? err : ECHILD);
  }
  *pid = child;
  return 0;
}
