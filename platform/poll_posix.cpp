// Readiness probing with a zero-timeout poll(2), and sleeping with nanosleep.
#include "platform/poll.h"

#include <errno.h>
#include <poll.h>
#include <time.h>

int probe_readable(const int* fds, int count, bool* ready, bool* finished) {
  constexpr int max_probe = 64;
  struct pollfd p[max_probe];
  if (count > max_probe) count = max_probe;
  for (int i = 0; i < count; ++i) p[i] = pollfd{fds[i], POLLIN, 0};
  int n;
  do {
    n = poll(p, static_cast<nfds_t>(count), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return -errno;
  int found = 0;
  for (int i = 0; i < count; ++i) {
    // For a pipe POLLIN means bytes are waiting; POLLHUP alone (writers gone, nothing
    // left) and POLLNVAL are not readiness.
    ready[i] = (p[i].revents & POLLIN) != 0;
    finished[i] = !ready[i] && (p[i].revents & (POLLHUP | POLLNVAL | POLLERR)) != 0;
    if (ready[i]) ++found;
  }
  return found;
}

void sleep_ms(long ms) {
  struct timespec left {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}
