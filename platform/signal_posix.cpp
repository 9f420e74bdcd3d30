// Signals on POSIX: sigaction handlers that wake the wait up, and the default action restored
// to end by a signal.
#include "platform/signal.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <initializer_list>

#include "platform/platform_system_linux.h"
#include "platform/wake_up.h"

namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
// Besides the faults, the signals whose default would end us with a core dump: sent from
// elsewhere, each is reported and the program goes on.
constexpr int reported_signals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGQUIT, SIGBUS, SIGTRAP, SIGSYS};
// Signals that would end us at their default action but are neither stop requests nor faults.
// Ending by them would leave our children running.
constexpr int ending_signals[] = {
    SIGUSR1,   SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

void install(int sig, void (*handler)(int, siginfo_t*, void*), bool restart) {
  struct sigaction sa {};
  sa.sa_sigaction = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_SIGINFO | (restart ? SA_RESTART : 0);
  sigaction(sig, &sa, nullptr);
}

void restore_default(int sig) {
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
}

void on_stop_signal(int sig, siginfo_t*, void*) { request_stop(handler_platform, sig); }

void on_reported_signal(int sig, siginfo_t* info, void*) {
  // A fault raised by our own code would recur at once on return: let it end the program.
  bool real_fault =
      (sig == SIGSEGV || sig == SIGILL || sig == SIGFPE || sig == SIGBUS) && info != nullptr && info->si_code > 0;
  if (real_fault) restore_default(sig);
  report_signal(handler_platform, sig);
}

void on_forwarded_signal(int sig, siginfo_t*, void*) {
  platform* p = handler_platform;
  if (p == nullptr) return;
  p->forwarded.fetch_or(1u << sig);
  wake_up(p);
}

}  // namespace

void ignore_broken_pipes() {
  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

void install_stop_requests(platform* p, void (*on_stop)(int sig)) {
  p->on_stop = on_stop;
  handler_platform = p;
  // Other calls the signal interrupts are resumed: the wait learns of it through its wake-up.
  for (int sig : stop_signals) {
    // Started under nohup, a hang-up is meant not to reach us: it stays ignored.
    struct sigaction now {};
    if (sig == SIGHUP && sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    install(sig, on_stop_signal, true);
  }
}

void install_end_requests(platform* p) {
  handler_platform = p;
  for (int sig : ending_signals) install(sig, on_stop_signal, true);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig, on_stop_signal, true);
}

void install_signal_reports(platform* p, void (*report)(int sig)) {
  p->on_report = report;
  handler_platform = p;
  for (int sig : reported_signals) install(sig, on_reported_signal, true);
}

void install_forwarded_signals(platform* p) {
  handler_platform = p;
  for (int sig : {SIGUSR1, SIGUSR2}) install(sig, on_forwarded_signal, true);
}

const char* signal_name(int sig, char* name, unsigned long size) {
  const char* abbreviation = sigabbrev_np(sig);
  if (abbreviation != nullptr)
    snprintf(name, size, "SIG%s", abbreviation);
  else if (sig >= SIGRTMIN && sig <= SIGRTMAX)
    snprintf(name, size, "SIGRTMIN+%d", sig - SIGRTMIN);
  else
    snprintf(name, size, "signal %d", sig);
  return name;
}

void die_as_broken_pipe_writer() { die_by_signal(SIGPIPE); }

void die_by_signal(int sig) {
  restore_default(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // only if the default action did not end us
}

// A handler blocked on a stalled reader would hold the whole program, stop requests included:
// a report is written only when the stream says it has room, which for the short texts of
// the handlers means it takes them at once (a pipe takes up to PIPE_BUF bytes whole).
void signal_safe_write(int fd, const char* text) {
  int saved = errno;
  size_t len = strlen(text);
  while (len > 0) {
    struct pollfd p {
      fd, POLLOUT, 0
    };
    if (poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) break;
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text += n;
    len -= static_cast<size_t>(n);
  }
  errno = saved;
}
