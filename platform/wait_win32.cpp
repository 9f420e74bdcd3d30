// The wait on Windows: it sleeps on the wake-up event (a stop request, a process's end) and
// on the watch event of each wanted read end of ours, which a zero-byte read pending on it
// sets once data arrives or the writer has gone; so an idle pipe costs no wake-ups and data
// is seen at once. Any other read end (a pipe we were given, a file) cannot be waited on:
// while one is wanted the wait also peeks into it between short naps. Once woken it peeks
// into every wanted read end to tell what each holds. A write end always counts as
// writable: a pipe write returns once the reader has taken enough, or fails when the reader
// has gone.
#include <windows.h>

#include "platform/pipe.h"
#include "platform/pipe_watch_win32.h"
#include "platform/platform_system_win32.h"
#include "platform/wait.h"
#include "platform/wake_up.h"

namespace {

constexpr long nap_ms = 20;  // how soon a wait notices data in a read end it cannot wait on
// Watches that end with nothing to show (the pipe empty, its writer there) before the wait
// stops sleeping on them and peeks instead: a watch that keeps ending must not make it spin.
constexpr int idle_wake_limit = 3;

int look(wait_item* items, int count) {
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    items[i].got = 0;
    if (items[i].fd < 0) continue;
    if (items[i].want & wait_read) {
      // A read end that cannot be peeked into has no writer, or is no pipe: it can never
      // hold data.
      int held = bytes_available(items[i].fd);
      if (held > 0) items[i].got |= wait_read;
      if (held < 0) items[i].got |= wait_hangup;
    }
    if (items[i].want & wait_write) items[i].got |= wait_write;
    if (items[i].got != 0) ++ready;
  }
  return ready;
}

// The events to sleep on: each wanted read end's watch (with `use_watches`), then the wake-up
// event. Returns their count; *naps_needed tells whether a wanted read end has no watch and
// must be peeked into.
DWORD gather_events(const wait_item* items, int count, bool use_watches, HANDLE wake_up_event_handle, HANDLE* events,
                    bool* naps_needed) {
  DWORD n = 0;
  *naps_needed = false;
  for (int i = 0; i < count; ++i) {
    if (items[i].fd < 0 || !(items[i].want & wait_read)) continue;
    // One slot stays for the wake-up event; read ends beyond what one wait takes are peeked.
    HANDLE watch =
        use_watches && n + 1 < MAXIMUM_WAIT_OBJECTS ? static_cast<HANDLE>(read_watch_event(items[i].fd)) : nullptr;
    if (watch != nullptr)
      events[n++] = watch;
    else
      *naps_needed = true;
  }
  if (wake_up_event_handle != nullptr) events[n++] = wake_up_event_handle;
  return n;
}

// How long one sleep of the wait lasts: what is left of the timeout (`left`, -1: none), but no
// longer than a nap when something must be looked at by peeking.
DWORD sleep_length(long left, bool naps_needed) {
  if (naps_needed && (left < 0 || left > nap_ms)) return nap_ms;
  return left < 0 ? INFINITE : static_cast<DWORD>(left);
}

}  // namespace

int wait_for_events(platform* p, wait_item* items, int count, long timeout_ms) {
  HANDLE wake_up_event_handle = static_cast<HANDLE>(p->system->wake_event);
  HANDLE events[MAXIMUM_WAIT_OBJECTS];
  DWORD start = GetTickCount();
  int idle_wakes = 0;
  for (;;) {
    int ready = look(items, count);
    if (ready > 0) return ready;
    if (take_wake_ups(p)) return 0;
    long waited = static_cast<long>(GetTickCount() - start);
    if (timeout_ms >= 0 && waited >= timeout_ms) return 0;
    long left = timeout_ms < 0 ? -1 : timeout_ms - waited;
    bool naps_needed = false;
    DWORD n = gather_events(items, count, idle_wakes < idle_wake_limit, wake_up_event_handle, events, &naps_needed);
    DWORD nap = sleep_length(left, naps_needed || wake_up_event_handle == nullptr);
    if (n == 0) {
      Sleep(nap);  // no event could be made: naps alone
      continue;
    }
    // The wake-up that ends the sleep is taken by it; what the items hold is still told.
    DWORD woken = WaitForMultipleObjects(n, events, FALSE, nap);
    if (wake_up_event_handle != nullptr && woken == WAIT_OBJECT_0 + n - 1) return look(items, count);
    // A watch ended: the look above tells what came; if nothing did, the wake was idle.
    if (woken < WAIT_OBJECT_0 + n) ++idle_wakes;
    if (woken == WAIT_FAILED) Sleep(nap_ms);  // cannot happen with live events; no busy loop if it does
  }
}
