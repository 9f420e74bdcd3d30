// Stop requests and signals to pass on: the handlers only note the signal; the supervision
// cycle ends the run and us, or passes the signal on to the child.
#include "watchdog/termination.h"

#include <atomic>

#include "platform/signal.h"

namespace {
// Process-wide because the signal handlers set them, and a handler reaches nothing the cycle
// hands down; everything else the cycle needs travels in its state.
std::atomic<int> pending_signal{0};
std::atomic<unsigned> forwarded_signals{0};

// The first request wins: the run is ended for it, and we end by it.
void note_termination(int sig) {
  int none = 0;
  pending_signal.compare_exchange_strong(none, sig);
}

void note_forwarded(int sig) { forwarded_signals.fetch_or(1u << sig); }
}  // namespace

void watch_termination_signals() {
  install_stop_requests(note_termination);
  // Every other signal that would end us (SIGQUIT, SIGALRM, the real-time ones, a fault signal
  // sent from elsewhere ...) is a stop request too; a real fault of our own still ends us.
  install_end_requests(note_termination);
  install_signal_reports(note_termination);
  install_forwarded_signals(note_forwarded);
}

int termination_signal() { return pending_signal.load(); }

bool termination_requested() { return pending_signal.load() != 0; }

unsigned take_forwarded_signals() { return forwarded_signals.exchange(0); }
