// The platform record's system part on Linux: the wake-up pipe, the reaper's registry, the
// cgroup record and the run keeper's pipe.
#include <fcntl.h>
#include <unistd.h>

#include "platform/platform_system.h"
#include "platform/platform_system_linux.h"

platform_system* make_platform_system() {
  auto* part = new platform_system;
  if (pipe2(part->wake_fds, O_CLOEXEC | O_NONBLOCK) != 0) part->wake_fds[0] = part->wake_fds[1] = -1;
  return part;
}

void free_platform_system(platform_system* part) {
  for (int fd : part->wake_fds)
    if (fd >= 0) close(fd);
  delete part;
}
