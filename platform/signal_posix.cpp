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

#include "platform/wake_up.h"

namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
// Besides the faults, the signals whose default would end us with a core dump: sent from
// elsewhere, each is reported and the program goes on.
constexpr int reported_signals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGQUIT, SIGBUS, SIGTRAP, SIGSYS};
// Signals that would end us at their default action but are neither stop requests nor faults.
// Ending by them would leave our children running.
constexpr int ending_signals[] = {
    SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGXFSZ, SIGIO,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

void (*stop_callback)(int) = nullptr;
void (*end_callback)(int) = nullptr;
void (*report_callback)(int) = nullptr;
void (*forward_callback)(int) = nullptr;

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

void on_stop_signal(int sig, siginfo_t*, void*) {
  stop_callback(sig);
  wake_up();
}

void on_ending_signal(int sig, siginfo_t*, void*) {
  end_callback(sig);
  wake_up();
}

void on_reported_signal(int sig, siginfo_t* info, void*) {
  // A fault raised by our own code would recur at once on return: let it end the program.
  bool real_fault = (sig == SIGSEGV || sig == SIGILL || sig == SIGFPE || sig == SIGBUS) && info != nullptr &&
                    info->si_code > 0;
  if (real_fault) restore_default(sig);
  report_callback(sig);
  wake_up();
}

void on_forwarded_signal(int sig, siginfo_t*, void*) {
  forward_callback(sig);
  wake_up();
}

}  // namespace

void ignore_broken_pipes() {
  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

void install_stop_requests(void (*on_stop)(int sig)) {
  stop_callback = on_stop;
  wake_up_descriptor();  // made before any handler can need it
  // Other calls the signal interrupts are resumed: the wait learns of it through its wake-up.
  for (int sig : stop_signals) {
    // Started under nohup, a hang-up is meant not to reach us: it stays ignored.
    struct sigaction now {};
    if (sig == SIGHUP && sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
    install(sig, on_stop_signal, true);
  }
}

void install_end_requests(void (*on_end)(int sig)) {
  end_callback = on_end;
  wake_up_descriptor();  // made before any handler can need it
  for (int sig : ending_signals) install(sig, on_ending_signal, true);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig, on_ending_signal, true);
}

void install_signal_reports(void (*report)(int sig)) {
  report_callback = report;
  wake_up_descriptor();  // made before any handler can need it
  for (int sig : reported_signals) install(sig, on_reported_signal, true);
}

void install_forwarded_signals(void (*on_forward)(int sig)) {
  forward_callback = on_forward;
  wake_up_descriptor();  // made before any handler can need it
  for (int sig : {SIGUSR1, SIGUSR2}) install(sig, on_forwarded_signal, true);
}

const char* signal_name(int sig) {
  static char name[32];
  const char* abbreviation = sigabbrev_np(sig);
  if (abbreviation != nullptr)
    snprintf(name, sizeof name, "SIG%s", abbreviation);
  else if (sig >= SIGRTMIN && sig <= SIGRTMAX)
    snprintf(name, sizeof name, "SIGRTMIN+%d", sig - SIGRTMIN);
  else
    snprintf(name, sizeof name, "signal %d", sig);
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
    struct pollfd p {fd, POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) break;
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text += n;
    len -= static_cast<size_t>(n);
  }
  errno = saved;
}
