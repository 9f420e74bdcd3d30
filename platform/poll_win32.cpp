// Readiness probing on Windows: PeekNamedPipe looks into a pipe without consuming. (Anonymous
// pipes cannot be waited on together: wait_win32.cpp waits by peeking between short naps.)
#include "platform/poll.h"

#include <windows.h>
#include <io.h>

namespace {

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

void sleep_ms(long ms) { Sleep(static_cast<DWORD>(ms)); }
