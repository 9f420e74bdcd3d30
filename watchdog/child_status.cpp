// Child status, termination and the readiness poll of the supervisor.
#include "watchdog/child_status.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/poll.h"
#include "watchdog/run_settings.h"
#include "watchdog/termination.h"

int last_exit_status = -1;

namespace {
bool error_setting_read = false;
int error_is_alive = 0;

void read_error_setting() {
  if (error_setting_read) return;
  error_setting_read = true;
  const char* value = std::getenv("WATCHDOG_ERR_IS_ALIVE");
  if (value != nullptr && *value != '\0') std::sscanf(value, "%d", &error_is_alive);
}

unsigned events_before_sleep = 0;

// An idle sleep ends early when a child has ended or we are asked to end: the next pass
// then sees it at once instead of a second later.
bool something_happened() { return child_event_count() != events_before_sleep || termination_requested(); }

void remove_first(descriptor_set* set, int fd) {
  for (unsigned i = 0; i < set->count; ++i) {
    if (set->fds[i] == fd) {
      std::copy(set->fds + i + 1, set->fds + set->count, set->fds + i);
      --set->count;
      return;
    }
  }
}
}  // namespace

void reset_child_status() {
  error_setting_read = false;
  error_is_alive = 0;
  last_exit_status = -1;
}

int lookup_process_id(const process_handle* handle) {
  if (handle == nullptr) return -1;
  return process_id_of(handle);
}

int child_status(process_handle* handle, int mode) {
  read_error_setting();
  if (mode != 0) {
    // The child's descendants go with it: a hung program behind a shell or launcher must
    // not live on as an orphan holding the old pipes.
    if (handle != nullptr) terminate_process_tree(handle);
    return 0;
  }
  int r = process_status(handle);
  if (r == 1) return 0;
  if (r < 0) return error_is_alive ? 0 : -1;
  // Ended. Where the system gives no exit code (a process that is not our child on POSIX)
  // the last exit status stays as it was.
  if (handle->exit_code_known) last_exit_status = handle->exit_code;
  return -1;
}

void descriptor_set_add(descriptor_set* set, int fd) {
  if (set->count < descriptor_set_size) set->fds[set->count++] = fd;
}

bool descriptor_set_has(const descriptor_set* set, int fd) {
  return std::find(set->fds, set->fds + set->count, fd) != set->fds + set->count;
}

namespace {

// One examination of the set: each descriptor below the bound is taken out and put back at
// the end when it holds data. `open_fds` receives those that may still get data.
int examine_set(int bound, descriptor_set* set, int* open_fds, int* open_count) {
  int examine[descriptor_set_size];
  int n = 0;
  for (unsigned i = 0; i < set->count; ++i) {
    int fd = set->fds[i];
    if (fd >= 0 && fd < bound && std::find(examine, examine + n, fd) == examine + n) examine[n++] = fd;
  }
  std::sort(examine, examine + n);
  bool ready[descriptor_set_size] = {};
  bool finished[descriptor_set_size] = {};
  if (n > 0 && probe_readable(examine, n, ready, finished) < 0) std::fill(finished, finished + n, true);

  int ready_count = 0;
  *open_count = 0;
  for (int i = 0; i < n; ++i) {
    remove_first(set, examine[i]);
    if (!finished[i]) open_fds[(*open_count)++] = examine[i];
    if (!ready[i]) continue;
    if (run_settings.debug_mask & 2) std::fprintf(stderr, "fd:%d is valid\n", examine[i]);
    ++ready_count;
    if (set->count < descriptor_set_size) set->fds[set->count++] = examine[i];
  }
  return ready_count;
}

}  // namespace

int readiness_poll(int bound, descriptor_set* set, poll_timeout* timeout) {
  const descriptor_set original = *set;
  int open_fds[descriptor_set_size];
  int open_count = 0;
  int ready = examine_set(bound, set, open_fds, &open_count);
  if (ready > 0) return ready;
  if (timeout->sec > 0) {
    // Idle: wait out the timeout, but wake as soon as a pipe that can still get data does,
    // so a busy child is never held up behind a full pipe for the rest of the second.
    long ms = static_cast<long>(timeout->sec) * 1000;
    if (open_count == 0) {
      events_before_sleep = child_event_count();
      sleep_ms(ms, something_happened);
    } else if (wait_readable(open_fds, open_count, ms) > 0) {
      *set = original;
      ready = examine_set(bound, set, open_fds, &open_count);
      if (ready > 0) return ready;
    }
  }
  timeout->sec = 0;
  timeout->usec = 0;
  return 0;
}
