// Starting children: what a failed start reports, and the parent-death signal.
#include <gtest/gtest.h>
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/monotonic_clock.h"
#include "platform/pipe.h"
#include "platform/process.h"

namespace {

TEST(ChildStart, ReportsWhyAProgramCannotRun) {
  char plain[] = "/tmp/child_start_test_XXXXXX";
  int fd = mkstemp(plain);
  ASSERT_GE(fd, 0);
  close(fd);
  chmod(plain, 0644);
  struct { const char* word; int rc; } rows[] = {
      {"no-such-program-anywhere", -ENOENT}, {"/no/such/folder/prog", -ENOENT}, {plain, -EACCES}, {"", -ENOENT}, {"true", 0}};
  for (const auto& r : rows) {
    char* argv[] = {const_cast<char*>(r.word), nullptr};
    process_handle h;
    EXPECT_EQ(spawn_process(&h, argv, child_stdio{}), r.rc) << r.word;
    if (r.rc == 0) {
      while (process_status(&h) == 1) usleep(1000);
      EXPECT_EQ(h.exit_code, 0);
    }
    release_process(&h);
  }
  unlink(plain);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a failed start leaves no zombie";
}

// Running, not just a zombie that whoever adopted it has not collected yet.
bool running(pid_t pid) {
  char path[64], stat[512] = {};
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  std::size_t n = std::fread(stat, 1, sizeof stat - 1, f);
  std::fclose(f);
  const char* close_paren = std::strrchr(stat, ')');
  return n > 0 && close_paren != nullptr && close_paren[1] == ' ' && close_paren[2] != 'Z';
}

// A parent that ends takes its child with it, even when it is killed outright.
TEST(ChildStart, ParentDeathSignalEndsTheChild) {
  int p[2];
  ASSERT_EQ(make_pipe(p, 0), 0);
  pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) {
    char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("30"), nullptr};
    child_setup setup;
    setup.parent_death_signal = SIGTERM;
    process_handle h;
    if (spawn_process(&h, argv, child_stdio{}, nullptr, nullptr, setup) != 0) _exit(1);
    write_all(p[1], &h.pid, sizeof h.pid);
    raise(SIGKILL);
  }
  close_fd(&p[1]);
  pid_t child = 0;
  ASSERT_EQ(read_some(p[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
  close_fd(&p[0]);
  waitpid(parent, nullptr, 0);
  std::int64_t deadline = monotonic_now() + 10000;
  while (running(child) && monotonic_now() < deadline) usleep(10000);
  EXPECT_FALSE(running(child)) << "the child outlived its parent";
}

}  // namespace
