// The wait of a monitoring pass over real pipes: at once when data waits, the whole time when
// nothing can come, and no longer than it takes data to arrive.
#include "watchdog/wait_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/pipe.h"

namespace {

double seconds_of(auto&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct PassWait : ::testing::Test {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  our_outputs outputs;  // not opened: nothing of ours is waited for
  void SetUp() override {
    ASSERT_EQ(make_pipe(out, 0), 0);
    ASSERT_EQ(make_pipe(err, 0), 0);
  }
  void TearDown() override {
    for (int* p : {out, err}) {
      close_fd(&p[0]);
      close_fd(&p[1]);
    }
  }
  unsigned wait(long ms, double* seconds) {
    wait_list list = list_waits(&outputs, out[0], err[0], no_stream);
    unsigned ready = 0;
    *seconds = seconds_of([&] { ready = wait_for_data(&list, ms); });
    return ready;
  }
};

TEST_F(PassWait, ReturnsAtOnceWithThePipesThatHoldData) {
  ASSERT_EQ(write_all(err[1], "x", 1), 0);
  double s = 0;
  EXPECT_EQ(wait(1000, &s), unsigned{err_stream});
  EXPECT_LT(s, 0.5);
  ASSERT_EQ(write_all(out[1], "y", 1), 0);
  EXPECT_EQ(wait(1000, &s), unsigned{both_streams});
}

TEST_F(PassWait, PipesWhoseWritersHaveGoneDoNotEndTheWait) {
  close_fd(&out[1]);
  close_fd(&err[1]);
  double s = 0;
  EXPECT_EQ(wait(1000, &s), 0u);
  EXPECT_GE(s, 0.95);
}

TEST_F(PassWait, WaitEndsWhenDataArrives) {
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(write_all(out[1], "x", 1), 0);
  });
  double s = 0;
  unsigned ready = wait(2000, &s);
  writer.join();
  EXPECT_EQ(ready, unsigned{out_stream});
  EXPECT_LT(s, 1.5);
}

}  // namespace
