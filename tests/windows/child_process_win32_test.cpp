// Status query and termination over real Windows child processes: exit codes come from
// GetExitCodeProcess, where 259 means still running, and a terminated child ends with 127.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/watchdog/child_wait.h"

namespace {

// test_child.exe sits beside this test program.
std::string test_child_path() {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, n);
  return path.substr(0, path.find_last_of("\\/") + 1) + "test_child.exe";
}

void start_child(process_handle* h, const char* action, const char* arg) {
  std::string program = test_child_path();
  char* argv[] = {program.data(), const_cast<char*>(action), const_cast<char*>(arg), nullptr};
  ASSERT_EQ(spawn_process(h, argv, child_stdio{}), 0);
}

TEST(ChildStatusWin32, RecordsExitCodesAndTheKillCode) {
  child_query query;
  struct { const char* code; int expected; } rows[] = {{"0", 0}, {"3", 3}, {"300", 300}};
  for (const auto& r : rows) {
    process_handle h;
    start_child(&h, "exit", r.code);
    ASSERT_EQ(wait_for_end(&h, 1000, &query), 0) << r.code;
    EXPECT_EQ(query.last_exit_status, r.expected) << r.code;
    EXPECT_FALSE(child_running(&h, &query)) << "a handle keeps answering 'ended'";
    EXPECT_GT(process_id_of(&h), 0);
    release_process(&h);
  }
  process_handle h;
  start_child(&h, "sleep", "30");
  EXPECT_TRUE(child_running(&h, &query));
  end_child(&h);
  ASSERT_EQ(wait_for_end(&h, 1000, &query), 0);
  EXPECT_EQ(query.last_exit_status, 127);
  release_process(&h);
}

// The system reports a running process with exit code 259, so a child that ends with it
// counts as running until it is terminated.
TEST(ChildStatusWin32, ExitCode259CountsAsRunning) {
  child_query query;
  process_handle h;
  start_child(&h, "exit", "259");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_TRUE(child_running(&h, &query));
  end_child(&h);
  release_process(&h);
}

TEST(ChildStatusWin32, OwnProcessIdIsTheSystemOne) {
  EXPECT_EQ(own_process_id(), static_cast<pid_t>(GetCurrentProcessId()));
}

}  // namespace
