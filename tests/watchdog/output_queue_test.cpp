// The output queues: what a stream does not take waits whole and in order; a failed write
// drops what it held, but only a reader that has gone ends the stream for good.
#include "watchdog/output_queue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/process.h"

namespace {

struct test_queue {
  output_queue q;
  explicit test_queue(int fd) {
    q.writer.fd = fd;
    q.data = new char[queue_capacity];
  }
  ~test_queue() { delete[] q.data; }
};

std::string drain(int fd) {
  std::string got;
  char buf[65536];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  return got;
}

TEST(OutputQueue, AFullDiskDropsWhatFailedButNotWhatComesAfter) {
  signal(SIGPIPE, SIG_IGN);  // as watchdog itself runs
  int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  test_queue t(full);
  queue_put(&t.q, "lost\n", 5);  // ENOSPC
  EXPECT_FALSE(t.q.failed);
  EXPECT_EQ(t.q.dropped, 5u);
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC | O_NONBLOCK), 0);
  t.q.writer.fd = p[1];  // the space is back
  queue_put(&t.q, "kept\n", 5);
  EXPECT_EQ(drain(p[0]), "kept\n");
  close(p[0]);  // the reader goes: that is for good
  queue_put(&t.q, "gone\n", 5);
  EXPECT_TRUE(t.q.failed);
  queue_put(&t.q, "more\n", 5);
  EXPECT_EQ(queue_pending(&t.q), 0u);
  close(p[1]);
  close(full);
}

TEST(OutputQueue, HeldBytesGoOutWholeAndInOrder) {
  int p[2];
  ASSERT_EQ(pipe2(p, O_CLOEXEC | O_NONBLOCK), 0);
  fcntl(p[1], F_SETPIPE_SZ, 4096);
  test_queue t(p[1]);
  std::string sent;
  for (int i = 0; sent.size() < queue_capacity - 100; ++i) {
    std::string line = "line " + std::to_string(i) + "\n";
    std::size_t before = queue_pending(&t.q);
    queue_put(&t.q, line.data(), line.size());
    if (queue_pending(&t.q) > before || t.q.dropped == 0) sent += line;
  }
  EXPECT_GT(queue_pending(&t.q), 0u) << "the pipe cannot take it all at once";
  // A line that does not fit is dropped whole, never cut.
  std::string big(queue_room(&t.q) + 1, 'x');
  unsigned long dropped = t.q.dropped;
  queue_put(&t.q, big.data(), big.size());
  EXPECT_EQ(t.q.dropped, dropped + big.size());
  std::string got;
  while (queue_pending(&t.q) > 0) {
    got += drain(p[0]);
    queue_flush(&t.q);
  }
  got += drain(p[0]);
  EXPECT_TRUE(got == sent) << got.size() << " of " << sent.size() << " bytes";
  close(p[0]);
  close(p[1]);
}

TEST(ProcessTree, OurselvesAndOurAncestorsAreUntouchable) {
  EXPECT_TRUE(is_self_or_ancestor(getpid()));
  EXPECT_TRUE(is_self_or_ancestor(getppid()));
  EXPECT_TRUE(is_self_or_ancestor(1));
  pid_t child = fork();
  if (child == 0) {
    pause();
    _exit(0);
  }
  EXPECT_FALSE(is_self_or_ancestor(child));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace
