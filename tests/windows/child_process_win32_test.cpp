// Status query and termination over real Windows child processes: exit codes come from
// GetExitCodeProcess, where 259 means still running, and a terminated child ends with 127.
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/pipe.h"
#include "tests/helpers/test_platform.h"
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
  ASSERT_EQ(spawn_process(shared_test_platform(), h, argv, child_stdio{}), 0);
}

TEST(ChildStatusWin32, RecordsExitCodesAndTheKillCode) {
  child_query query;
  struct {
    const char* code;
    int expected;
  } rows[] = {{"0", 0}, {"3", 3}, {"300", 300}};
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

// The program is found by its full name, and along PATH with ".exe" appended (entries with
// and without a closing separator or quotes; empty and missing ones passed over); the child writes
// into the binary pipe it is given without carriage returns, while our own standard
// descriptors stay what they were.
TEST(ChildStartWin32, FindsTheProgramAndLeavesOurStandardDescriptors) {
  // PATH is put back however the test ends.
  struct path_restore {
    std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    ~path_restore() { _putenv_s("PATH", saved.c_str()); }
  } restore;
  std::string program = test_child_path();
  std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
  struct {
    std::string word, search_path;
  } rows[] = {
      {program, ""},
      {"test_child", "Z:\\no_such_folder;;" + folder},
      {"test_child", folder.substr(0, folder.size() - 1)},
      {"test_child", "\"Z:\\no;such\";\"" + folder + "\""},
  };
  for (auto& r : rows) {
    _putenv_s("PATH", r.search_path.c_str());
    intptr_t before[3] = {_get_osfhandle(0), _get_osfhandle(1), _get_osfhandle(2)};
    int fds[2];
    ASSERT_EQ(make_pipe(fds, 0), 0);
    child_stdio stdio;
    stdio.out = fds[1];
    char* argv[] = {r.word.data(), const_cast<char*>("print"), const_cast<char*>("hi"), nullptr};
    process_handle h;
    EXPECT_EQ(spawn_process(shared_test_platform(), &h, argv, stdio), 0) << r.word << " " << r.search_path;
    close_fd(&fds[1]);
    for (int fd = 0; fd < 3; ++fd) EXPECT_EQ(_get_osfhandle(fd), before[fd]) << fd;
    char got[16] = "";
    ssize_t n = read_some(fds[0], got, sizeof got - 1);
    EXPECT_STREQ(got, "hi\n") << r.word << " " << n;
    close_fd(&fds[0]);
    child_query query;
    EXPECT_EQ(wait_for_end(&h, 1000, &query), 0);
    release_process(&h);
  }
}

TEST(ChildStatusWin32, OwnProcessIdIsTheSystemOne) {
  EXPECT_EQ(own_process_id(), static_cast<pid_t>(GetCurrentProcessId()));
}

}  // namespace
