// The wait on POSIX: one poll(2) over the items and the wake-up pipe.
#include <errno.h>
#include <poll.h>

#include "platform/platform_system_linux.h"
#include "platform/reaping.h"
#include "platform/wait.h"
#include "platform/wake_up.h"

int wait_for_events(platform* pf, wait_item* items, int count, long timeout_ms) {
  constexpr int max_items = 64;
  if (count > max_items) count = max_items;
  struct pollfd p[max_items + 1];
  for (int i = 0; i < count; ++i) {
    items[i].got = 0;
    short events = 0;
    if (items[i].want & wait_read) events |= POLLIN;
    if (items[i].want & wait_write) events |= POLLOUT;
    p[i] = pollfd{items[i].want != 0 ? items[i].fd : -1, events, 0};
  }
  p[count] = pollfd{pf->system->wake_fds[0], POLLIN, 0};
  int timeout = timeout_ms < 0 ? -1 : timeout_ms > 0x7fffffffL ? 0x7fffffff : static_cast<int>(timeout_ms);
  int n = poll(p, static_cast<nfds_t>(count) + 1, timeout);
  reap_after_wake_up(pf);  // a child's end may be what woke us (or broke the poll off)
  if (n <= 0) return 0;    // timeout, or a signal: the caller looks at its flags
  if (p[count].revents != 0) take_wake_ups(pf);
  int ready = 0;
  for (int i = 0; i < count; ++i) {
    short r = p[i].revents;
    if (r == 0) continue;
    if (r & POLLIN) items[i].got |= wait_read;
    if (r & POLLOUT) items[i].got |= wait_write;
    // For a pipe, POLLHUP with nothing to read means every writer has gone; POLLERR on a
    // write end means the reader has.
    if ((r & (POLLHUP | POLLERR | POLLNVAL)) && !(r & POLLIN)) items[i].got |= wait_hangup;
    if (items[i].got != 0) ++ready;
  }
  return ready;
}
