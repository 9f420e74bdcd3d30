// WATCHDOG_ERR_IS_ALIVE and the readiness poll over real pipes.
#include "watchdog/child_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/pipe.h"
#include "platform/poll.h"
#include "tests/helpers/test_env.h"

namespace {

double seconds_of(auto&& f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(ChildStatus, ErrorIsAliveIsReadOnce) {
  process_handle bogus;  // no process: the query fails
  struct { const char* value; int expected; } rows[] = {{nullptr, -1}, {"", -1}, {"0", -1}, {"1", 0}, {"x", -1}};
  for (const auto& r : rows) {
    reset_child_status();
    if (r.value) set_env("WATCHDOG_ERR_IS_ALIVE", r.value); else unset_env("WATCHDOG_ERR_IS_ALIVE");
    EXPECT_EQ(child_status(&bogus), r.expected) << (r.value ? r.value : "unset");
    set_env("WATCHDOG_ERR_IS_ALIVE", r.expected == 0 ? "0" : "1");  // later changes are not seen
    EXPECT_EQ(child_status(&bogus), r.expected);
  }
  unset_env("WATCHDOG_ERR_IS_ALIVE");
  reset_child_status();
}

TEST(ReadinessPoll, ReturnsAtOnceWhenDataWaits) {
  int a[2], b[2];
  ASSERT_EQ(make_pipe(a, 0), 0);
  ASSERT_EQ(make_pipe(b, 0), 0);
  ASSERT_EQ(write_all(b[1], "x", 1), 0);
  descriptor_set set;
  descriptor_set_add(&set, a[0]);
  descriptor_set_add(&set, b[0]);
  poll_timeout t{1, 5};
  int n = 0;
  double s = seconds_of([&] { n = readiness_poll(std::max(a[0], b[0]) + 1, &set, &t); });
  EXPECT_EQ(n, 1);
  EXPECT_LT(s, 0.5);
  EXPECT_EQ(set.count, 1u);
  EXPECT_EQ(set.fds[0], b[0]);
  EXPECT_EQ(t.sec, 1);  // left as it was
  EXPECT_EQ(t.usec, 5);
  for (int* p : {a, b}) { close_fd(&p[0]); close_fd(&p[1]); }
}

TEST(ReadinessPoll, IdlePollSleepsTheTimeoutAndZeroesIt) {
  int a[2];
  ASSERT_EQ(make_pipe(a, 0), 0);
  close_fd(&a[1]);  // writers gone, nothing left: never ready
  descriptor_set set;
  descriptor_set_add(&set, a[0]);
  poll_timeout t{1, 0};
  int n = -1;
  double s = seconds_of([&] { n = readiness_poll(a[0] + 1, &set, &t); });
  EXPECT_EQ(n, 0);
  EXPECT_GE(s, 0.95);
  EXPECT_EQ(t.sec, 0);
  EXPECT_EQ(t.usec, 0);
  EXPECT_EQ(set.count, 0u);
  poll_timeout zero{0, 999};
  s = seconds_of([&] { n = readiness_poll(0, &set, &zero); });
  EXPECT_LT(s, 0.5);
  close_fd(&a[0]);
}

TEST(ReadinessPoll, IdleWaitEndsWhenDataArrives) {
  int a[2];
  ASSERT_EQ(make_pipe(a, 0), 0);
  descriptor_set set;
  descriptor_set_add(&set, a[0]);
  poll_timeout t{1, 0};
  int n = -1;
  // Nothing arrives: the whole second passes.
  double s = seconds_of([&] { n = readiness_poll(a[0] + 1, &set, &t); });
  EXPECT_EQ(n, 0);
  EXPECT_GE(s, 0.95);
  // A writer that speaks a moment later ends the wait at once.
  set = descriptor_set{};
  descriptor_set_add(&set, a[0]);
  t = poll_timeout{1, 0};
  std::thread writer([&] {
    sleep_ms(200);
    ASSERT_EQ(write_all(a[1], "x", 1), 0);
  });
  s = seconds_of([&] { n = readiness_poll(a[0] + 1, &set, &t); });
  writer.join();
  EXPECT_EQ(n, 1);
  EXPECT_LT(s, 0.9);
  EXPECT_EQ(set.count, 1u);
  close_fd(&a[0]);
  close_fd(&a[1]);
}

TEST(ReadinessPoll, EntriesAtOrAboveTheBoundStay) {
  int a[2];
  ASSERT_EQ(make_pipe(a, 0), 0);
  ASSERT_EQ(write_all(a[1], "x", 1), 0);
  descriptor_set set;
  descriptor_set_add(&set, 1000);
  descriptor_set_add(&set, a[0]);
  poll_timeout t{0, 0};
  EXPECT_EQ(readiness_poll(a[0] + 1, &set, &t), 1);
  ASSERT_EQ(set.count, 2u);
  EXPECT_EQ(set.fds[0], 1000);
  EXPECT_EQ(set.fds[1], a[0]);
  close_fd(&a[0]);
  close_fd(&a[1]);
}

}  // namespace
