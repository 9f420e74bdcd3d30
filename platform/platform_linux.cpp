// The platform record on Linux: its system part made and given back.
#include <fcntl.h>
#include <unistd.h>

#include "common/monotonic_clock.h"
#include "platform/platform_system_linux.h"

platform* handler_platform = nullptr;

void open_platform(platform* p) {
  p->clock = system_monotonic_ms;
  p->stop_signal.store(0);
  p->forwarded.store(0);
  p->child_events.store(0);
  p->system = new platform_system;
  // Made before any handler can need it.
  if (pipe2(p->system->wake_fds, O_CLOEXEC | O_NONBLOCK) != 0) p->system->wake_fds[0] = p->system->wake_fds[1] = -1;
}

void close_platform(platform* p) {
  if (p->system == nullptr) return;
  if (handler_platform == p) handler_platform = nullptr;
  for (int fd : p->system->wake_fds)
    if (fd >= 0) close(fd);
  delete p->system;
  p->system = nullptr;
}
