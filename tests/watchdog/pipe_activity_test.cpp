// Telling a writing child from a silent one by looking at its pipe, never reading it.
#include "watchdog/pipe_activity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace {

// Fills a non-blocking pipe with writes of `block` bytes until it takes no more.
void fill(int fd, std::size_t block) {
  std::string bytes(block, 'x');
  while (write(fd, bytes.data(), bytes.size()) > 0) {
  }
}

bool put(int fd, std::size_t len) {
  std::string bytes(len, 'b');
  return len == 0 || write(fd, bytes.data(), len) == static_cast<ssize_t>(len);
}

TEST(PipeActivity, WritesAndWaitingWritersAreSeenStillPipesAreNot) {
  struct row {
    const char* what;
    std::size_t before, between;  // bytes written before the first look, and between the looks
    std::size_t fill_block;       // nonzero: the pipe is filled with writes of this size
    bool close_writer, left_unread;
    bool wrote;  // what the second look says
  } rows[] = {
      {"bytes entered", 100, 50, 0, false, true, true},
      {"nothing new, room left", 100, 0, 0, false, true, false},
      {"full of big writes, unread", 0, 0, 65536, false, true, true},
      {"full of 3000-byte writes, unread", 0, 0, 3000, false, true, true},
      {"full, but read as usual", 0, 0, 3000, false, false, false},
      {"full, but no writer left", 0, 0, 3000, true, true, false},
  };
  for (const auto& r : rows) {
    int p[2];
    ASSERT_EQ(pipe2(p, O_CLOEXEC | O_NONBLOCK), 0);
    pipe_activity a;
    ASSERT_TRUE(put(p[1], r.before));
    if (r.fill_block != 0) fill(p[1], r.fill_block);
    char taken[10];
    ASSERT_EQ(read(p[0], taken, sizeof taken), 10) << "a read of ours is no write of the child's";
    note_taken(&a, 10);
    EXPECT_TRUE(child_wrote(&a, p[0], r.left_unread)) << r.what << ": the first look sees what entered";
    ASSERT_TRUE(put(p[1], r.between));
    if (r.close_writer) close(p[1]);
    EXPECT_EQ(child_wrote(&a, p[0], r.left_unread), r.wrote) << r.what;
    close(p[0]);
    if (!r.close_writer) close(p[1]);
  }
}

}  // namespace
