// The one way a process is ended in order, the same on every system: ask, wait, kill.
#include <cstdint>

#include "platform/platform.h"
#include "platform/process.h"
#include "platform/wait.h"

namespace {
constexpr long status_step_ms = 100;  // the longest a grace wait goes without looking again
constexpr long reap_wait_ms = 1000;   // how long a killed process is given to vanish

bool just_wait(long ms, void* owner) {
  wait_for_events(static_cast<platform*>(owner), nullptr, 0, ms);
  return true;
}
}  // namespace

bool stop_process(process_handle* handle, stop_first_step first, long grace_ms, const stop_scope& scope,
                  bool (*while_waiting)(long ms, void* context), void* context) {
  platform* p = handle->owner;
  if (p == nullptr || !process_tree_running(handle, scope)) return true;
  if (while_waiting == nullptr) {
    while_waiting = just_wait;
    context = p;
  }
  if (first.action == stop_action::kill_at_once)
    terminate_process_tree(handle, scope);
  else if (first.action == stop_action::ask_with_signal && first.sig != 0)
    signal_process_tree(handle, first.sig, scope);
  // A child's end wakes the wait up, so the grace ends soon after the last process does.
  std::int64_t deadline = now_ms(p) + grace_ms;
  for (;;) {
    if (!process_tree_running(handle, scope)) return true;
    std::int64_t left = deadline - now_ms(p);
    if (left <= 0) break;
    if (!while_waiting(left < status_step_ms ? static_cast<long>(left) : status_step_ms, context)) return false;
  }
  terminate_process_tree(handle, scope);
  // A killed process is gone within moments; one stuck in the kernel is reaped later. A run's
  // cgroup is waited for until it is empty, as its processes go with the kill.
  std::int64_t reap_deadline = now_ms(p) + reap_wait_ms;
  auto left = [&] {
    return held_in_cgroup(handle) ? process_tree_running(handle, scope)
                                  : process_status(handle) == process_state::running;
  };
  while (left() && now_ms(p) < reap_deadline) just_wait(20, p);
  return false;
}
