// WATCHDOG_ERR_IS_ALIVE: whether a failed status query means the child still runs.
#include "watchdog/child_status.h"

#include <gtest/gtest.h>

#include "tests/helpers/test_env.h"

namespace {

TEST(ChildStatus, ErrorIsAliveIsReadOnce) {
  process_handle bogus;  // no process: the query fails
  int status = -1;
  struct { const char* value; bool running; } rows[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"x", false}};
  for (const auto& r : rows) {
    reset_child_status();
    if (r.value) set_env("WATCHDOG_ERR_IS_ALIVE", r.value); else unset_env("WATCHDOG_ERR_IS_ALIVE");
    EXPECT_EQ(child_running(&bogus, &status), r.running) << (r.value ? r.value : "unset");
    set_env("WATCHDOG_ERR_IS_ALIVE", r.running ? "0" : "1");  // later changes are not seen
    EXPECT_EQ(child_running(&bogus, &status), r.running);
  }
  unset_env("WATCHDOG_ERR_IS_ALIVE");
  reset_child_status();
}

}  // namespace
