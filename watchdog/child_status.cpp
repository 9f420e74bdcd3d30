// Child status, termination and the readiness poll of the supervisor.
#include "watchdog/child_status.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/poll.h"
#include "platform/wait.h"
#include "watchdog/messages.h"
#include "watchdog/run_settings.h"

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

int child_status(process_handle* handle) {
  read_error_setting();
  int r = process_status(handle);
  if (r == 1) return 0;
  if (r < 0) return error_is_alive ? 0 : -1;
  // Ended. Where the system gives no exit code (a process that is not our child on POSIX)
  // the last exit status stays as it was.
  if (handle->exit_code_known) last_exit_status = handle->exit_code;
  return -1;
}

void end_child(process_handle* handle, const stop_scope& scope) {
  read_error_setting();
  // The child's descendants go with it: a hung program behind a shell or launcher must
  // not live on as an orphan holding the old pipes.
  if (handle != nullptr) terminate_process_tree(handle, scope);
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
    if (run_settings.debug_mask & 2) say("fd:%d is valid\n", examine[i]);
    ++ready_count;
    if (set->count < descriptor_set_size) set->fds[set->count++] = examine[i];
  }
  return ready_count;
}

}  // namespace

int readiness_poll(int bound, descriptor_set* set, poll_timeout* timeout, output_wait* outputs) {
  const descriptor_set original = *set;
  int open_fds[descriptor_set_size];
  int open_count = 0;
  int ready = examine_set(bound, set, open_fds, &open_count);
  if (ready > 0) return ready;
  long ms = static_cast<long>(timeout->sec) * 1000 + timeout->usec / 1000;
  if (timeout->sec > 0 || ms > 0) {
    // Idle: wait out the timeout, but wake as soon as a pipe that can still get data does, our
    // own stream takes held-back output, a child ends or a stop is requested.
    wait_item items[descriptor_set_size + 2];
    int count = 0;
    for (int i = 0; i < open_count; ++i) items[count++] = wait_item{open_fds[i], wait_read, 0};
    int first_output = count;
    if (outputs != nullptr)
      for (int fd : outputs->fds)
        if (fd >= 0) items[count++] = wait_item{fd, wait_write, 0};
    if (wait_for_events(items, count, ms) > 0) {
      bool data = false;
      for (int i = 0; i < first_output; ++i) data = data || (items[i].got & wait_read) != 0;
      if (data) {
        *set = original;
        ready = examine_set(bound, set, open_fds, &open_count);
        if (ready > 0) return ready;
      }
    }
  }
  timeout->sec = 0;
  timeout->usec = 0;
  return 0;
}
