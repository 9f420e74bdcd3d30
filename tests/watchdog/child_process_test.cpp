// Status query and termination over real child processes started by the shell.
#include <gtest/gtest.h>

#include "tests/helpers/test_platform.h"
#include "tests/watchdog/child_wait.h"

namespace {

void start_shell(process_handle* h, const char* script) {
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script), nullptr};
  EXPECT_EQ(spawn_process(shared_test_platform(), h, argv, child_stdio{}), 0);
}

TEST(ChildStatus, RecordsExitStatusAndKillCode) {
  child_query query;
  struct {
    const char* script;
    int code;
  } rows[] = {{"exit 0", 0}, {"exit 3", 3}, {"exit 259", 3}, {"kill -TERM $$", 128 + 15}};
  for (const auto& r : rows) {
    process_handle h;
    start_shell(&h, r.script);
    ASSERT_EQ(wait_for_end(&h, 500, &query), 0) << r.script;
    EXPECT_EQ(query.last_exit_status, r.code) << r.script;
    EXPECT_FALSE(child_running(&h, &query)) << "a handle keeps answering 'ended'";
    release_process(&h);
  }
  process_handle h;
  start_shell(&h, "sleep 30");
  EXPECT_TRUE(child_running(&h, &query));
  end_child(&h);
  ASSERT_EQ(wait_for_end(&h, 500, &query), 0);
  EXPECT_EQ(query.last_exit_status, 127);
  release_process(&h);
}

}  // namespace
