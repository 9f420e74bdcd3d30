// Wake-ups on POSIX: a non-blocking pipe that handlers write a byte into. A wait polls its read
// end beside the real descriptors, so a signal that lands just before the wait still ends it.
#include "platform/wake_up.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

namespace {
int wake_fds[2] = {-1, -1};
}  // namespace

int wake_up_descriptor() {
  if (wake_fds[0] < 0 && pipe2(wake_fds, O_CLOEXEC | O_NONBLOCK) != 0) wake_fds[0] = wake_fds[1] = -1;
  return wake_fds[0];
}

void* wake_up_event() { return nullptr; }

void wake_up() {
  if (wake_fds[1] < 0) return;
  int saved = errno;
  ssize_t n = write(wake_fds[1], "w", 1);  // a full pipe already holds a wake-up
  (void)n;
  errno = saved;
}

bool take_wake_ups() {
  if (wake_fds[0] < 0) return false;
  char drain[64];
  bool any = false;
  while (read(wake_fds[0], drain, sizeof drain) > 0) any = true;
  return any;
}
