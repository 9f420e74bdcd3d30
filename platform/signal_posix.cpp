// Signals on POSIX: sigaction handlers, a signal mask that lets stop requests in only while
// waiting (ppoll), and the default action restored to end by a signal.
#include "platform/signal.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

namespace {

constexpr int stop_signals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int reported_signals[] = {SIGABRT, SIGFPE, SIGILL, SIGSEGV, SIGQUIT};

void (*stop_callback)() = nullptr;
void (*report_callback)(int) = nullptr;
void (*termination_callback)(int) = nullptr;
sigset_t wait_mask;  // the mask during wait_readable_or_stop: stop requests let in

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

void on_stop_signal(int, siginfo_t*, void*) { stop_callback(); }

void on_reported_signal(int sig, siginfo_t* info, void*) {
  // A fault raised by our own code would recur at once on return: let it end the program.
  bool real_fault = (sig == SIGSEGV || sig == SIGILL || sig == SIGFPE || sig == SIGBUS) && info != nullptr &&
                    info->si_code > 0;
  if (real_fault) restore_default(sig);
  report_callback(sig);
}

void on_termination_signal(int sig, siginfo_t*, void*) { termination_callback(sig); }

}  // namespace

void ignore_broken_pipes() {
  struct sigaction sa {};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

void install_stop_requests(void (*on_stop)()) {
  stop_callback = on_stop;
  // Interrupted calls are not resumed: a wait ends at the request.
  for (int sig : stop_signals) install(sig, on_stop_signal, false);
  sigset_t held;
  sigemptyset(&held);
  for (int sig : stop_signals) sigaddset(&held, sig);
  sigprocmask(SIG_BLOCK, &held, &wait_mask);
}

void wait_readable_or_stop(int fd) {
  struct pollfd p {fd, POLLIN, 0};
  ppoll(&p, 1, nullptr, &wait_mask);
}

void install_signal_reports(void (*report)(int sig)) {
  report_callback = report;
  for (int sig : reported_signals) install(sig, on_reported_signal, true);
}

void install_termination_watch(void (*note)(int sig)) {
  termination_callback = note;
  for (int sig : stop_signals) install(sig, on_termination_signal, true);
}

void die_by_signal(int sig) {
  restore_default(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // only if the default action did not end us
}

void signal_safe_write(int fd, const char* text) {
  size_t len = strlen(text);
  while (len > 0) {
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    len -= static_cast<size_t>(n);
  }
}
