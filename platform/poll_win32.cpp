// Readiness probing on Windows: PeekNamedPipe looks into a pipe without consuming. Anonymous
// pipes cannot be waited on together, so a wait is a series of short sleeps between peeks.
#include "platform/poll.h"

#include <windows.h>
#include <io.h>

namespace {

constexpr DWORD peek_interval_ms = 50;  // how soon a wait notices data: 20 peeks a second

// 1: holds data, 0: empty but open, -1: can never hold data (no writer, not a pipe).
int peek(int fd) {
  static char scratch[4096];
  DWORD copied = 0;
  DWORD available = 0;
  DWORD left = 0;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE || !PeekNamedPipe(h, scratch, sizeof scratch, &copied, &available, &left)) return -1;
  return copied != 0 || available != 0 ? 1 : 0;
}

// Sleeps what is left of a wait, but at most one peek interval.
void nap(long left_ms) {
  Sleep(static_cast<DWORD>(left_ms < static_cast<long>(peek_interval_ms) ? left_ms : peek_interval_ms));
}

}  // namespace

int probe_readable(const int* fds, int count, bool* ready, bool* finished) {
  int found = 0;
  for (int i = 0; i < count; ++i) {
    int state = peek(fds[i]);
    ready[i] = state > 0;
    finished[i] = state < 0;
    if (ready[i]) ++found;
  }
  return found;
}

int wait_readable(const int* fds, int count, long timeout_ms) {
  for (long waited = 0;; waited += peek_interval_ms) {
    bool open = false;
    for (int i = 0; i < count; ++i) {
      int state = peek(fds[i]);
      if (state > 0) return 1;
      if (state == 0) open = true;
    }
    if (!open) return 1;  // every writer has gone: as a hang-up wakes poll(2)
    if (waited >= timeout_ms) return 0;
    nap(timeout_ms - waited);
  }
}

void sleep_ms(long ms, bool (*stop)()) {
  if (stop == nullptr) {
    Sleep(static_cast<DWORD>(ms));
    return;
  }
  for (long slept = 0; slept < ms && !stop(); slept += peek_interval_ms) nap(ms - slept);
}
