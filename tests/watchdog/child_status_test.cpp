// WATCHDOG_ERR_IS_ALIVE: whether a failed status query means the child still runs.
#include "watchdog/child_status.h"

#include <gtest/gtest.h>

#include "tests/helpers/test_env.h"

namespace {

TEST(ChildStatus, ErrorIsAliveSaysAFailedQueryMeansRunning) {
  process_handle bogus;  // no process: the query fails
  struct {
    const char* value;
    bool running;
  } rows[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"x", false}};
  for (const auto& r : rows) {
    if (r.value)
      set_env("WATCHDOG_ERR_IS_ALIVE", r.value);
    else
      unset_env("WATCHDOG_ERR_IS_ALIVE");
    child_query query = read_child_query();
    EXPECT_EQ(child_running(&bogus, &query), r.running) << (r.value ? r.value : "unset");
    EXPECT_EQ(query.last_exit_status, -1) << "a failed query records no exit status";
  }
  unset_env("WATCHDOG_ERR_IS_ALIVE");
}

}  // namespace
