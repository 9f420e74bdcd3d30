// The one way a process is ended in order, the same on every system: ask, wait, kill.
#include <cstdint>

#include "common/monotonic_clock.h"
#include "platform/process.h"
#include "platform/wait.h"

namespace {
constexpr long status_step_ms = 100;  // the longest a grace wait goes without asking again
constexpr long reap_wait_ms = 1000;   // how long a killed process is given to vanish
}  // namespace

bool stop_process(process_handle* handle, int sig, long grace_ms) {
  if (process_status(handle) != 1) return true;
  if (sig != 0) signal_process(handle, sig);
  // A child's end wakes the wait up, so the grace ends as soon as the process does.
  std::int64_t deadline = monotonic_now() + grace_ms;
  for (;;) {
    if (process_status(handle) != 1) return true;
    std::int64_t left = deadline - monotonic_now();
    if (left <= 0) break;
    wait_for_events(nullptr, 0, left < status_step_ms ? static_cast<long>(left) : status_step_ms);
  }
  terminate_process_tree(handle);
  // A killed process is gone within moments; one stuck in the kernel is reaped later.
  std::int64_t reap_deadline = monotonic_now() + reap_wait_ms;
  while (process_status(handle) == 1 && monotonic_now() < reap_deadline) wait_for_events(nullptr, 0, 20);
  return false;
}
