// Child status and termination of the supervisor.
#include "watchdog/child_status.h"

#include <cstdio>
#include <cstdlib>

namespace {
bool error_setting_read = false;
int error_is_alive = 0;

void read_error_setting() {
  if (error_setting_read) return;
  error_setting_read = true;
  const char* value = std::getenv("WATCHDOG_ERR_IS_ALIVE");
  if (value != nullptr && *value != '\0') std::sscanf(value, "%d", &error_is_alive);
}
}  // namespace

void reset_child_status() {
  error_setting_read = false;
  error_is_alive = 0;
}

bool child_running(process_handle* handle, int* exit_status) {
  read_error_setting();
  int r = process_status(handle);
  if (r == 1) return true;
  if (r < 0) return error_is_alive != 0;
  if (handle->exit_code_known) *exit_status = handle->exit_code;
  return false;
}

void end_child(process_handle* handle, const stop_scope& scope) {
  read_error_setting();
  // The child's descendants go with it: a hung program behind a shell or launcher must
  // not live on as an orphan holding the old pipes.
  if (handle != nullptr) terminate_process_tree(handle, scope);
}
