// Wake-ups on POSIX: a non-blocking pipe of the platform record that handlers write a byte
// into. A wait polls its read end beside the real descriptors, so a signal that lands just
// before the wait still ends it.
#include "platform/wake_up.h"

#include <errno.h>
#include <unistd.h>

#include "platform/platform_system_linux.h"

void wake_up(platform* p) {
  if (p == nullptr || p->system == nullptr || p->system->wake_fds[1] < 0) return;
  int saved = errno;
  ssize_t n = write(p->system->wake_fds[1], "w", 1);  // a full pipe already holds a wake-up
  (void)n;
  errno = saved;
}

bool take_wake_ups(platform* p) {
  if (p->system->wake_fds[0] < 0) return false;
  char drain[64];
  bool any = false;
  while (read(p->system->wake_fds[0], drain, sizeof drain) > 0) any = true;
  return any;
}
