// Pipe reads as the programs rely on them: bytes in order, EAGAIN from an empty
// non-blocking pipe, and the end of the stream once the writer has gone.
#include "platform/pipe.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

TEST(Pipe, ReadsInOrderThenEndOfStream) {
  int fds[2];
  for (int buffer_size : {0, 65536}) {
    ASSERT_EQ(make_pipe(fds, buffer_size), 0);
    ASSERT_EQ(write_all(fds[1], "hello, pipe", 11), 0);
    EXPECT_EQ(bytes_available(fds[0]), 11);
    char buf[16] = {};
    EXPECT_EQ(read_some(fds[0], buf, 5), 5);
    EXPECT_EQ(read_some(fds[0], buf + 5, sizeof buf - 6), 6);
    EXPECT_EQ(std::string(buf), "hello, pipe");
    close_fd(&fds[1]);
    EXPECT_EQ(fds[1], -1);
    EXPECT_EQ(read_some(fds[0], buf, sizeof buf), 0) << "writer gone: end of stream";
    close_fd(&fds[0]);
  }
}

TEST(Pipe, NonBlockingReadOfAnEmptyPipeSaysAgain) {
  int fds[2];
  ASSERT_EQ(make_pipe(fds, 65536), 0);
  set_nonblocking(fds[0]);
  char buf[8];
  EXPECT_EQ(read_some(fds[0], buf, sizeof buf), -EAGAIN);
  ASSERT_EQ(write_all(fds[1], "x", 1), 0);
  EXPECT_EQ(read_some(fds[0], buf, sizeof buf), 1);
  EXPECT_EQ(read_some(fds[0], buf, sizeof buf), -EAGAIN);
  close_fd(&fds[1]);
  EXPECT_EQ(read_some(fds[0], buf, sizeof buf), 0);
  close_fd(&fds[0]);
}

}  // namespace
