// Termination requests: the handler only notes the signal; the supervision cycle forwards it
// to the child, waits for it and then ends us with the signal's default action.
#include "watchdog/termination.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "platform/signal.h"

namespace {
std::atomic<int> pending_signal{0};

void note_termination(int sig, siginfo_t*, void*) { pending_signal.store(sig); }
}  // namespace

void watch_termination_signals() {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) install_signal_handler(sig, note_termination, true);
}

int termination_signal() { return pending_signal.load(); }

bool termination_requested() { return pending_signal.load() != 0; }

void die_by_signal(int sig) {
  restore_default_signal(sig);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);  // only if the default action did not end us
}
