// Telling a child that writes from a silent one without reading its pipe.
#include "watchdog/pipe_activity.h"

#include "platform/pipe.h"

bool child_wrote(pipe_activity* a, int fd, bool left_unread) {
  if (fd < 0) return false;
  int held = bytes_available(fd);
  unsigned long long entered = a->taken + static_cast<unsigned long long>(held > 0 ? held : 0);
  if (entered > a->entered) {
    a->entered = entered;
    return true;
  }
  if (!left_unread) return false;
  // Where the system cannot tell whether a writer waits, the child is taken to be waiting:
  // killing a child for waiting on our own reader would be the worse mistake.
  return pipe_writer_would_wait(fd) != 0;
}
