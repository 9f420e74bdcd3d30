// A read end of ours wakes the wait by itself: data, or its writer's end, ends a wait long
// before its deadline, and a read still gets the data behind the watch a wait left pending.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "common/monotonic_clock.h"
#include "platform/pipe.h"
#include "platform/wait.h"
#include "tests/helpers/test_platform.h"

namespace {

enum class writer_step { write_byte, close_end };

TEST(PipeWaitWin32, AnIdlePipeWakesTheWaitOrTheReadOnItsOwn) {
  struct {
    const char* what;
    writer_step step;
    bool wait_first;  // false: a blocking read instead of the wait
    unsigned got;     // what the wait tells
    ssize_t read;     // what the read then returns
  } rows[] = {
      {"data wakes the wait", writer_step::write_byte, true, wait_read, 1},
      {"the writer's end wakes the wait", writer_step::close_end, true, wait_hangup, 0},
      {"a read behind the pending watch gets the data", writer_step::write_byte, false, 0, 1},
  };
  for (auto& r : rows) {
    int fds[2];
    ASSERT_EQ(make_pipe(fds, 0), 0);
    wait_item item{fds[0], wait_read, 0};
    EXPECT_EQ(wait_for_events(shared_test_platform(), &item, 1, 30), 0)
        << r.what << ": an empty pipe leaves its watch pending";
    // The pause lets the wait (or read) below be asleep when the writer acts.
    std::thread writer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (r.step == writer_step::close_end)
        close_fd(&fds[1]);
      else
        write_all(fds[1], "x", 1);
    });
    std::int64_t start = system_monotonic_ms();
    if (r.wait_first) {
      EXPECT_EQ(wait_for_events(shared_test_platform(), &item, 1, 60000), 1) << r.what;
      EXPECT_EQ(item.got, r.got) << r.what;
    }
    char c = 0;
    EXPECT_EQ(read_some(fds[0], &c, 1), r.read) << r.what;
    EXPECT_LT(system_monotonic_ms() - start, 20000) << r.what;
    writer.join();
    close_fd(&fds[1]);
    close_fd(&fds[0]);
  }
}

}  // namespace
