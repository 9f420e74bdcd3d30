// Starting children: what a failed start reports (the parent-death signal is seen end to end:
// framerelay killed outright leaves no child).
#include <errno.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"
#include "tests/helpers/test_platform.h"

namespace {

TEST(ChildStart, ReportsWhyAProgramCannotRun) {
  char plain[] = "/tmp/child_start_test_XXXXXX";
  int fd = mkstemp(plain);
  ASSERT_GE(fd, 0);
  close(fd);
  chmod(plain, 0644);
  struct {
    const char* word;
    int rc;
  } rows[] = {{"no-such-program-anywhere", -ENOENT},
              {"/no/such/folder/prog", -ENOENT},
              {plain, -EACCES},
              {"", -ENOENT},
              {"true", 0}};
  for (const auto& r : rows) {
    char* argv[] = {const_cast<char*>(r.word), nullptr};
    process_handle h;
    EXPECT_EQ(spawn_process(shared_test_platform(), &h, argv, child_stdio{}), r.rc) << r.word;
    if (r.rc == 0) {
      while (process_status(&h) == process_state::running) usleep(1000);
      EXPECT_EQ(h.exit_code, 0);
    }
    release_process(&h);
  }
  unlink(plain);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a failed start leaves no zombie";
}

}  // namespace
