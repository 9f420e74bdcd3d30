// Termination requests: the handler only notes the signal; the supervision cycle forwards it
// to the child, waits for it and then ends us with the signal's default action.
#include "watchdog/termination.h"

#include <atomic>

#include "platform/signal.h"

namespace {
// Process-wide because the signal handler sets it, and a handler reaches nothing the cycle
// hands down; everything else the cycle needs travels in its state.
std::atomic<int> pending_signal{0};

void note_termination(int sig) { pending_signal.store(sig); }
}  // namespace

void watch_termination_signals() { install_stop_requests(note_termination); }

int termination_signal() { return pending_signal.load(); }

bool termination_requested() { return pending_signal.load() != 0; }
