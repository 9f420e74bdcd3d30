// The wait on Windows: it sleeps on the wake-up event (a stop request, a process's end). An
// anonymous pipe cannot be waited on, so while a read end is wanted the wait peeks into each
// between short naps on the event; without one it sleeps on the event until the deadline. A
// write end always counts as writable: a pipe write returns once the reader has taken
// enough, or fails when the reader has gone.
#include <windows.h>
#include <io.h>

#include "platform/wait.h"
#include "platform/wake_up.h"

namespace {

constexpr long nap_ms = 20;  // how soon a wait notices data in a pipe

// 1: holds data, 0: empty but open, -1: can never hold data (no writer, not a pipe).
int peek(int fd) {
  DWORD available = 0;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE || !PeekNamedPipe(h, nullptr, 0, nullptr, &available, nullptr)) return -1;
  return available != 0 ? 1 : 0;
}

int look(wait_item* items, int count) {
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    items[i].got = 0;
    if (items[i].fd < 0) continue;
    if (items[i].want & wait_read) {
      int state = peek(items[i].fd);
      if (state > 0) items[i].got |= wait_read;
      if (state < 0) items[i].got |= wait_hangup;
    }
    if (items[i].want & wait_write) items[i].got |= wait_write;
    if (items[i].got != 0) ++ready;
  }
  return ready;
}

bool peeks_needed(const wait_item* items, int count) {
  for (int i = 0; i < count; ++i) {
    if (items[i].fd >= 0 && (items[i].want & wait_read)) return true;
  }
  return false;
}

}  // namespace

int wait_for_events(wait_item* items, int count, long timeout_ms) {
  HANDLE wake_up_event_handle = static_cast<HANDLE>(wake_up_event());
  bool peeking = peeks_needed(items, count);
  DWORD start = GetTickCount();
  for (;;) {
    int ready = look(items, count);
    if (ready > 0) return ready;
    if (take_wake_ups()) return 0;
    long waited = static_cast<long>(GetTickCount() - start);
    if (timeout_ms >= 0 && waited >= timeout_ms) return 0;
    long left = timeout_ms < 0 ? -1 : timeout_ms - waited;
    DWORD nap = left < 0 ? INFINITE : static_cast<DWORD>(left);
    if (peeking && (left < 0 || left > nap_ms)) nap = nap_ms;
    if (wake_up_event_handle == nullptr) {
      Sleep(nap == INFINITE ? nap_ms : nap);  // no event could be made: naps alone
      continue;
    }
    // The wake-up that ends the sleep is taken by it; what the items hold is still told.
    if (WaitForSingleObject(wake_up_event_handle, nap) == WAIT_OBJECT_0) return look(items, count);
  }
}
