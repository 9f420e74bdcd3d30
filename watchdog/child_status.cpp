// Child status and termination of the supervisor.
#include "watchdog/child_status.h"

#include <cstdio>
#include <cstdlib>

child_query read_child_query() {
  child_query query;
  int error_is_alive = 0;
  const char* value = std::getenv("WATCHDOG_ERR_IS_ALIVE");
  if (value != nullptr && *value != '\0') std::sscanf(value, "%d", &error_is_alive);
  query.failure_means_running = error_is_alive != 0;
  return query;
}

bool child_running(process_handle* handle, child_query* query) {
  process_state state = process_status(handle);
  if (state == process_state::running) return true;
  if (state == process_state::not_known) return query->failure_means_running;
  if (handle->exit_code_known) query->last_exit_status = handle->exit_code;
  return false;
}

void end_child(process_handle* handle, const stop_scope& scope) {
  // The child's descendants go with it: a hung program behind a shell or launcher must
  // not live on as an orphan holding the old pipes.
  if (handle != nullptr) terminate_process_tree(handle, scope);
}
